// Many settings applications asking a busy home screen for its app list at once: 50
// clients, each on its own thread with the settings application's reply time-out, send
// "getAppListInformation" together to the hook library's real server, which answers on
// this program's main run loop from a home screen of 300 apps with icons. Prints how
// many clients got the whole list within their time-out, their latencies, and the cost
// of one reply on its own. The target is every client answered.
//
//   bench_app_list_clients [clients] [apps]

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/options/options.h"
#include "hooklib/icon_cache.h"
#include "hooklib/shared/settings_file.h"
#include "hooklib/shared/string_table.h"
#include "hooklib/wardvane.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/property_list.h"
#include "platform/ipc/messaging_center.h"
#include "platform/springboard/home_screen.h"
#include "platform/uikit/image.h"

namespace {

using Seconds = std::chrono::duration<double>;
using SteadyClock = std::chrono::steady_clock;

// Icons larger than the list's size 59, with grain that does not compress to nothing, so
// that scaling and encoding cost what real icons cost.
std::vector<springboard::InstalledApp> makeApps(int count) {
  std::vector<springboard::InstalledApp> apps;
  for (int i = 0; i < count; ++i) {
    springboard::InstalledApp a;
    a.bundleIdentifier = "com.example.app" + std::to_string(i);
    a.displayName = "App " + std::to_string(i);
    a.modificationDate = 1.6e9 + i;
    a.dataUsage = i * 1000;
    constexpr std::uint32_t kSide = 120;
    std::vector<std::uint8_t> rgba(std::size_t(kSide) * kSide * 4);
    std::uint32_t noise = 2654435761u * static_cast<std::uint32_t>(i + 1);
    for (std::size_t p = 0; p < rgba.size(); ++p) {
      noise = noise * 1664525u + 1013904223u;
      // A gradient with grain, opaque: about what a photographic icon costs to encode.
      rgba[p] = (p % 4 == 3) ? 255 : static_cast<std::uint8_t>((p / 4 % kSide) + (noise >> 27));
    }
    a.icon = std::make_shared<uikit::Image>(kSide, kSide, std::move(rgba));
    apps.push_back(std::move(a));
  }
  return apps;
}

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  constexpr const char* kUsage = "bench_app_list_clients [CLIENTS (50)] [APPS (300)]";
  const auto options = bench::parseOptionsOrExit(argc, argv, {}, 2, kUsage);
  const auto& given = options.positional;
  const int clients = given.size() > 0
                          ? static_cast<int>(bench::wholeNumberOrExit("bench_app_list_clients", "CLIENTS", given[0], 1, 1000, kUsage))
                          : 50;
  const int appCount = given.size() > 1
                           ? static_cast<int>(bench::wholeNumberOrExit("bench_app_list_clients", "APPS", given[1], 1, 10000, kUsage))
                           : 300;
  auto root = std::filesystem::temp_directory_path() / ("wv-bench-clients-" + std::to_string(::getpid()));
  std::filesystem::create_directories(root);
  ::setenv("WARDVANE_DEVICE_ROOT", root.c_str(), 1);

  springboard::HomeScreen home(makeApps(appCount));
  home.install();
  auto& loop = dispatch::RunLoop::main();
  auto server = std::make_unique<wardvane::Wardvane>();
  server->startServices();
  auto centreName = *wardvane::getApplicationStringWithID(wardvane::kMessagingCenterNameString);

  // The cost of one reply with nobody else asking: the first one, and one after it.
  auto oneReply = [&] {
    auto t0 = SteadyClock::now();
    auto reply = wardvane::Wardvane::getAppListInformationWithUserInfo(wardvane::kGetAppListInformationMessage, {});
    auto bytes = foundation::dataFromPropertyList(foundation::Value(std::move(reply)),
                                                  foundation::PropertyListFormat::Binary);
    return std::pair(Seconds(SteadyClock::now() - t0).count(), bytes.size());
  };
  auto [firstReply, replyBytes] = oneReply();
  auto [laterReply, laterBytes] = oneReply();
  (void)laterBytes;
  // The clients meet a home screen that has not answered anyone yet.
  wardvane::Wardvane::appListIconCache().keepOnly({});

  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::atomic<int> finished{0};
  std::mutex mu;
  std::vector<double> answeredIn;
  int unanswered = 0;
  int incomplete = 0;
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      auto center = ipc::DistributedMessagingCenter::centerNamed(centreName);
      ipc::rocketbootstrap_distributedmessagingcenter_apply(center);
      center->setReplyTimeout(wardvane::kAppListReplyTimeout);
      ++ready;
      while (!go) std::this_thread::yield();
      auto t0 = SteadyClock::now();
      auto reply = center->sendMessageAndReceiveReplyName(wardvane::kGetAppListInformationMessage,
                                                          {{wardvane::kShowHiddenKey, foundation::Value(false)}});
      double took = Seconds(SteadyClock::now() - t0).count();
      {
        std::lock_guard lock(mu);
        const foundation::Array* apps =
            reply ? foundation::arrayForKey(*reply, wardvane::kApplicationsArrayKey) : nullptr;
        if (!reply) {
          ++unanswered;
        } else if (!apps || apps->size() != static_cast<std::size_t>(appCount)) {
          ++incomplete;
        } else {
          answeredIn.push_back(took);
        }
      }
      ++finished;
      dispatch::RunLoop::main().wakeUp();
    });
  }
  while (ready < clients) std::this_thread::yield();
  auto start = SteadyClock::now();
  go = true;
  loop.runUntil([&] { return finished == clients; }, 4 * wardvane::kAppListReplyTimeout + 10);
  double wall = Seconds(SteadyClock::now() - start).count();
  for (auto& t : threads) t.join();

  std::printf("app list of %d apps with icons, %zu bytes a reply\n", appCount, replyBytes);
  std::printf("one reply on its own: first %.1f ms, later %.1f ms\n", firstReply * 1e3, laterReply * 1e3);
  std::printf("%d concurrent clients of a fresh server, time-out %.1f s: %zu got the list, %d no reply, "
              "%d an incomplete list\n",
              clients, wardvane::kAppListReplyTimeout, answeredIn.size(), unanswered, incomplete);
  std::printf("latency of the answered: median %.0f ms, 90%% %.0f ms, max %.0f ms; all done after %.1f s\n",
              percentile(answeredIn, 0.5) * 1e3, percentile(answeredIn, 0.9) * 1e3, percentile(answeredIn, 1.0) * 1e3,
              wall);
  bool ok = answeredIn.size() == static_cast<std::size_t>(clients);
  std::printf("%s\n", ok ? "ok: every client got the list" : "SHORT: not every client got the list");

  server.reset();
  home.uninstall();
  std::filesystem::remove_all(root);
  return ok ? 0 : 1;
}
