// What a page's transfer costs the thread that starts, cancels or finishes it while many
// others are held: 10, 1,000 and 15,000 requests of pages to a 127.0.0.1 server that takes
// connections and never answers (six of them out, the rest waiting in the pages' line).
// For each count, the time per call on the main run loop's thread:
//   add      starting one more page request (it waits in line)
//   cancel   cancelling one that waits
//   fetch    a whole page fetch of 16 bytes from another 127.0.0.1 server (it goes out,
//            is answered and finishes, freeing its slot) while the others wait
//   drop     cancelling all of them, newest first, per request
// Target: each figure about the same at 15,000 as at 10.
//
//   bench_pages_line [rounds]   (default 3 rounds; the best round of each figure is shown)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/net/connection.h"
#include "platform/net/test_server.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Quiet : net::URLConnectionDelegate {
  bool done = false;
  void connectionDidFinishLoading(net::URLConnection&) override { done = true; }
  void connectionDidFailWithError(net::URLConnection&, const foundation::Error&) override { done = true; }
};

double microsSince(Clock::time_point start, std::size_t calls) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / static_cast<double>(calls);
}

std::shared_ptr<net::URLConnection> startPageLoad(const std::string& url, const std::shared_ptr<Quiet>& delegate,
                                                  dispatch::RunLoop& loop) {
  net::URLRequest r(*net::URL::fromString(url));
  r.waitsInPagesLine = true;
  auto c = net::URLConnection::create(std::move(r), delegate, net::deliverOnRunLoop(loop));
  c->startImmediately();
  return c;
}

struct Figures {
  double add = 1e9, cancel = 1e9, fetch = 1e9, drop = 1e9;
};

void measure(std::size_t held, net::testing::SilentServer& silent, net::testing::TestServer& answering,
             dispatch::RunLoop& loop, Figures& best) {
  auto quiet = std::make_shared<Quiet>();
  std::vector<std::shared_ptr<net::URLConnection>> loads;
  loads.reserve(held);
  auto start = Clock::now();
  for (std::size_t i = 0; i < held; ++i) loads.push_back(startPageLoad(silent.url("/" + std::to_string(i)), quiet, loop));
  best.add = std::min(best.add, microsSince(start, held));

  constexpr std::size_t kCancels = 1000;
  start = Clock::now();
  for (std::size_t i = 0; i < kCancels; ++i) startPageLoad(silent.url("/extra"), quiet, loop)->cancel();
  best.cancel = std::min(best.cancel, microsSince(start, kCancels));

  constexpr std::size_t kFetches = 200;
  start = Clock::now();
  for (std::size_t i = 0; i < kFetches; ++i) {
    auto fetched = std::make_shared<Quiet>();
    auto c = startPageLoad(answering.url("/small"), fetched, loop);
    if (!loop.runUntil([&] { return fetched->done; }, 10)) {
      std::fprintf(stderr, "a fetch did not end\n");
      std::exit(1);
    }
  }
  best.fetch = std::min(best.fetch, microsSince(start, kFetches));

  start = Clock::now();
  for (auto it = loads.rbegin(); it != loads.rend(); ++it) (*it)->cancel();
  best.drop = std::min(best.drop, microsSince(start, held));
  loop.drain();
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  net::testing::SilentServer silent;
  net::testing::TestServer answering;
  answering.server().Get("/small", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(16, 's'), "application/octet-stream");
  });
  answering.start();
  dispatch::RunLoop& loop = dispatch::RunLoop::main();

  std::printf("%-8s %10s %10s %10s %10s   (microseconds a call, best of %d rounds)\n", "held", "add", "cancel",
              "fetch", "drop", rounds);
  for (std::size_t held : {std::size_t{10}, std::size_t{1000}, std::size_t{15000}}) {
    Figures best;
    for (int round = 0; round < rounds; ++round) measure(held, silent, answering, loop, best);
    std::printf("%-8zu %10.2f %10.2f %10.2f %10.2f\n", held, best.add, best.cancel, best.fetch, best.drop);
  }
  return 0;
}
