#pragma once
// Fixtures shared by the component's tests: a device root of the test's own (so test
// processes running side by side never share preference files), a hand-driven clock,
// and helpers that let the main run loop and serial queues catch up.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/dispatch/queue.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/user_defaults.h"

namespace qma_test {

struct DeviceRootTest : ::testing::Test {
  std::string root;
  void SetUp() override {
    char tmpl[] = "/tmp/wv-ads-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("WARDVANE_DEVICE_ROOT", root.c_str(), 1);
    foundation::Bundle::main().setBundleIdentifier("com.example.host");
    foundation::UserDefaults::resetStandardUserDefaults();
    foundation::Clock::useManual(1'500'000'000);
  }
  void TearDown() override {
    foundation::Clock::useSystem();
    drainMain();
    foundation::UserDefaults::resetStandardUserDefaults();
    std::filesystem::remove_all(root);
  }
  // A new launch: the standard user defaults are read again from their file.
  static void relaunchDefaults() { foundation::UserDefaults::resetStandardUserDefaults(); }
  static void drainMain() { dispatch::RunLoop::main().drain(); }
  static void waitFor(const dispatch::QueuePtr& q) { q->sync([] {}); }
};

// Runs the main run loop until `done` (or 10 s of real time). When nothing else is
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
      10);
}

}  // namespace qma_test
