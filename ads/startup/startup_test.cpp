// The ad component's start-up in processes of their own, since it happens once per
// process: the test starts this program again as a child that plays one launch and writes
// down what started.
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "ads/model/kvr_request.h"
#include "ads/render/mraid_interceptor.h"
#include "ads/services/application.h"
#include "ads/services/crash_reporter.h"
#include "ads/services/device.h"
#include "ads/services/in_app_purchase_reporter.h"
#include "ads/services/pinger.h"
#include "ads/services/test_support.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/run_loop.h"
#include "platform/uikit/application.h"

extern char** environ;

namespace {

// ---- the child halves: each plays one start of the process

int activitiesRun = 0;

struct StartUpChild : qma_test::DeviceRootTest {
  void SetUp() override {
    if (!std::getenv("WV_STARTUP_CHILD")) GTEST_SKIP() << "runs only as a child process of its own";
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    QMAApplication::addEarlyActivity([] { ++activitiesRun; });
  }
  static void launch() {
    foundation::NotificationCenter::defaultCenter().postNotificationName(uikit::kUIApplicationDidFinishLaunchingNotification);
  }
  // What started, for the parent to read.
  void report() {
    drainMain();
    std::ofstream out(std::getenv("WV_STARTUP_MARKER"));
    out << "activities=" << activitiesRun << "\n"
        << "launched=" << QMAApplication::sharedInstance()->appFinishedLaunching() << "\n"
        << "device=" << (QMADevice::sharedInstance()->standardizedPortraitScreenBounds().size.width > 0) << "\n"
        << "mraid=" << QMAMRAIDInterceptor::isAllowed() << "\n"
        << "pinger=" << (QMAPinger::sharedInstance()->scheduler() && QMAPinger::sharedInstance()->scheduler()->isRunning())
        << "\n"
        << "purchases=" << QMAInAppPurchaseTransactionReporter::sharedInstance()->reportingEnabled() << "\n"
        << "crashes=" << (foundation::getUncaughtExceptionHandler() == &QMAUncaughtExceptionHandler) << "\n";
  }
};

TEST_F(StartUpChild, TheLaunchThenARequestAndASlot) {
  launch();
  drainMain();
  auto request = QMARequest::request();
  auto slot = QMASlot::init();
  report();
}

TEST_F(StartUpChild, APublisherRequestBeforeTheLaunch) {
  auto request = KVRRequest::request();
  launch();
  auto slot = QMASlot::init();
  report();
}

TEST_F(StartUpChild, ARequestMadeOffTheMainThread) {
  std::thread([] { auto request = QMARequest::request(); }).join();
  EXPECT_EQ(activitiesRun, 0);  // handed to the main thread
  report();
}

TEST_F(StartUpChild, PurchaseReportingSwitchedOffByTheHost) {
  QMAInAppPurchaseTransactionReporter::sharedInstance()->disableReporting();
  launch();
  report();
}

TEST_F(StartUpChild, NothingBeforeTheLaunch) { report(); }

// ---- the parent

std::map<std::string, std::string> startChild(const std::string& test, const std::string& root) {
  const std::string marker = root + "/startup-" + test;
  setenv("WV_STARTUP_CHILD", "1", 1);
  setenv("WV_STARTUP_MARKER", marker.c_str(), 1);
  std::string filter = "--gtest_filter=StartUpChild." + test;
  char self[] = "/proc/self/exe";
  char* argv[] = {self, filter.data(), nullptr};
  pid_t child;
  const int spawned = posix_spawn(&child, self, nullptr, nullptr, argv, environ);
  unsetenv("WV_STARTUP_CHILD");
  unsetenv("WV_STARTUP_MARKER");
  std::map<std::string, std::string> facts;
  if (spawned != 0) return facts;
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return facts;
  std::ifstream in(marker);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) facts[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return facts;
}

struct StartUp : qma_test::DeviceRootTest {};

TEST_F(StartUp, TheEarlyActivitiesRunOnceWhicheverComesFirst) {
  struct Case {
    const char* child;
    std::map<std::string, std::string> facts;
  };
  const std::map<std::string, std::string> everything = {{"activities", "1"}, {"launched", "1"}, {"device", "1"},
                                                          {"mraid", "1"},      {"pinger", "1"},   {"purchases", "1"},
                                                          {"crashes", "1"}};
  auto with = [&](std::map<std::string, std::string> changes) {
    auto facts = everything;
    for (auto& [k, v] : changes) facts[k] = v;
    return facts;
  };
  const Case cases[] = {
      {"TheLaunchThenARequestAndASlot", everything},
      {"APublisherRequestBeforeTheLaunch", everything},
      {"ARequestMadeOffTheMainThread", with({{"launched", "0"}})},
      {"PurchaseReportingSwitchedOffByTheHost", with({{"purchases", "0"}})},
      {"NothingBeforeTheLaunch", with({{"activities", "0"}, {"launched", "0"}, {"device", "0"}, {"mraid", "0"},
                                       {"pinger", "0"}, {"purchases", "0"}, {"crashes", "0"}})},
  };
  for (const auto& c : cases) EXPECT_EQ(startChild(c.child, root), c.facts) << c.child;
}

}  // namespace
