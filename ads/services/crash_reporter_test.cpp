#include "ads/services/crash_reporter.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "ads/services/device.h"
#include "ads/services/pinger.h"
#include "ads/services/test_support.h"
#include "ads/services/url_utilities.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/ad_network.h"
#include "platform/net/test_server.h"

extern char** environ;

namespace {

using foundation::Exception;

TEST(CrashReportTrace, ReportsOnlyExceptionsThatInvolveTheComponent) {
  const std::string process = "HostApp";
  Exception host{"NSRangeException", "index 3 beyond bounds", {"0 HostApp 0x1 main + 4", "1 libc 0x2 start"}};
  EXPECT_FALSE(QMACrashReportTrace(host, process));

  Exception byReason{"NSInvalidArgumentException",
                     "-[QMASlot foo:]: unrecognized selector",
                     {"0 HostApp 0x10 -[Host tap:] + 8", "1 libc 0x2 start"}};
  EXPECT_EQ(QMACrashReportTrace(byReason, process),
            "NSInvalidArgumentException-_QMASlot_foo_unrecognized_selector-0_filtered_0x10_Host_tap_8-1_libc_0x2_start");

  Exception byFrame{"E", std::nullopt, {"0 HostApp 0x1 -[KVRBanner load] + 1", "1 HostApp 0x2 main"}};
  EXPECT_EQ(QMACrashReportTrace(byFrame, process), "E-filtered-0_filtered_0x1_KVRBanner_load_1-1_filtered_0x2_main");

  Exception longOne{"E", "QMA " + std::string(600, 'x'), {}};
  EXPECT_EQ(QMACrashReportTrace(longOne, process)->size(), kQMACrashReportTraceLimit);
  Exception accents{"E", "QMA_" + [] { std::string s; for (int i = 0; i < 600; ++i) s += "\xC3\xA9"; return s; }(), {}};
  auto cut = *QMACrashReportTrace(accents, process);
  EXPECT_EQ(cut.size(), 2 + 4 + (kQMACrashReportTraceLimit - 6) * 2);  // "E-QMA_" then whole two-byte characters

  EXPECT_EQ(QMASanitizedCrashText("-[QMASlot foo:]: unrecognized\t+selector"), "_QMASlot_foo_unrecognized_selector");
}

std::atomic<int> hostHandlerCalls{0};
std::atomic<bool> storedBeforeHostHandler{false};
void hostHandler(const Exception&) {
  ++hostHandlerCalls;
  auto file = foundation::readDictionaryFile(foundation::UserDefaults::standardUserDefaults()->filePath());
  storedBeforeHostHandler = file && file->count(kQMACrashReportingRetryGroupKey) &&
                            !file->at(kQMACrashReportingRetryGroupKey).asDictionary()->empty();
}
void otherHandler(const Exception&) {}

struct CrashReporterTest : qma_test::DeviceRootTest {
  void SetUp() override {
    DeviceRootTest::SetUp();
    hostHandlerCalls = 0;
  }
  void TearDown() override {
    foundation::setUncaughtExceptionHandler(nullptr);
    // The handler's report ping runs on the shared pinger.
    settle(QMAPinger::sharedInstance());
    unsetenv(net::kAdNetworkURLVariable);
    QMADevice::sharedInstance()->resetStaticParameters();
    DeviceRootTest::TearDown();
  }
  static std::optional<foundation::Dictionary> stored() {
    return foundation::UserDefaults::standardUserDefaults()->dictionaryForKey(kQMACrashReportingRetryGroupKey);
  }
};

TEST_F(CrashReporterTest, TheHandlerStoresTheReportBeforeItChainsToTheHostsHandler) {
  // The report endpoint is down, so the stored report stays for a later launch.
  net::testing::TestServer server;
  server.server().Get("/qads/report_event", [](const httplib::Request&, httplib::Response& res) { res.status = 503; });
  server.start();
  setenv(net::kAdNetworkURLVariable, server.url().c_str(), 1);
  QMADevice::sharedInstance()->cacheStaticParameters();
  foundation::setUncaughtExceptionHandler(&hostHandler);
  auto reporter = QMACrashReporter::create();
  reporter->enableReporting();
  reporter->enableReporting();  // a second call changes nothing
  EXPECT_EQ(foundation::getUncaughtExceptionHandler(), &QMAUncaughtExceptionHandler);
  EXPECT_EQ(QMAPreviousUncaughtExceptionHandler(), &hostHandler);

  foundation::getUncaughtExceptionHandler()(Exception{"NSGenericException", "host trouble", {"0 x main"}});
  EXPECT_EQ(hostHandlerCalls, 1);
  EXPECT_FALSE(stored());

  foundation::getUncaughtExceptionHandler()(Exception{"NSGenericException", "QMASlot broke", {"0 x main"}});
  EXPECT_EQ(hostHandlerCalls, 2);
  EXPECT_TRUE(storedBeforeHostHandler);
  ASSERT_TRUE(stored());
  auto report = net::URL::fromString(stored()->begin()->first);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->path(), "/qads/report_event");
  auto params = qma_dictionaryFromQueryParametersAndConvertKeysToLowercase(*report, false);
  EXPECT_EQ(params.at("stacktrace"), "NSGenericException-QMASlot_broke-0_x_main");
  EXPECT_EQ(params.at("id"), "qmob-apps-report-exception");
  EXPECT_EQ(params.at("js"), "qvra-sdk-i-v7.4.1");
  EXPECT_EQ(params.at("appid"), "com.example.host");
  EXPECT_EQ(params.at("os"), *QMADevice::sharedInstance()->systemVersion());
  EXPECT_EQ(params.at("device"), *QMADevice::sharedInstance()->deviceModel());
  EXPECT_NE(report->absoluteString().find("&api"), std::string::npos);  // an unknown version goes as a bare key
}

TEST_F(CrashReporterTest, DisablingRestoresTheHostHandlerAndSilencesAChainedCall) {
  foundation::setUncaughtExceptionHandler(&hostHandler);
  auto reporter = QMACrashReporter::create();
  reporter->enableReporting();
  // Another library goes on top and chains to ours; disabling cannot unhook us then.
  foundation::setUncaughtExceptionHandler(&otherHandler);
  reporter->disableReporting();
  EXPECT_EQ(foundation::getUncaughtExceptionHandler(), &otherHandler);
  QMAUncaughtExceptionHandler(Exception{"E", "QMASlot broke", {}});
  EXPECT_FALSE(stored());
  EXPECT_EQ(hostHandlerCalls, 1);

  foundation::setUncaughtExceptionHandler(&QMAUncaughtExceptionHandler);
  reporter->disableReporting();
  EXPECT_EQ(foundation::getUncaughtExceptionHandler(), &hostHandler);
  reporter->enableReporting();  // off for good
  EXPECT_EQ(foundation::getUncaughtExceptionHandler(), &hostHandler);
}

// The child half of the test below: run in a process of its own, it crashes.
void markerHandler(const Exception& e) {
  std::ofstream(std::getenv("WV_CRASH_MARKER")) << e.name;
}
TEST(CrashReporterChild, CrashesOnAThreadWithAComponentException) {
  if (!std::getenv("WV_CRASH_CHILD")) GTEST_SKIP() << "runs only as the crashing child";
  foundation::Bundle::main().setBundleIdentifier("com.example.host");
  foundation::setUncaughtExceptionHandler(&markerHandler);
  QMACrashReporter::sharedInstance()->enableReporting();
  std::thread([] { foundation::raiseException("NSInvalidArgumentException", "-[QMASlot foo:]: unrecognized selector"); })
      .join();
}

TEST_F(CrashReporterTest, AReportFromACrashedProcessGoesOutAtTheNextLaunch) {
  std::mutex mu;
  std::vector<std::string> reports;
  std::atomic<bool> healthy{false};
  net::testing::TestServer server;  // after what its handler touches, so it stops first
  server.server().Get("/qads/report_event", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(mu);
    reports.push_back(req.get_param_value("stacktrace"));
    res.status = healthy ? 200 : 503;
  });
  server.start();
  setenv(net::kAdNetworkURLVariable, server.url().c_str(), 1);
  std::string marker = root + "/marker";
  setenv("WV_CRASH_MARKER", marker.c_str(), 1);
  setenv("WV_CRASH_CHILD", "1", 1);

  char self[] = "/proc/self/exe";
  char filter[] = "--gtest_filter=CrashReporterChild.*";
  char* argv[] = {self, filter, nullptr};
  pid_t child;
  ASSERT_EQ(posix_spawn(&child, self, nullptr, nullptr, argv, environ), 0);
  unsetenv("WV_CRASH_CHILD");
  unsetenv("WV_CRASH_MARKER");
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGABRT);
  std::string seen;
  std::ifstream(marker) >> seen;
  EXPECT_EQ(seen, "NSInvalidArgumentException");  // the host's handler still ran

  // The next launch finds the report and its retry pass delivers it.
  relaunchDefaults();
  ASSERT_TRUE(stored());
  ASSERT_EQ(stored()->size(), 1u);
  healthy = true;
  auto pinger = QMAPinger::create();
  pinger->start();
  foundation::Clock::advance(pinger->scheduler()->interval());
  drainMain();
  waitFor(pinger->lockQueue());
  ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return pinger->pingedURLs().empty(); }, 10));
  waitFor(pinger->lockQueue());
  EXPECT_EQ(stored(), foundation::Dictionary{});
  std::lock_guard lock(mu);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().rfind("NSInvalidArgumentException-_QMASlot_foo_unrecognized_selector-", 0), 0u);
}

}  // namespace
