// The mediation manager a slot owns once the mediation part is installed: it knows its
// slot, the slot's cancels reach it, and the slot lets it go when it goes away.
#include "ads/mediation/ad_manager.h"

#include <gtest/gtest.h>

#include "ads/slots/slot_test_support.h"

namespace {

using slots_test::SlotFixture;

struct AdManager : SlotFixture {
  void SetUp() override {
    QMAMAdManager::install();
    SlotFixture::SetUp();
  }
  void TearDown() override {
    SlotFixture::TearDown();
    QMASlot::setMediationManagerFactory(nullptr);
  }
};

TEST_F(AdManager, EachNewSlotOwnsOneThatKnowsItHearsItsCancelsAndLosesItWhenItGoes) {
  std::shared_ptr<QMAMAdManager> manager;
  {
    auto slot = makeSlot();
    manager = std::dynamic_pointer_cast<QMAMAdManager>(slot->mediationManager());
    ASSERT_TRUE(manager);
    EXPECT_EQ(manager->slot(), slot);
    auto other = makeSlot();
    EXPECT_NE(other->mediationManager(), slot->mediationManager());

    const auto group = manager->pendingActionGroup();
    slot->cancelPendingActions();
    EXPECT_EQ(manager->pendingActionGroup(), group + 1);
    EXPECT_FALSE(manager->requestInProgress());
  }
  drainMain();
  EXPECT_EQ(manager->slot(), nullptr);
}

TEST_F(AdManager, WithoutTheMediationPartASlotHasNone) {
  QMASlot::setMediationManagerFactory(nullptr);
  auto slot = makeSlot();
  EXPECT_EQ(slot->mediationManager(), nullptr);
  slot->cancelPendingActions();  // nothing to tell
  EXPECT_EQ(slot->state(), QMASlotStateIdle);
}

}  // namespace
