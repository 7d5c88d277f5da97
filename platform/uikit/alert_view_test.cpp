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

}  // namespace
}  // namespace uikit
