// The stand-in calendar: the user's answer decides once, and only an allowed
// application saves events.
#include "platform/eventkit/event_store.h"

#include <gtest/gtest.h>

namespace eventkit {
namespace {

struct EventStoreTest : ::testing::Test {
  void TearDown() override { EventStore::reset(); }
};

TEST_F(EventStoreTest, TheUsersAnswerIsAskedOnceAndDecidesWhetherEventsAreSaved) {
  EXPECT_EQ(EventStore::authorizationStatusForEntityType(EntityTypeEvent), AuthorizationStatusNotDetermined);
  EXPECT_FALSE(EventStore::saveEvent(Event{})) << "nothing is saved before the user allowed it";
  EventStore::setAnswerToAccessRequest(true);
  bool granted = false;
  EventStore::requestAccessToEntityType(EntityTypeEvent, [&](bool g) { granted = g; });
  EXPECT_TRUE(granted);
  EXPECT_EQ(EventStore::authorizationStatusForEntityType(EntityTypeEvent), AuthorizationStatusAuthorized);
  EXPECT_EQ(EventStore::authorizationStatusForEntityType(EntityTypeReminder), AuthorizationStatusNotDetermined);
  Event e;
  e.title = "Sale";
  EXPECT_TRUE(EventStore::saveEvent(e));
  ASSERT_EQ(EventStore::savedEvents().size(), 1u);
  EXPECT_EQ(EventStore::savedEvents()[0].title, "Sale");
  // A decided status is not asked again.
  EventStore::setAnswerToAccessRequest(false);
  EventStore::requestAccessToEntityType(EntityTypeEvent, [&](bool g) { granted = g; });
  EXPECT_TRUE(granted);
  EventStore::setAuthorizationStatus(EntityTypeEvent, AuthorizationStatusDenied);
  EXPECT_FALSE(EventStore::saveEvent(e));
}

}  // namespace
}  // namespace eventkit

// ---- the event editor

#include "platform/eventkit/event_edit_view_controller.h"

namespace eventkit {
namespace {

struct EditorDelegate : EKEventEditViewDelegate {
  std::vector<long> actions;
  void eventEditViewControllerDidCompleteWithAction(const std::shared_ptr<EKEventEditViewController>&,
                                                    EKEventEditViewAction action) override {
    actions.push_back(action);
  }
};

TEST_F(EventStoreTest, TheEditorSavesOnlyWhatTheUserSavesAndTellsItsDelegate) {
  EventStore::setAuthorizationStatus(EntityTypeEvent, AuthorizationStatusAuthorized);
  auto editor = EKEventEditViewController::init();
  auto delegate = std::make_shared<EditorDelegate>();
  editor->setEditViewDelegate(delegate);
  Event event;
  event.title = "Launch";
  editor->setEvent(event);
  editor->completeWithAction(EKEventEditViewActionCanceled);
  EXPECT_TRUE(EventStore::savedEvents().empty());
  editor->completeWithAction(EKEventEditViewActionSaved);
  ASSERT_EQ(EventStore::savedEvents().size(), 1u);
  EXPECT_EQ(EventStore::savedEvents()[0].title, "Launch");
  EXPECT_EQ(delegate->actions, (std::vector<long>{0, 1}));
}

}  // namespace
}  // namespace eventkit
