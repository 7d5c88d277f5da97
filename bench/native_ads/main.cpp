// Turning 1,000 native ad responses into native ad objects (reading the JSON into the
// component's values, finding the ad's kind and building it with its images, attribution
// and tracking keys; the support page left out), next to parsing the same JSON texts alone
// with nlohmann-json. The target is at most 2 times the bare parse.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ads/services/utilities.h"
#include "bench/options/options.h"
#include "ads/slots/native/ad_loader.h"

namespace {

std::string response(int i) {
  const std::string n = std::to_string(i);
  const std::string base = "https://ads.wardvane.invalid/";
  nlohmann::json ad;
  switch (i % 3) {
    case 0:
      ad = {{"type", "native"},
            {"template_id", 1},
            {"headline", "Fresh bread number " + n},
            {"body", "Baked daily in the old town, delivered warm to your door before breakfast."},
            {"call_to_action", "Order now"},
            {"advertiser", "Bakery " + n},
            {"images", {{{"url", base + "img/photo" + n + ".png"}, {"scale", 2}}}},
            {"secondary_image", {{"url", base + "img/logo" + n + ".png"}}}};
      break;
    case 1:
      ad = {{"type", "native"},
            {"template_id", 2},
            {"headline", "Puzzle game " + n},
            {"body", "Hundreds of levels, no time limits."},
            {"call_to_action", "Install"},
            {"store", "App Store"},
            {"price", "Free"},
            {"rating", 4.5},
            {"app_icon", {{"url", base + "img/icon" + n + ".png"}}},
            {"images", {{{"url", base + "img/shot" + n + ".png"}}}}};
      break;
    default:
      ad = {{"type", "native"},
            {"template_id", 3},
            {"custom_template_id", "10063"},
            {"custom_assets",
             {{{"name", "title"}, {"type", "string"}, {"string_value", "Title " + n}},
              {{"name", "subtitle"}, {"type", "string"}, {"string_value", "A longer line of text for the ad"}},
              {{"name", "hero"}, {"type", "image"}, {"image_value", {{"url", base + "img/hero" + n + ".png"}}}}}}};
  }
  ad["attribution"] = {{"text", "Ad"},
                       {"image", {{"url", base + "img/badge.png"}}},
                       {"text_color", {{"r", 255}, {"g", 255}, {"b", 255}}}};
  ad["tracking_urls_and_actions"] = {
      {"impression_tracking_urls", {base + "imp?n=" + n, base + "imp2?n=" + n}},
      {"quillon_click_tracking_url", base + "click?n=" + n},
      {"third_party_click_tracking_urls", {base + "third?n=" + n}},
      {"click_actions", {{{"a", "browser"}, {"u", base + "landing/" + n}}}}};
  return nlohmann::json({{"ads", {ad}}}).dump();
}

template <class F>
double medianMicroseconds(F&& f, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  bench::parseOptionsOrExit(argc, argv, {}, 0, "bench_native_ads");
  std::vector<std::string> responses;
  std::size_t bytes = 0;
  for (int i = 0; i < 1000; ++i) {
    responses.push_back(response(i));
    bytes += responses.back().size();
  }
  std::size_t sink = 0;

  const double parse = medianMicroseconds(
      [&] {
        for (const auto& text : responses) sink += nlohmann::json::parse(text).size();
      },
      31);
  const double build = medianMicroseconds(
      [&] {
        for (const auto& text : responses) {
          auto configuration = qma_decodedJSONObjectError(text);
          auto name = QMANativeAd::classFromAdConfigurationDictionary(configuration);
          const QMANativeAdClass* cls = name ? QMANativeAdClassNamed(*name) : nullptr;
          auto adObject = QMANativeAd::firstAdObjectInAdConfigurationDictionary(configuration);
          if (!cls || !adObject) std::abort();
          auto ad = cls->initWithDictionaryOptions(std::move(*adObject), std::nullopt);
          if (!ad) std::abort();
          sink += ad->impressionTrackingURLs().size();
        }
      },
      31);

  std::printf("responses: 1000, %zu bytes of JSON\n", bytes);
  std::printf("nlohmann-json parse alone: %9.1f us\n", parse);
  std::printf("native ad objects:         %9.1f us\n", build);
  std::printf("ratio native ads/parse: %.2f (target <= 2)\n", build / parse);
  return sink == 0;
}
