// A slot whose pages lose their web process: the SDK-core page while the slot waits for
// its answer, and the shown ad's own page once nothing can bring it back.
#include <gtest/gtest.h>

#include "ads/slots/slot.h"
#include "ads/slots/slot_test_support.h"

namespace {

using nlohmann::json;
using slots_test::SlotFixture;

struct SlotRecovery : SlotFixture {
  bool pumpUntilTheOwnerHears(std::size_t events) {
    return pump([&] {
      std::size_t heard = 0;
      for (const auto& e : owner->events)
        if (e == "finished" || e.rfind("failed", 0) == 0) ++heard;
      return heard >= events;
    });
  }
  static const std::shared_ptr<QMASDKCoreWebView>& corePage() {
    return QMASDKCoreController::sharedInstance()->activeSDKCoreWebView();
  }
};

json scenario() {
  return {{"ads",
           {{"ad", {{"body", "<body>Ad</body>"}, {"headers", {{"X-Qvra-Refresh-Rate", "45"}}}}}}},
          {"default_ad", "ad"},
          {"answers", {{{"when", {{"slotname", "quiet"}}}, {"answer", "silence"}}}}};
}

// Without word of the loss the slot would wait out its 60 s for the answer; with it, the
// request fails at once as a page that failed to load does (request error 2), and the next
// request loads the page again and is served.
TEST_F(SlotRecovery, ARequestTheLostSDKCorePageNeverAnsweredFailsAtOnceAndTheNextIsServed) {
  useScenario(scenario());
  // The process-wide controller may still hold requests of earlier tests that no page
  // answered; this one is sent once there is one more.
  const auto controller = QMASDKCoreController::sharedInstance();
  const std::size_t pendingBefore = controller->pendingRequestCount();
  auto waiting = makeSlot();
  waiting->setAdUnitID("quiet");
  waiting->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return !waiting->requestID().empty() && controller->pendingRequestCount() == pendingBefore + 1; }));
  ASSERT_EQ(corePage()->state(), 3);

  corePage()->adView()->webView()->terminateWebProcess();
  ASSERT_TRUE(pumpUntilTheOwnerHears(1));
  EXPECT_EQ(owner->events.back(), "failed 2");
  EXPECT_EQ(waiting->state(), QMASlotStateSDKCoreFailed);
  EXPECT_EQ(corePage()->state(), 4);

  auto next = makeSlot();
  next->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilTheOwnerHears(2));
  EXPECT_EQ(owner->events.back(), "finished");
  EXPECT_EQ(server->requestsForPath(adserver::AdServer::kPagePath).size(), 2u);
}

// A shown ad that is over: the owner is told; a refreshing slot asks
// for the next ad at once, but only once before an ordinary refresh, so an ad that always
// ends cannot drive requests back to back.
TEST_F(SlotRecovery, AnAdWhosePageEndedIsReportedAndTheNextAdAskedForOnce) {
  useScenario(scenario());
  owner->shouldReload = true;
  auto slot = makeSlot();
  slot->setReloadable(true);
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilTheOwnerHears(1));
  ASSERT_EQ(owner->events.back(), "finished");
  ASSERT_FALSE(slot->adView()->isHidden());

  slot->adWebContentDidEnd();
  ASSERT_EQ(owner->errors.size(), 1u);
  EXPECT_EQ(owner->errors[0].code, QMARequestErrorCodeInternalError);
  EXPECT_EQ(owner->count("shouldReload"), 1);
  EXPECT_EQ(slot->state(), QMASlotStateRequestingAdURL);
  ASSERT_TRUE(pumpUntilTheOwnerHears(3));
  EXPECT_EQ(owner->events.back(), "finished");
  EXPECT_EQ(adRequests().size(), 2u);

  // The next ad ends too: this time the slot waits for its ordinary refresh.
  slot->adWebContentDidEnd();
  EXPECT_EQ(owner->errors.size(), 2u);
  EXPECT_EQ(owner->count("shouldReload"), 1);
  EXPECT_EQ(slot->state(), QMASlotStateFailed);
  ASSERT_TRUE(slot->reloadTimer());
  foundation::Clock::advance(45.1);
  drainMain();
  EXPECT_EQ(owner->count("shouldReload"), 2);
  EXPECT_FALSE(slot->refreshedEarlyAfterEndedAd());
  ASSERT_TRUE(pumpUntilTheOwnerHears(5));
  EXPECT_EQ(owner->events.back(), "finished");
}

// A slot that does not refresh tells its owner and asks for nothing.
TEST_F(SlotRecovery, AnAdWhosePageEndedInASlotThatDoesNotRefreshIsOnlyReported) {
  useScenario(scenario());
  auto slot = makeSlot();
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pumpUntilTheOwnerHears(1));
  slot->adWebContentDidEnd();
  EXPECT_EQ(owner->events.back(), "failed 11");
  EXPECT_FALSE(slot->reloadTimer());
  EXPECT_EQ(owner->count("willLoad"), 1);
}

}  // namespace
