// What a creative's links open inside the host, in the real adhost against adserver: the
// mail and message composers of its mailto and sms links, the store's product page of its
// store link, and the purchase offer of its purchase link, each seen on the screen (or in
// the log) and closed as its user would.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tools/adhost/adhost_test_support.h"
#include "tools/adserver/ad_server.h"
#include "tools/testsupport/driven_process.h"

namespace adhost_opener_test {

class OpenerLinks : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override { return scenarioFile("opener.json"); }
  std::string screenShowing(const std::string& what) { return askUntil("screen", what); }
};

TEST_F(OpenerLinks, MailTextStoreAndPurchaseLinksOpenInsideTheHost) {
  expect("kvr-banner shop mrec unit opener-links", "ok shop KVRBannerView");
  expect("load shop", "ok loading");
  expect("wait shop adViewDidReceiveAd", "ok shop adViewDidReceiveAd:");
  expect("clock advance 1", "ok clock");

  struct Link {
    const char* tap;
    const char* screen;
  } links[] = {
      {"ok tapped shop link 0 mailto:shop@example.com", "MFMailComposeViewController"},
      {"ok tapped shop link 1 sms:5550100,5550101", "MFMessageComposeViewController"},
      {"ok tapped shop link 2 qomb://opener/open?a=in_app_store", "SKStoreProductViewController"},
  };
  for (std::size_t i = 0; i < std::size(links); ++i) {
    SCOPED_TRACE(links[i].screen);
    expect("tap shop " + std::to_string(i), links[i].tap);
    // Each screen takes over the host's screen and gives it back, as a full-screen ad does.
    expect("wait shop adViewWillPresentScreen", "ok shop adViewWillPresentScreen:");
    const std::string shown = std::string("full screen ") + links[i].screen;
    EXPECT_NE(screenShowing(shown).find(shown), std::string::npos);
    expect("close", std::string("ok closed ") + links[i].screen);
    expect("wait shop adViewDidDismissScreen", "ok shop adViewDidDismissScreen:");
  }
  EXPECT_EQ(send("screen").find("full screen"), std::string::npos) << "every screen the ad opened has gone";

  // No purchase delegate in this host: the offer is refused with the public log line.
  expect("tap shop 3", "ok tapped shop link 3 qomb://opener/open?a=in_app_purchase");
  const std::string log = askUntil("log", "in-app purchase delegate");
  EXPECT_NE(log.find("You must set the in-app purchase delegate. Transaction cannot be completed."), std::string::npos)
      << log;
}

}  // namespace adhost_opener_test
