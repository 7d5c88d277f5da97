#pragma once
// Fixtures shared by the component's tests: a device root of the test's own (so test
// processes running side by side never share preference files), a hand-driven clock,
// and helpers that let the main run loop and serial queues catch up.
//
// Tests run in any order, many in one process: each test leaves the process as it found
// it (clock mode, bundle facts, system facts, the test store), and process-wide facts
// that never change on a device are set once, before any test runs.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "ads/services/pinger.h"
#include "ads/services/products_request.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/user_defaults.h"
#include "platform/storekit/storekit.h"
#include "platform/system/device_facts.h"
#include "platform/system/screen_facts.h"

namespace qma_test {

inline constexpr const char* kHostBundleIdentifier = "com.example.host";

// The host application's identity is a fact of the process, as on a device: whichever
// test makes the shared application object first, it reads this identifier.
struct HostProcess : ::testing::Environment {
  void SetUp() override { foundation::Bundle::main().setBundleIdentifier(kHostBundleIdentifier); }
};
inline ::testing::Environment* const kHostProcess = ::testing::AddGlobalTestEnvironment(new HostProcess);

// The process clock's monotonic reading never goes back, even across tests that each take
// the clock over by hand: taking it over starts where the last hand-driven test left it.
struct ManualClock {
  static double& highWater() {
    static double seen = 0;
    return seen;
  }
  static void use(double wallNow) {
    foundation::Clock::useManual(wallNow);
    const double mono = foundation::Clock::monotonic();
    if (mono < highWater()) {
      foundation::Clock::advance(highWater() - mono + 1);
      foundation::Clock::setWall(wallNow);
    }
  }
  static void release() {
    highWater() = std::max(highWater(), foundation::Clock::monotonic());
    foundation::Clock::useSystem();
  }
};

// The clock driven by hand for one scope, given back however the scope ends.
struct ScopedManualClock {
  explicit ScopedManualClock(double wallNow) { ManualClock::use(wallNow); }
  ~ScopedManualClock() { ManualClock::release(); }
  ScopedManualClock(const ScopedManualClock&) = delete;
  ScopedManualClock& operator=(const ScopedManualClock&) = delete;
};

struct DeviceRootTest : ::testing::Test {
  std::string root;
  foundation::Dictionary savedBundleInfo;
  void SetUp() override {
    char tmpl[] = "/tmp/wv-ads-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("WARDVANE_DEVICE_ROOT", root.c_str(), 1);
    savedBundleInfo = foundation::Bundle::main().infoDictionary();
    foundation::Bundle::main().setBundleIdentifier(kHostBundleIdentifier);
    foundation::UserDefaults::resetStandardUserDefaults();
    ManualClock::use(1'500'000'000);
  }
  void TearDown() override {
    ManualClock::release();
    drainMain();
    foundation::UserDefaults::resetStandardUserDefaults();
    foundation::Bundle::main().setInfoDictionary(savedBundleInfo);
    system_facts::resetDeviceFacts();
    system_facts::setScreen({});
    storekit::SKTestStore::shared().reset();
    QMAInAppPurchaseProductCache::sharedInstance().removeAllProducts();
    removeRoot(root);
  }
  // The component's queues may still be finishing a file under the root (statistics,
  // caches) while it goes: a removal that meets a file written meanwhile tries again.
  static void removeRoot(const std::string& path) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      std::error_code error;
      std::filesystem::remove_all(path, error);
      if (!error) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "could not remove the device root " << path;
  }
  // A new launch: the standard user defaults are read again from their file.
  static void relaunchDefaults() { foundation::UserDefaults::resetStandardUserDefaults(); }
  static void drainMain() { dispatch::RunLoop::main().drain(); }
  static void waitFor(const dispatch::QueuePtr& q) { q->sync([] {}); }
  // Lets the pinger's queued work and its pings in flight end (bounded in real time), so
  // nothing of this test reaches the next one's store.
  static void settle(const std::shared_ptr<QMAPinger>& pinger) {
    waitFor(pinger->lockQueue());
    dispatch::RunLoop::main().runUntil([&] { return pinger->pingedURLs().empty(); }, 10);
    waitFor(pinger->lockQueue());
  }
};

// Runs the main run loop until `done` (or 60 s of real time, a bound against a hang: a
// process's first web view starts the display server and the web engine's processes, which
// took over 30 s with sixteen test programs on two cores). When nothing else is
// ready and the loop's next timer is due within `timerWindow` on the hand-driven clock
// (page timers of a few milliseconds), the clock is moved to it. The clock never moves
// while the loop waits for real I/O, however slow the machine: a test only crosses a
// long time-out when it moves the clock there itself.
inline bool pumpMainLoop(const std::function<bool()>& done, double timerWindow = 0.05) {
  auto& loop = dispatch::RunLoop::main();
  return loop.runUntil(
      [&] {
        if (done()) return true;
        const double next = loop.nextTimerDate();
        const double wait = next - foundation::Clock::monotonic();
        if (next >= 0 && wait > 0 && wait <= timerWindow) foundation::Clock::advance(wait + 1e-6);
        return false;
      },
      60);
}

}  // namespace qma_test
