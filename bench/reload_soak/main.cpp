// Memory over many reloads of hostile pages: web views reloading a page that starts
// dozens of requests, draws, holds thousands of objects and a frame sent on by a redirect
// to another origin, the view itself replaced every tenth reload. Prints our process's
// resident size and its heap in use (live allocations) after a warm-up, halfway and at the
// end of the reloads, each after a pause in which the engine gives freed memory back (a
// few seconds after a page or a view goes), then after a malloc_trim of ours (what was left
// for it), and the time one malloc_trim takes right after a round of reloads. Heap in use
// that stops growing says nothing leaks per reload; resident size after the pause near
// what a malloc_trim leaves says the allocator's held pages went back to the system.
// With --endless each page also starts a picture that never ends after its load: its body
// streams through our process until the page goes, the way hostile banners raise the
// allocator's high-water mark.
#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/options/options.h"
#include "platform/dispatch/run_loop.h"
#include "platform/webkit/web_view.h"
#include "tools/adserver/ad_server.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "bench_reload_soak [RELOADS (258)] [--endless]\n"
    "  RELOADS: reloads measured after the warm-up, 1 to 100000; --endless: each page also starts a picture that\n"
    "  never ends";

struct Ends : webkit::WebViewDelegate {
  int ended = 0;
  int failed = 0;
  void webViewDidFinishLoad(webkit::WebView&) override { ++ended; }
  void webViewDidFailLoadWithError(webkit::WebView&, const foundation::Error&) override {
    ++ended;
    ++failed;
  }
};

long residentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

double heapInUseMiB() {
  const auto info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd) / (1 << 20);
}

void pause(double seconds) {
  const auto until = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < until) dispatch::RunLoop::main().runOnce(0.05);
}

void print(const char* when) {
  std::printf("%-38s resident %6.1f MiB, heap in use %6.2f MiB\n", when, residentKiB() / 1024.0, heapInUseMiB());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const auto options = bench::parseOptionsOrExit(argc, argv, {{"--endless", false}}, 1, kUsage);
  const int reloads =
      options.positional.empty()
          ? 258
          : static_cast<int>(bench::wholeNumberOrExit(argv[0], "RELOADS", options.positional[0], 1, 100000, kUsage));
  const bool endless = options.has("--endless");
  dispatch::RunLoop::main();
  std::string page = R"(<body style='margin:0'><canvas id=c width=300 height=250></canvas>
      <img src='/soak/picture.svg'><iframe src='/soak/to-other'></iframe><script>
      for (var i = 0; i < 60; i++) fetch('/soak/data.json?' + i).then(function (r) { return r.text(); });
      var g = document.getElementById('c').getContext('2d');
      for (var j = 0; j < 200; j++) { g.fillStyle = 'rgb(' + j + ',0,0)'; g.fillRect(j, j, 50, 50); }
      var kept = [];
      for (var k = 0; k < 2000; k++) kept.push({k: k, s: 'x'.repeat(100)});
      onload = function () { var p = new Image(); p.src = '/soak/endless.png'; document.body.appendChild(p); };
    </script></body>)";
  if (!endless) page.replace(page.find("onload = "), page.find("</script>") - page.find("onload = "), "");
  adserver::AdServer other(nlohmann::json{{"files", {{"/frame.html", {{"body", "<body>other</body>"}}}}}});
  if (!other.start()) return 1;
  adserver::AdServer server(nlohmann::json{
      {"files",
       {{"/soak/page.html", {{"body", page}}},
        {"/soak/data.json", {{"content_type", "application/json"}, {"body", "{\"ok\":1,\"pad\":\"" + std::string(200, '.') + "\"}"}}},
        {"/soak/picture.svg",
         {{"content_type", "image/svg+xml"},
          {"body", "<svg xmlns='http://www.w3.org/2000/svg' width='300' height='250'><rect width='300' height='250' fill='teal'/></svg>"}}},
        {"/soak/to-other", {{"status", 302}, {"headers", {{"Location", other.baseURL() + "/frame.html"}}}}},
        {"/soak/endless.png", {{"content_type", "image/png"}, {"endless", true}}}}}});
  if (!server.start()) return 1;

  auto ends = std::make_shared<Ends>();
  std::shared_ptr<webkit::WebView> view;
  const std::string url = server.baseURL() + "/soak/page.html";
  auto reload = [&](int i) {
    if (!view || i % 10 == 0) {
      view = webkit::WebView::create({{0, 0}, {300, 250}});
      view->setDelegate(ends);
    }
    const int before = ends->ended;
    view->loadRequest(net::URLRequest(*net::URL::fromString(url)));
    dispatch::RunLoop::main().runUntil([&] { return ends->ended > before; }, 60);
    // The servers keep every request they were sent: in this process, they would count.
    server.clearRequests();
    other.clearRequests();
  };
  for (int i = 0; i < 20; ++i) reload(i);  // the engine's and the first pages' one-time costs
  pause(3);
  print("after 20 reloads and a pause");
  const auto started = Clock::now();
  double halfway = 0;
  for (int i = 0; i < reloads; ++i) {
    reload(i);
    if (i + 1 != reloads / 2 && i + 1 != reloads) continue;
    char line[96];
    std::snprintf(line, sizeof line, "after %d more reloads (%.0f s)", i + 1,
                  std::chrono::duration<double>(Clock::now() - started).count());
    print(line);
    pause(5);
    print("  and a 5 s pause");
    if (i + 1 == reloads / 2) halfway = heapInUseMiB();
  }
  const double grown = heapInUseMiB() - halfway;
  malloc_trim(0);
  print("after a malloc_trim of ours");

  // The cost of one return of freed memory, at the end of a round of reloads.
  std::vector<double> costs;
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < 20; ++i) reload(i);
    const auto t0 = Clock::now();
    malloc_trim(0);
    costs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  std::sort(costs.begin(), costs.end());
  std::printf("one malloc_trim after 20 reloads: median %.1f ms, longest %.1f ms (5 rounds)\n", costs[2], costs[4]);
  std::printf("loads that failed: %d of %d\n", ends->failed, ends->ended);
  std::printf("heap in use from halfway to the end: %+.2f MiB over %d reloads (target: about 0, nothing kept per page)\n",
              grown, reloads - reloads / 2);
  view.reset();
  server.stop();
  other.stop();
  return 0;
}
