#pragma once
// Fixtures shared by the component's tests: a device root of the test's own (so test
// processes running side by side never share preference files), a hand-driven clock,
// and helpers that let the main run loop and serial queues catch up.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
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

}  // namespace qma_test
