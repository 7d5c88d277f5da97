// A pan as a finger makes it: its states, where it is and how fast it goes, its targets, and
// what disabling it in the middle does.
#include "platform/uikit/gesture_recognizer.h"

#include <gtest/gtest.h>

#include "platform/foundation/clock.h"
#include "platform/uikit/view.h"

namespace uikit {
namespace {

struct PanTest : ::testing::Test {
  void SetUp() override { foundation::Clock::useManual(1000); }
  void TearDown() override { foundation::Clock::useSystem(); }
};

TEST_F(PanTest, APanBeginsAtTheFirstMoveChangesAndEndsWhereAndAsFastAsTheFingerWent) {
  auto parent = std::make_shared<View>(Rect{{0, 0}, {320, 480}});
  auto view = std::make_shared<View>(Rect{{0, 100}, {320, 50}});
  parent->addSubview(view);
  auto pan = std::make_shared<PanGestureRecognizer>();
  view->addGestureRecognizer(pan);
  view->addGestureRecognizer(pan);
  EXPECT_EQ(view->gestureRecognizers().size(), 1u);
  std::vector<std::string> heard;
  const int key = 0;
  pan->addTargetForKey(&key, [&](GestureRecognizer& r) {
    heard.push_back(std::to_string(static_cast<long>(r.state())) + "@" +
                    std::to_string(static_cast<int>(static_cast<PanGestureRecognizer&>(r).locationInView(nullptr).y)));
  });
  pan->addTargetForKey(&key, [&](GestureRecognizer& r) {
    heard.push_back(std::to_string(static_cast<long>(r.state())) + "@" +
                    std::to_string(static_cast<int>(static_cast<PanGestureRecognizer&>(r).locationInView(nullptr).y)));
  });
  EXPECT_EQ(pan->targetCount(), 1u);
  pan->touchesBegan({{{10, 10}, {10, 10}}});
  EXPECT_TRUE(heard.empty());
  pan->touchesMoved({{{10, 20}, {10, 10}}});  // the same instant: one frame
  EXPECT_DOUBLE_EQ(pan->velocityInView(nullptr).y, 600);
  foundation::Clock::advance(0.5);
  pan->touchesMoved({{{10, 30}, {10, 20}}});
  EXPECT_DOUBLE_EQ(pan->velocityInView(nullptr).y, 20);
  EXPECT_EQ(pan->translationInView(view.get()).y, 20);
  EXPECT_EQ(pan->locationInView(view.get()).y, 30);
  pan->touchesEnded({{{10, 30}, {10, 30}}});
  EXPECT_EQ(heard, (std::vector<std::string>{"1@120", "2@130", "3@130"}));
  pan->reset();
  // A touch that never moved is no pan; a target taken out hears nothing.
  pan->touchesBegan({{{10, 10}, {10, 10}}});
  pan->touchesEnded({{{10, 10}, {10, 10}}});
  EXPECT_EQ(pan->state(), GestureRecognizerState::Failed);
  pan->reset();
  pan->removeTarget(&key);
  pan->performTouches({{10, 10}, {10, 40}});
  EXPECT_EQ(heard.size(), 3u);
  view->removeGestureRecognizer(pan);
  EXPECT_TRUE(view->gestureRecognizers().empty());
  EXPECT_FALSE(pan->view());
}

TEST_F(PanTest, DisablingAPanUnderWayCancelsItAndADisabledOneTakesNoTouches) {
  auto pan = std::make_shared<PanGestureRecognizer>();
  std::vector<GestureRecognizerState> heard;
  pan->addTarget([&](GestureRecognizer& r) {
    heard.push_back(r.state());
    if (r.state() == GestureRecognizerState::Began) r.setEnabled(false);
  });
  pan->performTouches({{0, 0}, {0, 10}, {0, 20}});
  EXPECT_EQ(heard, (std::vector<GestureRecognizerState>{GestureRecognizerState::Began, GestureRecognizerState::Cancelled}));
  EXPECT_FALSE(pan->isEnabled());
  pan->performTouches({{0, 0}, {0, 10}});
  EXPECT_EQ(heard.size(), 2u);
  // The system's cancel of a pan under way is heard too.
  pan->setEnabled(true);
  heard.clear();
  auto quiet = std::make_shared<PanGestureRecognizer>();
  quiet->addTarget([&](GestureRecognizer& r) { heard.push_back(r.state()); });
  quiet->touchesBegan({{{0, 0}, {0, 0}}});
  quiet->touchesMoved({{{0, 5}, {0, 0}}});
  quiet->touchesCancelled({{{0, 5}, {0, 5}}});
  EXPECT_EQ(heard, (std::vector<GestureRecognizerState>{GestureRecognizerState::Began, GestureRecognizerState::Cancelled}));
}

}  // namespace
}  // namespace uikit
