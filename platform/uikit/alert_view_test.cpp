#include "platform/uikit/alert_view.h"

#include <gtest/gtest.h>

#include "platform/dispatch/run_loop.h"

namespace uikit {
namespace {

TEST(AlertView, ShowsItselfUntilItsButtonIsChosen) {
  std::weak_ptr<AlertView> weak;
  {
    auto alert = AlertView::alertViewWithTitleMessageCancelButtonTitle("Whoops!", "Sorry.", "OK");
    alert->show();
    weak = alert;
  }
  auto up = AlertController::visibleAlert();
  ASSERT_TRUE(up);
  EXPECT_EQ(up->alertTitle(), "Whoops!");
  EXPECT_EQ(up->message(), "Sorry.");
  ASSERT_EQ(up->actions().size(), 1u);
  EXPECT_EQ(up->actions()[0]->title(), "OK");
  EXPECT_FALSE(weak.expired()) << "kept alive while up";
  EXPECT_TRUE(up->chooseActionWithTitle("OK"));
  dispatch::RunLoop::main().drain();
  EXPECT_EQ(AlertController::visibleAlert(), nullptr);
  EXPECT_TRUE(weak.expired());
}

TEST(AlertView, ItsDelegateHearsTheChosenButtonByIndex) {
  struct Delegate : AlertViewDelegate {
    std::vector<long> chosen;
    void alertViewClickedButtonAtIndex(const std::shared_ptr<AlertView>& alert, long index) override {
      EXPECT_FALSE(alert->isVisible());
      chosen.push_back(index);
    }
  };
  auto delegate = std::make_shared<Delegate>();
  for (const char* tapped : {"Cancel", "Call"}) {
    auto alert = AlertView::alertViewWithTitleMessageCancelButtonTitle("", "555 0100", "Cancel");
    EXPECT_EQ(alert->firstOtherButtonIndex(), -1);
    EXPECT_EQ(alert->addButtonWithTitle("Call"), 1);
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->firstOtherButtonIndex(), 1);
    alert->setDelegate(delegate);
    alert->show();
    auto up = AlertController::visibleAlert();
    ASSERT_TRUE(up);
    ASSERT_EQ(up->actions().size(), 2u);
    EXPECT_TRUE(up->chooseActionWithTitle(tapped));
    dispatch::RunLoop::main().drain();
  }
  EXPECT_EQ(delegate->chosen, (std::vector<long>{0, 1}));
  EXPECT_EQ(AlertController::visibleAlert(), nullptr);

  auto plain = AlertView::alertViewWithTitleMessageCancelButtonTitle("t", "m", std::nullopt);
  EXPECT_EQ(plain->addButtonWithTitle("Only"), 0);
  EXPECT_EQ(plain->cancelButtonIndex(), -1);
  EXPECT_EQ(plain->firstOtherButtonIndex(), 0);
}

}  // namespace
}  // namespace uikit
