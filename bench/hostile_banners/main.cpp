// Banners loading together in one adhost, on the real clock, against adserver and a
// 127.0.0.1 server that takes connections and never answers. Four rounds, each in a fresh
// adhost: twenty plain banners (the yardstick); one creative that starts 15,000 requests
// to that server with a plain banner meanwhile; twenty hostile banners (that creative,
// four that start 2,000 requests each, five with a picture that never ends, five whose
// answer never ends, five plain); five creatives of 15,000 requests each with five plain
// banners. While they load the host is asked one command after another (`clock`, and
// `events NAME` to see which ads ended): how long each command took to be answered, when
// each ad ended (shown or failed) and how, the most descriptors adhost held, and what was
// left in the pages' line.
// Target: every command answered within a second; every ad ended within its documented
// bounds (here: seconds, well inside its 60 s silence and 600 s resource bounds).
//
//   bench_hostile_banners [seconds]   (the most real time to wait for a round's ads; default 120)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/net/test_server.h"
#include "tools/adhost/hostile_requests_scenario.h"
#include "tools/adserver/ad_server.h"
#include "tools/testsupport/spawn_on_pipes.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBurst = 15000;

struct Kind {
  const char* unit;
  int count;
};
using Mix = std::vector<Kind>;
const Mix kPlain = {{"plain", 20}};
const Mix kOneBurst = {{"burst", 1}, {"plain", 1}};
const Mix kHostile = {{"burst", 1}, {"small-burst", 4}, {"endless-picture", 5}, {"endless-answer", 5}, {"plain", 5}};
const Mix kBursts = {{"burst", 5}, {"plain", 5}};

class Host {
 public:
  Host(const std::string& root, const std::string& network) {
    program_ = testsupport::spawnOnPipes(ADHOST_PATH, {"--wait-limit", "45"},
                                         {"WARDVANE_DEVICE_ROOT=" + root, "WARDVANE_AD_NETWORK_URL=" + network, "TZ=UTC"},
                                         root + "/adhost.stderr");
    if (program_.pid < 0) {
      std::fprintf(stderr, "adhost did not start\n");
      std::exit(1);
    }
  }
  ~Host() {
    send("quit");
    close(program_.toChild);
    close(program_.fromChild);
  }
  // The answer, and how long it took in milliseconds.
  std::string send(const std::string& command, double* ms = nullptr) {
    const auto start = Clock::now();
    const std::string line = command + "\n";
    if (write(program_.toChild, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return "<closed>";
    std::string answer;
    if (lines_.next(program_.fromChild, std::chrono::seconds(60), answer) != testsupport::LineReader::Status::Line)
      answer = "<no answer>";
    const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (ms) *ms = took;
    latencies_.push_back(took);
    if (took > slowest_.first) slowest_ = {took, command};
    return answer;
  }
  int descriptors() const {
    std::error_code error;
    int n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(program_.pid) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
      ++n;
    return n;
  }
  std::vector<double>& latencies() { return latencies_; }
  std::pair<double, std::string>& slowest() { return slowest_; }

 private:
  testsupport::SpawnedProgram program_;
  testsupport::LineReader lines_;
  std::vector<double> latencies_;
  std::pair<double, std::string> slowest_{0, ""};
};

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

// Loads the banners of `mix` at once in a fresh adhost and prints what it saw.
void run(const char* title, const Mix& mix, double limit, net::testing::SilentServer& silent,
         adserver::AdServer& server) {
  const auto root = std::filesystem::temp_directory_path() / ("wv-bench-hostile-" + std::to_string(getpid()));
  std::filesystem::create_directories(root);
  int most = 0;
  {
    Host host(root.string(), server.baseURL());
    host.send("screen");
    const int usual = host.descriptors();
    host.latencies().clear();
    host.slowest() = {0, ""};

    struct Ad {
      std::string name, unit, ending;
      double endedAfter = -1;
    };
    std::vector<Ad> ads;
    for (const auto& kind : mix)
      for (int i = 0; i < kind.count; ++i) ads.push_back({std::string(kind.unit) + "-" + std::to_string(i), kind.unit, "", -1});
    for (const auto& ad : ads) host.send("banner " + ad.name + " unit " + ad.unit);
    const auto start = Clock::now();
    for (const auto& ad : ads) host.send("load " + ad.name);

    std::size_t ended = 0;
    for (std::size_t turn = 0; ended < ads.size(); ++turn) {
      const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
      if (elapsed > limit) break;
      host.send("clock");
      most = std::max(most, host.descriptors());
      Ad& ad = ads[turn % ads.size()];
      if (ad.endedAfter >= 0) continue;
      const std::string events = host.send("events " + ad.name);
      for (const char* ending : {"adViewDidReceiveAd:", "didFailToReceiveAdWithError"}) {
        if (events.find(ending) == std::string::npos) continue;
        ad.endedAfter = elapsed;
        ad.ending = ending;
        ++ended;
        break;
      }
    }
    const auto& l = host.latencies();
    std::printf("== %s\n", title);
    std::printf("commands answered: %zu; median %.1f ms, 95th percentile %.1f ms, slowest %.1f ms (%s)\n", l.size(),
                percentile(l, 0.5), percentile(l, 0.95), host.slowest().first, host.slowest().second.c_str());
    for (const auto& kind : mix) {
      double slowest = 0;
      int endedOfKind = 0;
      std::string how;
      for (const auto& ad : ads)
        if (ad.unit == kind.unit && ad.endedAfter >= 0) {
          slowest = std::max(slowest, ad.endedAfter);
          ++endedOfKind;
          if (how.find(ad.ending) == std::string::npos) how += (how.empty() ? "" : ", ") + ad.ending;
        }
      std::printf("%-16s %d of %d ended (%s), the last after %.1f s\n", kind.unit, endedOfKind, kind.count,
                  how.c_str(), slowest);
    }
    std::printf("descriptors: %d before, %d at most\n", usual, most);
    std::printf("pages' line before the banners go: %s\n", host.send("requests").c_str());
    for (const auto& ad : ads) host.send("remove " + ad.name);
    silent.waitFor([](int open, const auto&) { return open == 0; });
    std::printf("pages' line after: %s; connections to the silent server left open: %d\n",
                host.send("requests").c_str(), silent.openConnections());
  }
  std::filesystem::remove_all(root);
}

}  // namespace

int main(int argc, char** argv) {
  const double limit = argc > 1 ? std::atof(argv[1]) : 120;
  net::testing::SilentServer silent;
  adserver::AdServer server(adhost_test::hostileRequestsScenario(silent.url("/"), kBurst));
  if (!server.start()) {
    std::fprintf(stderr, "adserver did not start\n");
    return 1;
  }
  run("twenty plain banners at once (the yardstick)", kPlain, limit, silent, server);
  run("a creative starting 15,000 requests, and a plain banner meanwhile", kOneBurst, limit, silent, server);
  run("twenty hostile banners at once", kHostile, limit, silent, server);
  run("five creatives starting 15,000 requests each, and five plain banners", kBursts, limit, silent, server);
  return 0;
}
