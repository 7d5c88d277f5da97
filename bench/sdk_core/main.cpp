// One ad request's round trip through the SDK-core page (the JavaScript call, the page's
// work, the "qomb" answer parsed and delivered on the main queue), next to the bare cost
// of the same round trip in a bare WebKitGTK web view holding the same page script: the
// call evaluated, and its answer posted back through a script message handler.
// Requests go in batches, as slots make them; the per-request figure is the batch's time
// over its size; ours and the bare one take turns. Target: ours costs at most twice the bare one.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ads/render/sdk_core_controller.h"
#include "bench/options/options.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/run_loop.h"
#include "bench/bare_webkit/bare_webkit.h"
#include "platform/webkit/web_view.h"
#include "tools/adserver/ad_server.h"

namespace {

using Clock = std::chrono::steady_clock;

foundation::Dictionary parameters() {
  foundation::Dictionary p;
  const char* keys[] = {"slotname", "format", "sdk_version", "os_version", "app_name", "u_w", "u_h", "msid",
                        "js", "seq_num", "preqs", "session_id", "u_so", "u_tz", "hl", "net", "carrier", "cap"};
  for (const char* k : keys) p[k] = std::string("value of ") + k + " with spaces & symbols;=";
  return p;
}

struct Requester : QMASDKCoreControllerDelegate {
  std::string id;
  int* answered;
  long CSIIdentifier() override { return 1; }
  void setRequestID(const std::string& requestID) override { id = requestID; }
  std::optional<foundation::Dictionary> requestParameters() override {
    auto p = parameters();
    p["request_id"] = id;
    return p;
  }
  long requestedAdType() override { return 1; }
  void loadAdURLWithParameters(const foundation::Dictionary&) override { ++*answered; }
  void loadAdHeaders(const std::shared_ptr<QMAAd>&, const std::optional<foundation::Dictionary>&) override {}
  void invalidJavaScriptRequest() override {}
  void failedJavaScriptFile() override {}
};

// From the request's call going to the page (its ID, its JSON, the command queue) to the
// answer delivered to the requester on the main queue; the page is loaded already.
double roundTrip(QMASDKCoreController& controller, int batch, bool viaBuild = false) {
  int answered = 0;
  std::vector<std::shared_ptr<Requester>> requesters;
  for (int i = 0; i < batch; ++i) {
    auto r = std::make_shared<Requester>();
    r->answered = &answered;
    requesters.push_back(r);
  }
  const auto start = Clock::now();
  for (auto& r : requesters) {
    if (viaBuild) controller.buildAdURL(r);
    else controller.asynchronouslyRequestURLForDelegate(r);
  }
  dispatch::RunLoop::main().runUntil([&] { return answered == batch; }, 60);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (answered != batch) std::fprintf(stderr, "only %d of %d answered\n", answered, batch);
  return seconds / batch;
}

double bare(bench::BareWebKitView& view, int batch) {
  // The page answers each request ID once: every batch has IDs of its own.
  static long nextID = 1;
  std::vector<std::string> calls;
  for (int i = 0; i < batch; ++i) {
    auto p = parameters();
    p["request_id"] = std::to_string(nextID++);
    calls.push_back("QVRA_getAd(" + *qma_JSONStringPretty(p, false) + ");");
  }
  // Each call's answer comes back through the bridge channel, as the SDK-core page's do.
  return view.evaluateAll(calls, batch) / batch;
}

// The first web view of the process: the engine loaded and started (display server, GTK,
// its processes) and a page fetched from the server shown, as the SDK-core page is. Also
// the longest the main thread was held in one go meanwhile (the engine's start, which
// waits for the display server if it is not up yet).
struct FirstWebView {
  double seconds = 0;
  double longestPass = 0;
};

FirstWebView firstWebView(const std::string& url) {
  struct Done : webkit::WebViewDelegate {
    bool finished = false;
    void webViewDidFinishLoad(webkit::WebView&) override { finished = true; }
    void webViewDidFailLoadWithError(webkit::WebView&, const foundation::Error&) override { finished = true; }
  };
  FirstWebView out;
  const auto start = Clock::now();
  auto view = webkit::WebView::create({{0, 0}, {320, 50}});
  auto done = std::make_shared<Done>();
  view->setDelegate(done);
  view->loadRequest(net::URLRequest(*net::URL::fromString(url)));
  while (!done->finished && Clock::now() - start < std::chrono::seconds(60)) {
    const auto pass = Clock::now();
    dispatch::RunLoop::main().runOnce(0.05);
    out.longestPass = std::max(out.longestPass, std::chrono::duration<double>(Clock::now() - pass).count());
  }
  out.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  bench::parseOptionsOrExit(argc, argv, {}, 0, "bench_sdk_core");
  adserver::AdServer server;
  if (!server.start()) return 1;
  setenv("WARDVANE_AD_NETWORK_URL", server.baseURL().c_str(), 1);
  const auto first = firstWebView(server.baseURL() + "/qads/static/sdk/native/sdk-core-v40.html");
  std::printf("first web view (engine loaded and started, a page fetched and shown): %.1f ms; "
              "the main thread held at most %.1f ms in one go\n",
              first.seconds * 1e3, first.longestPass * 1e3);
  auto controller = QMASDKCoreController::create();
  roundTrip(*controller, 10, true);  // loads the page and its constants
  const int batch = 200;
  const int rounds = 20;
  const std::string config = "var QVRA_CONFIG = {\"ad_path\":\"/qads/ad\",\"answers\":[],\"constants\":{}};";
  bench::BareWebKitView bareView(320, 50);
  bareView.load("<html><head><script>" + config + "</script><script>" + adserver::sdkCorePageScript() +
                    "</script></head><body></body></html>",
                "http://127.0.0.1/qads/static/sdk/native/sdk-core-v40.html");
  // Ours and the bare one take turns, so that both meet the same load of a shared machine;
  // each turn's ratio compares batches run side by side.
  double best = 1e9, bestBare = 1e9, withIntake = 1e9;
  std::vector<double> ratios, intakeRatios;
  for (int i = 0; i < rounds; ++i) {
    const double ours = roundTrip(*controller, batch);
    const double reference = bare(bareView, batch);
    const double intake = roundTrip(*controller, batch, true);
    best = std::min(best, ours);
    bestBare = std::min(bestBare, reference);
    withIntake = std::min(withIntake, intake);
    ratios.push_back(ours / reference);
    intakeRatios.push_back(intake / reference);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("round trip per request: %.1f us (batches of %d, best of %d)\n", best * 1e6, batch, rounds);
  std::printf("bare WebKitGTK round trip of the same call (evaluated, answered through a script message handler) "
              "per request: %.1f us\n",
              bestBare * 1e6);
  std::printf("ratio: %.2f of the best batches, %.2f the median of the turns (target at most 2)\n", best / bestBare,
              median(ratios));
  std::printf("with the controller's intake (buildAdURL, load check, waiting list): %.1f us, ratio %.2f, median %.2f\n",
              withIntake * 1e6, withIntake / bestBare, median(intakeRatios));
  server.stop();
  return 0;
}
