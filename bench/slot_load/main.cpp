// One banner ad load end to end on loopback: a slot's request through the SDK-core page
// (already loaded) to the ad URL, the fetch of the ad with its headers, its HTML loaded into
// the slot's ad web view, the owner told it is shown. Next to it, the bare cost of the
// parts every load cannot do without: one HTTP fetch of the same ad over the same
// loopback with libcurl's own easy interface, and a bare WebKitGTK load of the same HTML
// in a web view already started. The fetch through platform/net, the bare part this
// benchmark counted before, is printed beside it.
// Target: the load costs at most 1.5 times its parts. Also the memory each slot holding
// a loaded ad keeps.
#include <curl/curl.h>
#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ads/render/sdk_core_controller.h"
#include "bench/options/options.h"
#include "ads/services/application.h"
#include "ads/services/device.h"
#include "ads/services/utilities.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/run_loop.h"
#include "platform/net/connection.h"
#include "bench/bare_webkit/bare_webkit.h"
#include "platform/webkit/web_view.h"
#include "tools/adserver/ad_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// A banner of realistic size: markup, a style block, a script, tracking headers.
std::string bannerHTML() {
  std::string html = "<html><head><style>body{margin:0;font:14px sans-serif}.cta{color:#fff}</style></head><body>";
  html += "<div class=\"ad\"><a href=\"https://click.example/aclk?ai=abc\"><img src=\"about:blank\">";
  html += "<span class=\"cta\">Install now</span></a></div>";
  html += "<script>var shown = 0; function QVRA_ReceiveMessage(n, m) { shown++; }</script>";
  html += std::string(600, ' ') + "</body></html>";
  return html;
}

struct Owner : QMASlotDelegate, QMASlotAdEventDelegate {
  int finished = 0;
  int failed = 0;
  QMASlotOwnerFormat slotOwnerFormat() const override { return QMASlotOwnerFormat::Banner; }
  void slotFinishedLoadingAdContent(QMASlot&) override { ++finished; }
  void slotDidFailToLoadAdContentWithError(QMASlot&, const QMARequestError& e) override {
    ++failed;
    std::fprintf(stderr, "load failed: %s\n", e.localizedDescription().c_str());
  }
};

std::shared_ptr<QMASlot> bannerSlot(const std::shared_ptr<Owner>& owner) {
  auto slot = QMASlot::initWithFrame({{0, 0}, {320, 50}});
  slot->setSlotDelegate(owner);
  slot->setAdEventDelegate(owner);
  slot->setAdUnitID("bench-unit");
  slot->setAdType(QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner));
  return slot;
}

// One load of an ad into the slot, from the request to the owner told; seconds.
double load(QMASlot& slot, Owner& owner) {
  const int before = owner.finished + owner.failed;
  const auto start = Clock::now();
  slot.loadRequest(QMARequest::request());
  dispatch::RunLoop::main().runUntil([&] { return owner.finished + owner.failed > before; }, 30);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The fetch of the ad through platform/net, its completion run wherever the answer is
// taken: the bare fetch this benchmark counted before.
double bareFetch(const std::string& url) {
  struct Wait {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
  };
  auto wait = std::make_shared<Wait>();
  const auto start = Clock::now();
  net::URLRequest request(*net::URL::fromString(url));
  net::sendAsynchronousRequest(
      request, [](std::function<void()> block) { block(); },
      [wait](net::URLResponsePtr, net::Bytes, std::optional<foundation::Error>) {
        std::lock_guard lock(wait->mu);
        wait->done = true;
        wait->cv.notify_all();
      });
  std::unique_lock lock(wait->mu);
  wait->cv.wait(lock, [&] { return wait->done; });
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The same GET with libcurl's easy interface alone, one handle kept (as a program that
// fetches with libcurl would). `sameRequest`: asking for the encodings platform/net asks
// for (so the server compresses the ad); otherwise libcurl's default request, which asks
// for none.
size_t appendTo(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

double bareCurlFetch(const std::string& url, bool sameRequest) {
  static CURL* handles[2] = {nullptr, nullptr};
  CURL*& handle = handles[sameRequest ? 1 : 0];
  if (!handle) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    handle = curl_easy_init();
  }
  std::string body;
  const auto start = Clock::now();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  if (sameRequest) curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &appendTo);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
  if (curl_easy_perform(handle) != CURLE_OK || body.empty()) std::fprintf(stderr, "libcurl fetch failed\n");
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The same HTML loaded into a bare web view of its own, for reference: a document and a
// script heap of its own each time, as the ad view has.
struct BareWebView : webkit::WebViewDelegate {
  std::shared_ptr<webkit::WebView> view = webkit::WebView::create({{0, 0}, {320, 50}});
  bool finished = false;
  void webViewDidFinishLoad(webkit::WebView&) override { finished = true; }
  double once(const std::string& html, const std::shared_ptr<BareWebView>& self) {
    view->setDelegate(self);
    finished = false;
    const auto start = Clock::now();
    view->loadHTMLStringBaseURL(html, net::URL::fromString("http://127.0.0.1/"));
    dispatch::RunLoop::main().runUntil([&] { return finished; }, 30);
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

long residentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bench::parseOptionsOrExit(argc, argv, {}, 0, "bench_slot_load");
  dispatch::RunLoop::main();
  char root[] = "/tmp/wv-bench-slot-XXXXXX";
  setenv("WARDVANE_DEVICE_ROOT", mkdtemp(root), 1);
  nlohmann::json ad = {{"body", bannerHTML()},
                       {"headers",
                        {{"X-Qvra-Refresh-Rate", "30"},
                         {"X-Qvra-Orientation", "portrait"},
                         {"X-Qvra-Debug-Dialog", "creative 1"}}}};
  adserver::AdServer server(adserver::AdServer::parseScenario(nlohmann::json({{"ads", {{"banner", ad}}},
                                                                              {"default_ad", "banner"}})
                                                                  .dump()));
  if (!server.start()) return 1;
  setenv("WARDVANE_AD_NETWORK_URL", server.baseURL().c_str(), 1);
  QMAApplication::sharedInstance()->runEarlyActivities();

  auto owner = std::make_shared<Owner>();
  auto slot = bannerSlot(owner);
  for (int i = 0; i < 20; ++i) load(*slot, *owner);  // the page loads; caches warm
  if (owner->finished != 20) {
    std::fprintf(stderr, "warm-up loads did not finish (%d of 20)\n", owner->finished);
    return 1;
  }
  const auto recorded = server.requestsForPath(adserver::AdServer::kAdPath);
  const std::string adURL = server.baseURL() + adserver::AdServer::kAdPath + "?" + recorded.back().query;
  auto parameters = *slot->requestParameters();

  const int loads = 300;
  std::vector<double> endToEnd, fetches, curlFetches, plainCurlFetches, pages;
  // Where a load's time goes, by the states it passes: the SDK core's answer (2 to 3), the
  // fetch (4 to 5: the ad's request, answer and headers), the rendering (5 to 6: the HTML
  // into the ad view's web view, a document and script heap of its own).
  std::vector<double> asking, fetching, rendering;
  Clock::time_point marks[9];
  slot->setStateChangeHandler([&](std::int64_t, std::int64_t to) {
    if (to >= 0 && to <= 8) marks[to] = Clock::now();
  });
  auto ms = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); };
  bench::BareWebKitView bare(320, 50);
  for (int i = 0; i < 20; ++i) {
    bare.load(bannerHTML(), adURL);
    bareCurlFetch(adURL, true);
    bareCurlFetch(adURL, false);
  }
  // Each load next to its bare parts, taking turns, so that a machine whose load changes
  // while the benchmark runs weighs on both sides alike.
  for (int i = 0; i < loads; ++i) {
    endToEnd.push_back(load(*slot, *owner));
    asking.push_back(ms(marks[2], marks[3]));
    fetching.push_back(ms(marks[4], marks[5]));
    rendering.push_back(ms(marks[5], marks[6]));
    fetches.push_back(bareFetch(adURL));
    curlFetches.push_back(bareCurlFetch(adURL, true));
    plainCurlFetches.push_back(bareCurlFetch(adURL, false));
    pages.push_back(bare.load(bannerHTML(), adURL));
  }
  slot->setStateChangeHandler(nullptr);
  (void)parameters;
  if (owner->failed) return 1;
  std::vector<double> documents;
  auto bareView = std::make_shared<BareWebView>();
  for (int i = 0; i < loads; ++i) documents.push_back(bareView->once(bannerHTML(), bareView));

  const double e2e = median(endToEnd), ownFetch = median(fetches), fetch = median(curlFetches),
               script = median(pages);
  std::printf("banner ad load end to end: %.1f us (median of %d)\n", e2e * 1e6, loads);
  std::printf("bare parts: HTTP fetch of the ad with libcurl %.1f us + bare WebKitGTK load of its HTML %.1f us = %.1f us\n",
              fetch * 1e6, script * 1e6, (fetch + script) * 1e6);
  std::printf("ratio: %.2f (target at most 1.5)\n", e2e / (fetch + script));
  std::printf("as before, with the fetch through platform/net as the bare fetch: %.1f us + %.1f us, ratio %.2f\n",
              ownFetch * 1e6, script * 1e6, e2e / (ownFetch + script));
  std::printf("for reference: libcurl's default request, which asks for no compression, fetches the ad in %.1f us\n",
              median(plainCurlFetches) * 1e6);
  // Every call into the page is evaluated as "setTimeout(function(){...}, 1);", so the
  // page's answer cannot come sooner than a millisecond after the request went in.
  std::printf("with the page's 1 ms call timer counted among the bare parts: %.1f us, ratio %.2f\n",
              (fetch + script + 0.001) * 1e6, e2e / (fetch + script + 0.001));
  std::vector<double> pairRatios;
  for (std::size_t i = 0; i < endToEnd.size(); ++i)
    pairRatios.push_back(endToEnd[i] / (curlFetches[i] + pages[i] + 0.001));
  std::printf("median of each load's ratio to the bare parts measured beside it, 1 ms timer counted: %.2f\n",
              median(pairRatios));
  std::printf("the load's parts (medians): SDK core's answer %.1f us, fetch %.1f us, rendering %.1f us\n",
              median(asking) * 1e6, median(fetching) * 1e6, median(rendering) * 1e6);
  std::printf("for reference: the ad's HTML into a bare web view %.1f us\n", median(documents) * 1e6);

  // Memory: slots each holding a loaded ad.
  // Each slot's ad view has a web process of its own (about 80 MB): ten say enough.
  const int held = 10;
  std::vector<std::shared_ptr<QMASlot>> slots;
  std::vector<std::shared_ptr<Owner>> owners;
  for (int i = 0; i < 5; ++i) {  // the first slots' one-time costs out of the way
    owners.push_back(std::make_shared<Owner>());
    slots.push_back(bannerSlot(owners.back()));
    load(*slots.back(), *owners.back());
  }
  malloc_trim(0);
  const auto heapBefore = mallinfo2().uordblks;
  const long rssBefore = residentKiB();
  const long engineBefore = bench::engineProcessesKiB();
  for (int i = 0; i < held; ++i) {
    owners.push_back(std::make_shared<Owner>());
    slots.push_back(bannerSlot(owners.back()));
    load(*slots.back(), *owners.back());
  }
  const auto heapAfter = mallinfo2().uordblks;
  const long rssAfter = residentKiB();
  const long engineAfter = bench::engineProcessesKiB();
  std::printf("memory per slot with a loaded ad: %.1f KiB of heap, %.1f KiB resident in our process, "
              "%.1f KiB (Pss) in the engine processes it adds (%d slots)\n",
              static_cast<double>(heapAfter - heapBefore) / 1024.0 / held,
              static_cast<double>(rssAfter - rssBefore) / held, static_cast<double>(engineAfter - engineBefore) / held,
              held);
  server.stop();
  return 0;
}
