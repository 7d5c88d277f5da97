#include "platform/uikit/application.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/notification_center.h"

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

}  // namespace
}  // namespace uikit
