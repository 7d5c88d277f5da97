// One HTTP fetch through platform/net next to the same fetch through libcurl's own easy
// interface, against one cpp-httplib server on 127.0.0.1 that keeps connections alive:
// a small answer (16 bytes) and a large one (256 KiB). platform/net is measured as its
// callers use it: a connection with a delegate on the main run loop, and the block form
// with its completion on the main run loop. libcurl is measured with a new easy handle
// for every fetch (a new connection each time) and with one handle reused (its
// connection kept alive), making the same request (the same accepted encodings).
// Target: every ratio at most 1.3.
//
//   bench_net_fetch [ROUNDS]           all of it (default 100 rounds)
//   bench_net_fetch --only NAME [N]    N fetches of one kind alone (100), for a profiler
//                                      (NAME: delegate-small, block-large, easy-new-small...)
#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/options/options.h"
#include "platform/dispatch/run_loop.h"
#include "platform/net/connection.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kSmall = 16;
constexpr size_t kLarge = 256 * 1024;

// Where an easy fetch puts the body: room for all of it taken once, as a careful program
// would, from the length the answer announces.
struct Sink {
  CURL* handle;
  std::string body;
};

size_t appendTo(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  if (sink->body.empty()) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(sink->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0)
      sink->body.reserve(static_cast<size_t>(length));
  }
  sink->body.append(data, size * count);
  return size * count;
}

// libcurl's easy interface, as a program that uses it alone would.
class Easy {
 public:
  explicit Easy(bool reuse) : reuse_(reuse) {}
  ~Easy() {
    if (handle_) curl_easy_cleanup(handle_);
  }
  Easy(const Easy&) = delete;
  Easy& operator=(const Easy&) = delete;

  size_t fetch(const std::string& url) {
    if (!handle_) handle_ = curl_easy_init();
    Sink sink{handle_, {}};
    curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &appendTo);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle_, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");  // as platform/net asks
    CURLcode rc = curl_easy_perform(handle_);
    if (!reuse_) {
      curl_easy_cleanup(handle_);
      handle_ = nullptr;
    }
    return rc == CURLE_OK ? sink.body.size() : 0;
  }

 private:
  bool reuse_;
  CURL* handle_ = nullptr;
};

struct Collector : net::URLConnectionDelegate {
  size_t bytes = 0;
  int status = 0;
  bool done = false;
  void connectionDidReceiveResponse(net::URLConnection&, const net::URLResponsePtr& r) override {
    status = r->statusCode;
  }
  void connectionDidReceiveData(net::URLConnection&, const net::Bytes& d) override { bytes += d.size(); }
  void connectionDidFinishLoading(net::URLConnection&) override { done = true; }
  void connectionDidFailWithError(net::URLConnection&, const net::Error& e) override {
    std::fprintf(stderr, "load failed: %s\n", e.localizedDescription().c_str());
    done = true;
  }
};

// A connection with a delegate, reporting on the main run loop, which this thread runs.
size_t fetchWithDelegate(const std::string& url) {
  auto collector = std::make_shared<Collector>();
  auto connection = net::URLConnection::create(net::URLRequest(*net::URL::fromString(url)), collector,
                                               net::deliverOnRunLoop(dispatch::RunLoop::main()));
  connection->start();
  dispatch::RunLoop::main().runUntil([&] { return collector->done; }, 30);
  return collector->status == 200 ? collector->bytes : 0;
}

// The block form, its completion on the main run loop.
size_t fetchWithBlock(const std::string& url) {
  bool done = false;
  size_t bytes = 0;
  net::sendAsynchronousRequest(net::URLRequest(*net::URL::fromString(url)),
                               net::deliverOnRunLoop(dispatch::RunLoop::main()),
                               [&](net::URLResponsePtr response, net::Bytes data, std::optional<net::Error>) {
                                 if (response && response->statusCode == 200) bytes = data.size();
                                 done = true;
                               });
  dispatch::RunLoop::main().runUntil([&] { return done; }, 30);
  return bytes;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Kind {
  std::string name;
  std::function<size_t(const std::string&)> fetch;
};

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage =
      "bench_net_fetch [ROUNDS (100)] | bench_net_fetch --only KIND-SIZE [FETCHES (100)]\n"
      "  KIND: delegate, block, easy-new, easy-reused; SIZE: small, large";
  const auto options = bench::parseOptionsOrExit(argc, argv, {{"--only", true}}, 1, kUsage);
  const std::optional<std::string> only = options.value("--only");
  if (only) {
    bool known = false;
    for (const char* kind : {"delegate", "block", "easy-new", "easy-reused"})
      for (const char* size : {"small", "large"}) known = known || *only == std::string(kind) + "-" + size;
    if (!known) bench::refuse("bench_net_fetch", "--only names no kind of fetch: \"" + *only + "\"", kUsage);
  }
  const int count = options.positional.empty()
                        ? 100
                        : static_cast<int>(bench::wholeNumberOrExit("bench_net_fetch", only ? "FETCHES" : "ROUNDS",
                                                                    options.positional[0], 1, 1000000, kUsage));
  dispatch::RunLoop::main();
  curl_global_init(CURL_GLOBAL_DEFAULT);

  httplib::Server server;
  // Keep-alive as a real ad server would allow it: many requests a connection. No Nagle
  // delay on the server's writes, so the clients' own costs show.
  server.set_keep_alive_max_count(1000000);
  server.set_keep_alive_timeout(1);
  server.set_tcp_nodelay(true);
  const std::string small(kSmall, 's'), large(kLarge, 'l');
  // A type the server sends as it is: compressing is the server's time, not the client's.
  server.Get("/small", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(small, "application/octet-stream");
  });
  server.Get("/large", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(large, "application/octet-stream");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  if (port <= 0) return 1;
  std::thread serverThread([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::yield();
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  const std::map<std::string, std::pair<std::string, size_t>> answers = {{"small", {base + "/small", kSmall}},
                                                                         {"large", {base + "/large", kLarge}}};

  Easy easyNew(false), easyReused(true);
  std::vector<Kind> kinds = {
      {"delegate", fetchWithDelegate},
      {"block", fetchWithBlock},
      {"easy-new", [&](const std::string& url) { return easyNew.fetch(url); }},
      {"easy-reused", [&](const std::string& url) { return easyReused.fetch(url); }},
  };

  int status = 0;
  if (only) {
    for (auto& kind : kinds)
      for (const auto& [size, answer] : answers)
        if (kind.name + "-" + size == *only) {
          std::vector<double> times;
          for (int i = 0; i < count; ++i) {
            const auto start = Clock::now();
            if (kind.fetch(answer.first) != answer.second) status = 1;
            times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
          }
          std::printf("%s: %.1f us (median of %d)\n", only->c_str(), median(times) * 1e6, count);
        }
  } else {
    const int rounds = count;
    // Rounds of every kind in turn, so a machine busy with other work slows all alike.
    // A ratio is taken within each round (medians of the round's fetches) and the median
    // of the rounds' ratios is printed: a burst of load elsewhere moves one round, not the
    // comparison.
    std::map<std::string, std::vector<double>> times;     // every fetch
    std::map<std::string, std::vector<double>> roundMedians;
    for (int round = -2; round < rounds; ++round) {  // two rounds to warm up
      for (const auto& [size, answer] : answers) {
        const int perRound = size == "small" ? 10 : 5;
        for (auto& kind : kinds) {
          std::vector<double> thisRound;
          for (int i = 0; i < perRound; ++i) {
            const auto start = Clock::now();
            const size_t got = kind.fetch(answer.first);
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            if (got != answer.second) {
              std::fprintf(stderr, "%s fetch of %s: %zu bytes\n", kind.name.c_str(), size.c_str(), got);
              status = 1;
            }
            thisRound.push_back(seconds);
          }
          if (round < 0) continue;
          const std::string key = kind.name + "-" + size;
          times[key].insert(times[key].end(), thisRound.begin(), thisRound.end());
          roundMedians[key].push_back(median(thisRound));
        }
      }
    }
    auto ratio = [&](const std::string& a, const std::string& b) {
      std::vector<double> ratios;
      for (size_t i = 0; i < roundMedians[a].size(); ++i) ratios.push_back(roundMedians[a][i] / roundMedians[b][i]);
      return median(ratios);
    };
    for (const char* size : {"small", "large"}) {
      const std::string s = size;
      std::printf("%s answer (%zu bytes), medians of %zu fetches: libcurl easy, new handle %.1f us; reused handle %.1f us\n",
                  size, answers.at(s).second, times["easy-new-" + s].size(), median(times["easy-new-" + s]) * 1e6,
                  median(times["easy-reused-" + s]) * 1e6);
      for (const char* kind : {"delegate", "block"}) {
        const std::string key = std::string(kind) + "-" + s;
        std::printf("  %-8s on the main run loop %8.1f us   ratio %.2f to a new handle, %.2f to a reused one\n", kind,
                    median(times[key]) * 1e6, ratio(key, "easy-new-" + s), ratio(key, "easy-reused-" + s));
      }
    }
    std::printf("(ratios: medians over %d rounds of each round's own ratio)\n", rounds);
    std::printf("target: every ratio at most 1.3\n");
  }
  server.stop();
  serverThread.join();
  return status;
}
