#include "platform/uikit/application.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "platform/system/device_facts.h"

namespace uikit {
namespace {

struct RecordingDelegate : ApplicationDelegate {
  std::vector<std::string>* log;
  explicit RecordingDelegate(std::vector<std::string>* l) : log(l) {}
  void applicationDidEnterBackground(const std::shared_ptr<Application>&) override { log->push_back("delegate:background"); }
  void applicationWillTerminate(const std::shared_ptr<Application>&) override { log->push_back("delegate:terminate"); }
};

TEST(Application, LifecycleReachesTheDelegateThenTheNotificationCentreAndIgnoresOutOfOrderCalls) {
  std::vector<std::string> log;
  auto& center = foundation::NotificationCenter::defaultCenter();
  auto app = std::make_shared<Application>();
  auto token = center.addObserverForName("", app.get(), nullptr, [&](const foundation::Notification& n) {
    log.push_back(n.name);
  });
  app->setDelegate(std::make_shared<RecordingDelegate>(&log));

  app->enterForeground();  // not in the background: nothing happens
  app->launch();
  app->enterBackground();
  app->enterForeground();
  app->receiveMemoryWarning();
  app->terminate();
  center.removeObserver(token);

  EXPECT_EQ(log, (std::vector<std::string>{
                     kUIApplicationDidFinishLaunchingNotification,
                     kUIApplicationDidBecomeActiveNotification,
                     kUIApplicationWillResignActiveNotification,
                     "delegate:background",
                     kUIApplicationDidEnterBackgroundNotification,
                     kUIApplicationWillEnterForegroundNotification,
                     kUIApplicationDidBecomeActiveNotification,
                     kUIApplicationDidReceiveMemoryWarningNotification,
                     "delegate:terminate",
                     kUIApplicationWillTerminateNotification,
                 }));
}

struct LandscapeVideoDelegate : ApplicationDelegate {
  std::shared_ptr<Window> video;
  std::optional<std::uint64_t> applicationSupportedInterfaceOrientationsForWindow(
      const std::shared_ptr<Application>&, const std::shared_ptr<Window>& window) override {
    if (window && window == video) return InterfaceOrientationMaskLandscape;
    return std::nullopt;  // the information dictionary decides
  }
};

TEST(Application, SupportedOrientationsComeFromTheDelegatePerWindowThenTheInfoDictionaryThenTheDevice) {
  auto app = std::make_shared<Application>();
  auto main = std::make_shared<Window>(), video = std::make_shared<Window>();
  const foundation::Dictionary savedInfo = foundation::Bundle::main().infoDictionary();
  struct Case {
    const char* why;
    foundation::Value listed;
    system_facts::InterfaceIdiom idiom;
    std::uint64_t mask;
  } cases[] = {
      {"phone default", foundation::Value(), system_facts::InterfaceIdiom::Phone, InterfaceOrientationMaskAllButUpsideDown},
      {"tablet default", foundation::Value(), system_facts::InterfaceIdiom::Pad, InterfaceOrientationMaskAll},
      {"listed", foundation::Value(foundation::Array{foundation::Value("UIInterfaceOrientationLandscapeLeft"),
                                                     foundation::Value("UIInterfaceOrientationPortraitUpsideDown")}),
       system_facts::InterfaceIdiom::Phone, InterfaceOrientationMaskLandscapeLeft | InterfaceOrientationMaskPortraitUpsideDown},
      {"nothing known listed", foundation::Value(foundation::Array{foundation::Value("sideways")}),
       system_facts::InterfaceIdiom::Phone, InterfaceOrientationMaskAllButUpsideDown},
  };
  auto delegate = std::make_shared<LandscapeVideoDelegate>();
  delegate->video = video;
  for (const auto& c : cases) {
    foundation::Bundle::main().setInfoValue(kUISupportedInterfaceOrientationsKey, c.listed);
    auto facts = system_facts::device();
    facts.idiom = c.idiom;
    system_facts::setDevice(facts);
    app->setDelegate(nullptr);
    EXPECT_EQ(app->supportedInterfaceOrientationsForWindow(main), c.mask) << c.why;
    app->setDelegate(delegate);
    EXPECT_EQ(app->supportedInterfaceOrientationsForWindow(main), c.mask) << c.why;
    EXPECT_EQ(app->supportedInterfaceOrientationsForWindow(video), InterfaceOrientationMaskLandscape) << c.why;
    EXPECT_EQ(app->supportedInterfaceOrientationsForWindow(nullptr), c.mask) << c.why;
  }
  foundation::Bundle::main().setInfoDictionary(savedInfo);
  system_facts::resetDeviceFacts();
}

}  // namespace
}  // namespace uikit
