#pragma once
// The native-ad tests: the slot tests' ad network (an in-process ad server on 127.0.0.1
// with the hand clock), a host delegate that adopts every loader protocol and records what
// it hears, and native ad JSON made from small pieces.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ads/slots/native/ad_loader.h"
#include "ads/slots/native/native_content_ads.h"
#include "ads/slots/native/native_custom_template_ad.h"
#include "ads/slots/slot_test_support.h"
#include "platform/foundation/json.h"

namespace native_test {

struct Host : QMANativeContentAdLoaderDelegate,
              QMANativeAppInstallAdLoaderDelegate,
              QMANativeCustomTemplateAdLoaderDelegate {
  std::vector<std::string> heard;
  std::vector<QMARequestError> errors;
  std::shared_ptr<QMANativeContentAd> content;
  std::shared_ptr<QMANativeAppInstallAd> appInstall;
  std::shared_ptr<QMANativeCustomTemplateAd> custom;
  std::optional<foundation::Array> templateIDs = foundation::Array{"10063"};

  void adLoaderDidFailToReceiveAdWithError(QMAAdLoader&, const QMARequestError& e) override {
    heard.push_back("fail " + std::to_string(e.code));
    errors.push_back(e);
  }
  void adLoaderDidReceiveNativeContentAd(QMAAdLoader&, const std::shared_ptr<QMANativeContentAd>& ad) override {
    heard.push_back("content");
    content = ad;
  }
  void adLoaderDidReceiveNativeAppInstallAd(QMAAdLoader&, const std::shared_ptr<QMANativeAppInstallAd>& ad) override {
    heard.push_back("appInstall");
    appInstall = ad;
  }
  std::optional<foundation::Array> nativeCustomTemplateIDsForAdLoader(QMAAdLoader&) override { return templateIDs; }
  void adLoaderDidReceiveNativeCustomTemplateAd(QMAAdLoader&, const std::shared_ptr<QMANativeCustomTemplateAd>& ad) override {
    heard.push_back("custom");
    custom = ad;
  }
};

// A delegate of content ads only.
struct ContentHost : QMANativeContentAdLoaderDelegate {
  std::vector<std::string> heard;
  void adLoaderDidFailToReceiveAdWithError(QMAAdLoader&, const QMARequestError& e) override {
    heard.push_back("fail " + std::to_string(e.code));
  }
  void adLoaderDidReceiveNativeContentAd(QMAAdLoader&, const std::shared_ptr<QMANativeContentAd>&) override {
    heard.push_back("content");
  }
};

// Records the loading delegate's messages.
struct LoadRecorder : QMANativeAdLoadDelegate {
  std::vector<std::string> heard;
  void nativeAdDidFinishLoadingAssets(QMANativeAd&) override { heard.push_back("finished"); }
  void nativeAdDidFailToLoadRequiredAssets(QMANativeAd&) override { heard.push_back("failed"); }
};

inline foundation::Dictionary dict(const nlohmann::json& j) {
  auto v = foundation::jsonParse(j.dump());
  return v && v->asDictionary() ? *v->asDictionary() : foundation::Dictionary{};
}

// Image objects on the ad server: "ok" names give a picture, others an empty answer.
inline nlohmann::json image(const std::string& name, bool require = true) {
  return {{"url", "{base}/qads/static/img/" + name}, {"require", require}};
}

inline nlohmann::json contentAd() {
  return {{"template_id", 1},
          {"headline", "Fresh bread"},
          {"body", "Baked daily"},
          {"call_to_action", "Order"},
          {"advertiser", "Bakery"},
          {"tracking_urls_and_actions",
           {{"impression_tracking_urls", {"{base}/imp/native?n=1"}},
            {"quillon_click_tracking_url", "{base}/click/native"}}}};
}

struct NativeFixture : slots_test::SlotFixture {
  std::shared_ptr<Host> host = std::make_shared<Host>();

  // Serves this native response for every ad request.
  void serveNative(const nlohmann::json& body, nlohmann::json extra = nlohmann::json::object()) {
    nlohmann::json scenario = {{"ads", {{"native", {{"response_type", "native"}, {"body", body.dump()}}}}},
                               {"default_ad", "native"}};
    scenario.update(extra);
    useScenario(scenario);
  }
  std::shared_ptr<QMAAdLoader> makeLoader(const foundation::Array& types,
                                          const std::optional<std::vector<std::any>>& options = std::nullopt) {
    auto loader = QMAAdLoader::initWithAdUnitIDRootViewControllerAdTypesOptions("unit-1", nullptr, types, options);
    if (loader) loader->setDelegate(host);
    return loader;
  }
  bool pumpUntilHeard(std::size_t n = 1) {
    return pump([&] { return host->heard.size() >= n; });
  }
  // Makes the ad server's address out of "{base}" in a JSON text.
  std::string withBase(std::string text) const {
    const std::string base = server->baseURL();
    for (auto at = text.find("{base}"); at != std::string::npos; at = text.find("{base}", at + base.size()))
      text.replace(at, 6, base);
    return text;
  }
  foundation::Dictionary adObject(const nlohmann::json& j) const {
    auto v = foundation::jsonParse(withBase(j.dump()));
    return v && v->asDictionary() ? *v->asDictionary() : foundation::Dictionary{};
  }
};

}  // namespace native_test
