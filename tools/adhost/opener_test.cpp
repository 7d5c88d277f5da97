// What a creative's links open inside the host, in the real adhost against adserver: the
// mail and message composers of its mailto and sms links, the store's product page of its
// store link, and the purchase offer of its purchase link, each seen on the screen (or in
// the log) and closed as its user would.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "tools/adserver/ad_server.h"
#include "tools/testsupport/driven_process.h"

namespace adhost_opener_test {

class OpenerLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("wv-opener-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(root_);
    server_ = std::make_unique<adserver::AdServer>(
        adserver::AdServer::loadScenarioFile(std::string(WV_ADSERVER_SCENARIOS_DIR) + "/opener.json"));
    ASSERT_TRUE(server_->start());
    host_ = std::make_unique<testsupport::DrivenProcess>(
        ADHOST_PATH, std::vector<std::string>{"--manual-clock", "--wait-limit", "45"},
        std::vector<std::string>{"WARDVANE_DEVICE_ROOT=" + root_.string(), "WARDVANE_AD_NETWORK_URL=" + server_->baseURL(),
                                 "TZ=UTC"},
        std::chrono::seconds(60));
  }
  void TearDown() override {
    if (host_) {
      EXPECT_EQ(send("quit"), "ok bye");
    }
    host_.reset();
    server_->stop();
    std::filesystem::remove_all(root_);
  }
  std::string send(const std::string& line) { return host_->send(line); }
  void expect(const std::string& line, const std::string& start) {
    const std::string answer = send(line);
    EXPECT_EQ(answer.rfind(start, 0), 0u) << line << "\n  answered: " << answer;
  }
  // The screen's line once it names `what` (the page's messages take a turn of the host's
  // loop or two to arrive).
  std::string screenShowing(const std::string& what) {
    std::string answer;
    for (int i = 0; i < 50; ++i) {
      answer = send("screen");
      if (answer.find(what) != std::string::npos) return answer;
      send("clock advance 0.1");
    }
    return answer;
  }

  std::filesystem::path root_;
  std::unique_ptr<adserver::AdServer> server_;
  std::unique_ptr<testsupport::DrivenProcess> host_;
};

TEST_F(OpenerLinks, MailTextStoreAndPurchaseLinksOpenInsideTheHost) {
  expect("kvr-banner shop mrec unit opener-links", "ok shop KVRBannerView");
  expect("load shop", "ok loading");
  expect("wait shop adViewDidReceiveAd", "ok shop adViewDidReceiveAd:");
  expect("clock advance 1", "ok clock");

  expect("tap shop 0", "ok tapped shop link 0 mailto:shop@example.com");
  EXPECT_NE(screenShowing("full screen MFMailComposeViewController").find("full screen MFMailComposeViewController"),
            std::string::npos);
  expect("wait shop adViewWillPresentScreen", "ok shop adViewWillPresentScreen:");
  expect("close", "ok closed MFMailComposeViewController");
  expect("wait shop adViewDidDismissScreen", "ok shop adViewDidDismissScreen:");

  expect("tap shop 1", "ok tapped shop link 1 sms:5550100,5550101");
  EXPECT_NE(screenShowing("full screen MFMessageComposeViewController").find("MFMessageComposeViewController"),
            std::string::npos);
  expect("close", "ok closed MFMessageComposeViewController");

  expect("tap shop 2", "ok tapped shop link 2 qomb://opener/open?a=in_app_store");
  EXPECT_NE(screenShowing("full screen SKStoreProductViewController").find("SKStoreProductViewController"),
            std::string::npos);
  expect("close", "ok closed SKStoreProductViewController");
  EXPECT_EQ(screenShowing("xxx").find("full screen"), std::string::npos) << "every screen the ad opened has gone";

  // No purchase delegate in this host: the offer is refused with the public log line.
  expect("tap shop 3", "ok tapped shop link 3 qomb://opener/open?a=in_app_purchase");
  std::string log;
  for (int i = 0; i < 50 && log.find("in-app purchase delegate") == std::string::npos; ++i) {
    send("clock advance 0.1");
    log = send("log");
  }
  EXPECT_NE(log.find("You must set the in-app purchase delegate. Transaction cannot be completed."), std::string::npos)
      << log;
}

}  // namespace adhost_opener_test
