#include "ads/services/geometry.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>

#include "ads/services/application.h"
#include "ads/services/device.h"
#include "ads/services/test_support.h"
#include "platform/system/device_facts.h"
#include "platform/system/screen_facts.h"
#include "platform/uikit/application.h"
#include "platform/uikit/graphics_context.h"
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
  std::atomic<long> state{QMAApplicationStateActive};
  void SetUp() override {
    DeviceRootTest::SetUp();
    QMAApplication::setApplicationStateSource([this] { return state.load(); });
    window = std::make_shared<uikit::Window>(QMARect{0, 0, 375, 667});
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    window->setHidden(true);
    window.reset();
    QMAApplication::setApplicationStateSource(nullptr);
    uikit::Application::sharedApplication()->setDelegate(nullptr);
    DeviceRootTest::TearDown();
  }
};

TEST_F(VisibilityTest, NothingIsVisibleUnlessTheApplicationIsActive) {
  auto view = std::make_shared<uikit::View>(QMARect{10, 10, 20, 20});
  window->addSubview(view);
  EXPECT_EQ(qma_visibleBounds(*view), (QMARect{10, 10, 20, 20}));
  for (long s : {QMAApplicationStateInactive, QMAApplicationStateBackground}) {
    state = s;
    EXPECT_EQ(qma_visibleBounds(*view), QMARect{}) << "state " << s;
  }
}

// A host whose windows support different orientations (a landscape-only video window
// beside a portrait main window).
struct PerWindowOrientations : uikit::ApplicationDelegate {
  std::weak_ptr<uikit::Window> landscapeWindow;
  std::optional<std::uint64_t> applicationSupportedInterfaceOrientationsForWindow(
      const std::shared_ptr<uikit::Application>&, const std::shared_ptr<uikit::Window>& w) override {
    if (w && w == landscapeWindow.lock()) return uikit::InterfaceOrientationMaskLandscape;
    return uikit::InterfaceOrientationMaskPortrait;
  }
};

TEST_F(VisibilityTest, SupportedOrientationsAreTheApplicationsAnswerForTheViewsWindow) {
  auto inMain = std::make_shared<uikit::View>(QMARect{0, 0, 10, 10});
  window->addSubview(inMain);
  auto video = std::make_shared<uikit::Window>(QMARect{0, 0, 667, 375});
  video->makeKeyAndVisible();
  auto inVideo = std::make_shared<uikit::View>(QMARect{0, 0, 10, 10});
  video->addSubview(inVideo);

  // Without a delegate that decides, the information dictionary's list counts, and
  // without one every orientation but upside down.
  EXPECT_TRUE(qma_supportsOrientations(*inMain, uikit::InterfaceOrientationMaskLandscapeLeft));
  EXPECT_FALSE(qma_supportsOrientations(*inMain, uikit::InterfaceOrientationMaskPortraitUpsideDown));
  foundation::Bundle::main().setInfoValue(uikit::kUISupportedInterfaceOrientationsKey,
                                          Value(foundation::Array{Value("UIInterfaceOrientationPortrait")}));
  EXPECT_FALSE(qma_supportsOrientations(*inMain, uikit::InterfaceOrientationMaskLandscape));
  EXPECT_TRUE(qma_supportsOrientations(*inMain, uikit::InterfaceOrientationMaskAll));

  auto delegate = std::make_shared<PerWindowOrientations>();
  delegate->landscapeWindow = video;
  uikit::Application::sharedApplication()->setDelegate(delegate);
  EXPECT_TRUE(qma_supportsOrientations(*inVideo, uikit::InterfaceOrientationMaskLandscapeRight));
  EXPECT_FALSE(qma_supportsOrientations(*inVideo, uikit::InterfaceOrientationMaskPortrait));
  EXPECT_FALSE(qma_supportsOrientations(*inMain, uikit::InterfaceOrientationMaskLandscape));
  EXPECT_TRUE(qma_supportsOrientations(*inMain, uikit::InterfaceOrientationMaskPortrait));
  video->setHidden(true);
}

// A view that draws a dot of one point at (1, 1) over its background.
struct Dotted : uikit::View {
  using uikit::View::View;
  void drawRect(uikit::GraphicsContext& ctx, QMARect) const override { ctx.fillRect({1, 1, 1, 1}, uikit::Color{0, 0, 1, 1}); }
};

TEST_F(VisibilityTest, ASnapshotHasOnePixelPerDevicePixelOfTheView) {
  auto view = std::make_shared<Dotted>(QMARect{50, 50, 20, 10});
  view->setBackgroundColor(uikit::Color{1, 0, 0, 1});
  auto child = std::make_shared<uikit::View>(QMARect{10, 0, 10, 10});
  child->setBackgroundColor(uikit::Color{0, 1, 0, 1});
  view->addSubview(child);
  window->addSubview(view);
  const std::array<std::uint8_t, 4> red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255};
  auto pixel = [](const uikit::Image& image, std::uint32_t x, std::uint32_t y) {
    const auto* p = image.rgba().data() + (std::size_t{y} * image.pixelWidth() + x) * 4;
    return std::array<std::uint8_t, 4>{p[0], p[1], p[2], p[3]};
  };

  // The main screen's scale unless the view has its own.
  struct Case {
    std::optional<double> viewScale;
    double screenScale;
    std::uint32_t factor;
  } cases[] = {{std::nullopt, 2, 2}, {std::nullopt, 3, 3}, {1.0, 3, 1}};
  for (const auto& c : cases) {
    system_facts::setScreen({375, 667, c.screenScale});
    if (c.viewScale) view->setContentScaleFactor(*c.viewScale);
    auto image = qma_render(*view);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelWidth(), 20 * c.factor);
    EXPECT_EQ(image->pixelHeight(), 10 * c.factor);
    EXPECT_EQ(image->scale(), 1);
    EXPECT_EQ(pixel(*image, 0, 0), red) << "the view's own origin, not its place in the window";
    EXPECT_EQ(pixel(*image, c.factor, c.factor), blue) << "what the view draws, scaled";
    EXPECT_EQ(pixel(*image, 2 * c.factor, 2 * c.factor), red);
    EXPECT_EQ(pixel(*image, 10 * c.factor, 0), green) << "subviews in their place";
    EXPECT_EQ(pixel(*image, 20 * c.factor - 1, 10 * c.factor - 1), green);
  }

  // Scrolled: the snapshot starts at the bounds origin.
  view->setContentScaleFactor(1);
  view->setBounds({10, 0, 20, 10});
  EXPECT_EQ(pixel(*qma_render(*view), 0, 0), green);

  // Nothing to draw, or more than memory should hold: no image.
  EXPECT_FALSE(qma_render(uikit::View(QMARect{0, 0, 0, 10})));
  EXPECT_FALSE(qma_render(uikit::View(QMARect{0, 0, 1e7, 10})));
  uikit::View odd(QMARect{0, 0, 10, 10});
  odd.setContentScaleFactor(std::nan(""));  // ignored
  EXPECT_EQ(odd.contentScaleFactor(), uikit::Screen::mainScreen().scale());
}

TEST_F(VisibilityTest, VisibleBoundsCountTheViewItselfAndEveryClippingAncestor) {
  auto clip = std::make_shared<uikit::View>(QMARect{0, 100, 200, 100});
  clip->setClipsToBounds(true);
  window->addSubview(clip);
  auto ad = std::make_shared<uikit::View>(QMARect{150, 50, 100, 100});  // does not clip itself
  clip->addSubview(ad);
  EXPECT_EQ(qma_visibleBounds(*ad), (QMARect{150, 150, 50, 50}));

  ad->setFrame({0, 300, 100, 100});  // scrolled out of its clipping superview
  EXPECT_EQ(qma_visibleBounds(*ad), QMARect{});

  ad->setFrame({0, 100, 100, 100});  // just below its clipping superview, touching its edge
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
