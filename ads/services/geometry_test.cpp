#include "ads/services/geometry.h"

#include <gtest/gtest.h>

#include "ads/services/application.h"
#include "ads/services/device.h"
#include "ads/services/test_support.h"
#include "platform/system/device_facts.h"
#include "platform/uikit/window.h"

using foundation::Dictionary;
using foundation::Value;

TEST(RectDictionaries, ShortFormIsStandardisedLongFormIsNot) {
  QMARect r{10, 20, -30, 40};
  EXPECT_EQ(QMADictionaryWithRect(r), (Dictionary{{"x", Value(-20.0)}, {"y", Value(20.0)}, {"w", Value(30.0)}, {"h", Value(40.0)}}));
  EXPECT_EQ(QMADictionaryFromCGRect(r).at("width"), Value(-30.0));
  EXPECT_EQ(QMACGRectFromDictionary(QMADictionaryFromCGRect(r)), r);

  foundation::Error error;
  Dictionary bad{{"x", Value(1)}, {"y", Value(2)}, {"width", Value("3")}, {"height", Value(4)}};
  EXPECT_EQ(QMACGRectFromDictionary(bad, &error), QMARect{});
  EXPECT_EQ(error.domain, "cg_rect_conversion");
  EXPECT_EQ(error.code, 1);
  EXPECT_EQ(error.localizedDescription().rfind("Invalid SDK Core rectangle ", 0), 0u);
}

// The shared device as a launch on OS 7.1 caches it, forgotten again at the end.
struct InterfaceOrientation : qma_test::DeviceRootTest {
  void SetUp() override {
    DeviceRootTest::SetUp();
    auto facts = system_facts::device();
    facts.systemVersion = "7.1";
    system_facts::setDevice(facts);
    QMADevice::sharedInstance()->resetStaticParameters();
    QMADevice::sharedInstance()->cacheStaticParameters();
  }
  void TearDown() override {
    QMADevice::sharedInstance()->resetStaticParameters();
    DeviceRootTest::TearDown();
  }
};

TEST_F(InterfaceOrientation, BeforeOS8RectanglesFollowTheOrientation) {
  ASSERT_FALSE(QMADevice::sharedInstance()->isOSAtLeastMajorMinorPatch(8, 0, 0));
  QMARect screen{0, 0, 320, 480};
  QMARect r{10, 20, 100, 50};
  EXPECT_EQ(QMARectForInterfaceOrientation(3, r, screen), (QMARect{20, 210, 50, 100}));
  EXPECT_EQ(QMARectForInterfaceOrientation(2, r, screen), (QMARect{210, 410, 100, 50}));
  EXPECT_EQ(QMARectForInterfaceOrientation(4, r, screen), (QMARect{410, 10, 50, 100}));
  EXPECT_EQ(QMARectForInterfaceOrientation(1, r, screen), r);
}

struct VisibilityTest : qma_test::DeviceRootTest {
  std::shared_ptr<uikit::Window> window;
  void SetUp() override {
    DeviceRootTest::SetUp();
    window = std::make_shared<uikit::Window>(QMARect{0, 0, 375, 667});
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    window->setHidden(true);
    window.reset();
    DeviceRootTest::TearDown();
  }
};

TEST_F(VisibilityTest, VisibleBoundsCountTheViewItselfAndEveryClippingAncestor) {
  auto clip = std::make_shared<uikit::View>(QMARect{0, 100, 200, 100});
  clip->setClipsToBounds(true);
  window->addSubview(clip);
  auto ad = std::make_shared<uikit::View>(QMARect{150, 50, 100, 100});  // does not clip itself
  clip->addSubview(ad);
  EXPECT_EQ(qma_visibleBounds(*ad), (QMARect{150, 150, 50, 50}));

  ad->setFrame({0, 300, 100, 100});  // scrolled out of its clipping superview
  EXPECT_EQ(qma_visibleBounds(*ad), QMARect{});

  auto offscreen = std::make_shared<uikit::View>(QMARect{1000, 1000, 10, 10});
  window->addSubview(offscreen);
  EXPECT_EQ(qma_visibleBounds(*offscreen), QMARect{});

  auto plain = std::make_shared<uikit::View>(QMARect{10, 10, 20, 20});
  window->addSubview(plain);
  EXPECT_EQ(qma_visibleBounds(*plain), (QMARect{10, 10, 20, 20}));
  plain->setHidden(true);
  EXPECT_EQ(qma_visibleBounds(*plain), QMARect{});
  EXPECT_EQ(qma_visibleBounds(*std::make_shared<uikit::View>(QMARect{0, 0, 5, 5})), QMARect{});  // no window
}

TEST_F(VisibilityTest, PositionOnScreenIsVisibleUpToTheRightEdgeOfTheApplicationFrame) {
  auto container = std::make_shared<uikit::View>(QMARect{0, 0, 375, 667});
  window->addSubview(container);
  auto view = std::make_shared<uikit::View>(QMARect{375, 100, 50, 50});
  container->addSubview(view);
  auto pos = QMAViewUtilities::positionOfViewInScreen(*view, uikit::Screen::mainScreen());
  ASSERT_TRUE(pos);
  EXPECT_EQ(pos->at("x"), Value(375.0));
  EXPECT_EQ(pos->at("visible"), Value(true));
  view->setFrame({376, 100, 50, 50});
  EXPECT_EQ(QMAViewUtilities::positionOfViewInScreen(*view, uikit::Screen::mainScreen())->at("visible"), Value(false));
  EXPECT_FALSE(QMAViewUtilities::positionOfViewInScreen(*std::make_shared<uikit::View>(QMARect{}), uikit::Screen::mainScreen()));
}
