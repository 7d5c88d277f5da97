#include "platform/uikit/device.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/notification_center.h"
#include "platform/system/screen_facts.h"
#include "platform/uikit/application.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/view_controller.h"
#include "platform/uikit/window.h"

namespace uikit {
namespace {

// A controller that says which orientations it takes and writes down each turn it hears.
struct Turning : ViewController {
  Turning(std::string n, std::uint64_t m, std::vector<std::string>* l) : name(std::move(n)), mask(m), log(l) {}
  std::string name;
  std::uint64_t mask;
  std::vector<std::string>* log;
  std::uint64_t supportedInterfaceOrientations() const override { return mask; }
  void didRotateFromInterfaceOrientation(long from) override {
    log->push_back(name + " turned from " + std::to_string(from) + " to " + std::to_string(interfaceOrientation()) +
                   " at " + std::to_string(static_cast<int>(view()->bounds().size.width)) + "x" +
                   std::to_string(static_cast<int>(view()->bounds().size.height)));
  }
};

struct DeviceTurn : ::testing::Test {
  std::vector<std::string> log;
  std::shared_ptr<Window> window = std::make_shared<Window>(Screen::mainScreen().bounds());
  std::shared_ptr<Turning> root = std::make_shared<Turning>("root", InterfaceOrientationMaskAll, &log);
  foundation::NotificationCenter::ObserverToken deviceToken, interfaceToken;

  void SetUp() override {
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto& center = foundation::NotificationCenter::defaultCenter();
    deviceToken = center.addObserverForName(kUIDeviceOrientationDidChangeNotification, nullptr, nullptr,
                                            [this](const foundation::Notification&) {
                                              log.push_back("device " + std::to_string(static_cast<long>(
                                                                            Device::currentDevice()->orientation())));
                                            });
    interfaceToken = center.addObserverForName(
        kUIApplicationDidChangeStatusBarOrientationNotification, nullptr, nullptr, [this](const foundation::Notification&) {
          log.push_back("interface " + std::to_string(Application::sharedApplication()->statusBarOrientation()));
        });
  }
  void TearDown() override {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.removeObserver(deviceToken);
    center.removeObserver(interfaceToken);
    Device::currentDevice()->setOrientation(DeviceOrientation::Portrait);
    window->setHidden(true);
    system_facts::setScreen({});
  }
  static void turn(DeviceOrientation o) { Device::currentDevice()->setOrientation(o); }
  static long interface() { return Application::sharedApplication()->statusBarOrientation(); }
};

TEST_F(DeviceTurn, TheInterfaceFollowsTheDeviceAndEveryScreenFillingWindowTurnsWithIt) {
  auto small = std::make_shared<Window>(Rect{10, 10, 100, 50});
  small->setHidden(false);
  auto banner = std::make_shared<View>(Rect{0, 617, 375, 50});
  banner->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleTopMargin);
  root->view()->addSubview(banner);
  auto shown = std::make_shared<Turning>("shown", InterfaceOrientationMaskAll, &log);
  ASSERT_TRUE(root->presentViewController(shown, false, nullptr));

  turn(DeviceOrientation::LandscapeLeft);
  EXPECT_EQ(interface(), 3);  // the device's landscape left is the interface's landscape right
  EXPECT_EQ(Screen::mainScreen().bounds(), (Rect{0, 0, 667, 375}));
  EXPECT_EQ(window->frame(), (Rect{0, 0, 667, 375}));
  EXPECT_EQ(root->view()->frame(), (Rect{0, 0, 667, 375}));
  EXPECT_EQ(shown->view()->frame(), (Rect{0, 0, 667, 375}));
  EXPECT_EQ(banner->frame(), (Rect{0, 325, 667, 50}));
  EXPECT_EQ(small->frame(), (Rect{10, 10, 100, 50})) << "a window smaller than the screen stays where it was put";

  turn(DeviceOrientation::LandscapeRight);
  EXPECT_EQ(interface(), 4);
  EXPECT_EQ(window->frame(), (Rect{0, 0, 667, 375}));
  turn(DeviceOrientation::FaceUp);  // lying flat tells the interface nothing
  EXPECT_EQ(interface(), 4);
  turn(DeviceOrientation::Portrait);
  EXPECT_EQ(banner->frame(), (Rect{0, 617, 375, 50}));

  EXPECT_EQ(log, (std::vector<std::string>{
                     "device 3", "interface 3", "root turned from 1 to 3 at 667x375", "shown turned from 1 to 3 at 667x375",
                     "device 4", "interface 4", "root turned from 3 to 4 at 667x375", "shown turned from 3 to 4 at 667x375",
                     "device 5",
                     "device 1", "interface 1", "root turned from 4 to 1 at 375x667", "shown turned from 4 to 1 at 375x667",
                 }));
  small->setHidden(true);
}

// The interface turns only to an orientation that both the application (for the key window)
// and the controller on top take; the device turns all the same.
TEST_F(DeviceTurn, TheInterfaceStaysWhereTheApplicationOrTheScreenOnTopDoesNotTurn) {
  turn(DeviceOrientation::PortraitUpsideDown);  // a phone's application takes every orientation but that one
  EXPECT_EQ(interface(), 1);
  EXPECT_EQ(Device::currentDevice()->orientation(), DeviceOrientation::PortraitUpsideDown);

  // A landscape-only screen turns the interface as it comes, and holds it there.
  auto video = std::make_shared<Turning>("video", InterfaceOrientationMaskLandscape, &log);
  ASSERT_TRUE(root->presentViewController(video, false, nullptr));
  EXPECT_EQ(interface(), 4);
  EXPECT_EQ(window->frame(), (Rect{0, 0, 667, 375}));
  turn(DeviceOrientation::Portrait);
  EXPECT_EQ(interface(), 4);
  turn(DeviceOrientation::LandscapeLeft);
  EXPECT_EQ(interface(), 3);
  root->dismissViewControllerAnimated(false, nullptr);
  turn(DeviceOrientation::Portrait);
  EXPECT_EQ(interface(), 1);
  EXPECT_EQ(window->frame(), (Rect{0, 0, 375, 667}));

  EXPECT_EQ(log, (std::vector<std::string>{
                     "device 2",
                     "interface 4", "root turned from 1 to 4 at 667x375", "video turned from 1 to 4 at 667x375",
                     "device 1",
                     "device 3", "interface 3", "root turned from 4 to 3 at 667x375", "video turned from 4 to 3 at 667x375",
                     "device 1", "interface 1", "root turned from 3 to 1 at 375x667",
                 }));
}

}  // namespace
}  // namespace uikit
