#include "ads/services/csi.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>

#include "ads/services/test_support.h"
#include "platform/foundation/format.h"
#include "platform/net/ad_network.h"
#include "platform/net/test_server.h"
#include "platform/system/device_facts.h"

namespace {

using foundation::Clock;
using foundation::UserDefaults;

struct CSITest : qma_test::DeviceRootTest {
  std::mutex mu;
  std::vector<std::string> reports;
  std::vector<std::string> agents;
  net::testing::TestServer server;  // after what its handler touches, so it stops first

  void SetUp() override {
    DeviceRootTest::SetUp();
    server.server().Get("/csi", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard lock(mu);
      reports.push_back(req.target);
      agents.push_back(req.get_header_value("User-Agent"));
      res.status = 204;
    });
    server.start();
    setenv(net::kAdNetworkURLVariable, server.url().c_str(), 1);
  }
  void TearDown() override {
    unsetenv(net::kAdNetworkURLVariable);
    system_facts::resetDeviceFacts();
    DeviceRootTest::TearDown();
  }
  std::shared_ptr<QMACSI> sampledIn() {
    UserDefaults::standardUserDefaults()->setObjectForKey(1.0, kQMACSIReportingProbabilityKey);
    auto csi = QMACSI::create();
    drainMain();  // the report timer is set up on the main queue
    return csi;
  }
  std::size_t reportCount() {
    std::lock_guard lock(mu);
    return reports.size();
  }
  void waitForReports(std::size_t n) {
    ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return reportCount() >= n; }, 10));
  }
  // The "it" list as a set of its comma-separated entries (a trailing comma would show
  // as an empty entry).
  static std::multiset<std::string> timingList(const std::string& list) {
    std::multiset<std::string> entries;
    std::size_t start = 0;
    for (;;) {
      const std::size_t comma = list.find(',', start);
      entries.insert(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      if (comma == std::string::npos) return entries;
      start = comma + 1;
    }
  }
  static void timed(const std::shared_ptr<QMACSITimeRecorder>& r, const std::string& name, const std::string& key,
                    double seconds) {
    r->startTimingVariableWithNameKey(name, key);
    waitFor(r->lockQueue());
    Clock::advance(seconds);
    r->endTimingVariableWithNameKey(name, key);
    waitFor(r->lockQueue());
  }
};

TEST_F(CSITest, SamplingIsDecidedOnceFromTheStoredProbability) {
  UserDefaults::standardUserDefaults()->setObjectForKey(0, kQMACSIReportingProbabilityKey);
  auto out = QMACSI::create();
  drainMain();
  EXPECT_FALSE(out->configuration()->reportingEnabled());
  EXPECT_FALSE(out->timeRecorderForAction("load_ad_ios"));
  EXPECT_FALSE(out->scheduler());

  auto in = sampledIn();
  EXPECT_TRUE(in->configuration()->reportingEnabled());
  ASSERT_TRUE(in->scheduler());
  EXPECT_EQ(in->scheduler()->interval(), 150);
  auto recorder = in->timeRecorderForAction("load_ad_ios");
  EXPECT_EQ(in->timeRecorderForAction("load_ad_ios"), recorder);
  EXPECT_EQ(recorder->customizedParameters().at("sdkVersion"), "qvra-sdk-i-v7.4.1");
  EXPECT_FALSE(in->timeRecorderForAction(std::nullopt));

  // Under a second the default stands.
  const std::pair<foundation::Value, double> intervals[] = {{"0", 150}, {"-3", 150}, {0.5, 150}, {"0.999", 150},
                                                            {1, 1}, {"20", 20}};
  for (const auto& [stored, expected] : intervals) {
    UserDefaults::standardUserDefaults()->setObjectForKey(stored, kQMACSIReportingIntervalKey);
    auto csi = sampledIn();
    EXPECT_EQ(csi->scheduler()->interval(), expected) << foundation::description(stored);
  }
}

TEST_F(CSITest, TheReportURLListsValidTimingsInMillisecondsAndTakesThemOut) {
  auto csi = sampledIn();
  auto recorder = csi->timeRecorderForAction("load_ad_ios");
  timed(recorder, "arf_ios", "arf", 0.2504);
  timed(recorder, "ttc_ios", "ttc", 1.0);
  // Durations stay clear of a half millisecond: the clock's seconds are large doubles, so
  // a length of exactly 0.5 ms may read a hair under or over it.
  timed(recorder, "ttc_ios", "ttc", 0.0032);  // a second end of the same key
  auto reporter = QMACSIReporter::initWithConfiguration(csi->configuration());
  reporter->setSharedParameterValueForKey("1", "shared");
  reporter->setSharedParameterValueForKey("2", "shared");  // the first value wins
  auto url = reporter->URLStringForTimeRecorder(recorder);
  ASSERT_TRUE(url);
  EXPECT_EQ(url->rfind(server.url("/csi?s=qmob_sdk&v=3&action=load_ad_ios&shared=1&sdkVersion=qvra-sdk-i-v7.4.1&it="), 0),
            0u)
      << *url;
  // The same name twice (the second end under the key plus a random number).
  EXPECT_EQ(timingList(url->substr(url->find("&it=") + 4)),
            (std::multiset<std::string>{"arf_ios.250", "ttc_ios.1000", "ttc_ios.3"}))
      << *url;
  EXPECT_TRUE(recorder->completedVariables().empty());
  EXPECT_FALSE(reporter->URLStringForTimeRecorder(recorder));  // nothing left: no request
}

TEST_F(CSITest, OnlyTimingsRunningWhenTheAppResignsActiveAreDropped) {
  auto csi = sampledIn();
  auto recorder = csi->timeRecorderForAction("load_ad_ios");
  timed(recorder, "arf_ios", "arf_ios", 0.2);  // ended, not yet reported
  recorder->startTimingVariableWithName("jsf_ios");
  waitFor(recorder->lockQueue());
  foundation::NotificationCenter::defaultCenter().postNotificationName("UIApplicationWillResignActiveNotification");
  Clock::advance(1);
  recorder->endTimingVariableWithName("jsf_ios");
  recorder->startTimingVariableWithName("rur_ios");
  recorder->cancelTimingVariableWithName("rur_ios");
  waitFor(recorder->lockQueue());
  EXPECT_EQ(recorder->completedVariables().size(), 2u);
  EXPECT_TRUE(recorder->ongoingVariables().empty());
  auto reporter = QMACSIReporter::initWithConfiguration(csi->configuration());
  auto url = reporter->URLStringForTimeRecorder(recorder);
  ASSERT_TRUE(url) << "the timing that ended before the move still goes out";
  EXPECT_EQ(url->substr(url->find("&it=")), "&it=arf_ios.200");
  EXPECT_TRUE(recorder->completedVariables().empty()) << "the one that spanned the move is dropped";
}

TEST_F(CSITest, ReportsGoOutWhenTheBatchIsFullAndWhenTheTimerFires) {
  auto csi = sampledIn();
  auto recorder = csi->timeRecorderForAction("load_ad_ios");
  timed(recorder, "arf_ios", "arf", 0.1);
  for (int i = 0; i < 19; ++i) {
    csi->didMakeAdRequest();
    csi->sendReport();
  }
  waitFor(csi->lockQueue());
  EXPECT_EQ(csi->requestCount(), 19);
  csi->didMakeAdRequest();
  csi->sendReport();
  waitForReports(1);
  EXPECT_EQ(csi->requestCount(), 0);

  timed(recorder, "ttc_ios", "ttc", 0.1);
  Clock::advance(150);
  drainMain();
  waitFor(csi->lockQueue());
  waitForReports(2);
  std::lock_guard lock(mu);
  EXPECT_NE(reports[0].find("it=arf_ios.100"), std::string::npos);
  EXPECT_NE(reports[1].find("it=ttc_ios.100"), std::string::npos);
  EXPECT_EQ(agents[0].rfind("QuillonCsi/1.0 (iPhone/7.2; U; CPU iOS 8_1_2; ", 0), 0u) << agents[0];
}

TEST(CSIDeviceVersion, PutsASlashBeforeTheFirstDigitAndDotsForCommas) {
  const std::pair<const char*, const char*> cases[] = {
      {"iPhone7,2", "iPhone/7.2"}, {"iPad4,1", "iPad/4.1"}, {"x86_64", "x/86_64"}, {"Machine", "Machine"}, {"", "Unknown"}};
  for (const auto& [machine, expected] : cases) {
    auto facts = system_facts::device();
    facts.machine = machine;
    system_facts::setDevice(facts);
    EXPECT_EQ(QMACSIConfiguration::deviceVersionString(), expected);
  }
  system_facts::resetDeviceFacts();
}

}  // namespace
