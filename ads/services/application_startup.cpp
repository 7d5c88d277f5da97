// The ad component starts by itself: neither deliverable's own code calls it. When the
// image that holds the component loads, its class-load hook (ads/startup/, the top of the
// component, which also adds the other folders' early activities) observes the host's
// did-finish-launching notification through load(); the observer runs the early
// activities, which bring up the background services once per process.

#include "ads/services/application.h"
#include "ads/services/crash_reporter.h"
#include "ads/services/device.h"
#include "ads/services/in_app_purchase_reporter.h"
#include "ads/services/pinger.h"
#include "ads/services/token_dispenser.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/notification_center.h"

namespace {

// Main thread only; set after the last activity, never reset (but by tests).
bool earlyActivitiesRan = false;

std::mutex& activitiesMutex() {
  static std::mutex m;
  return m;
}
std::vector<std::function<void()>>& addedActivities() {
  static std::vector<std::function<void()>> activities;
  return activities;
}

}  // namespace

void QMAApplication::load() {
  // The registration lives as long as the process. The observer's work is an operation of
  // the main operation queue, queued even when the launch is posted on the main thread:
  // it runs once the host's own launch has returned, never in the middle of it. It is
  // queued only once the main run loop has served what was ready at the launch (a first
  // command already waiting, its timers, its own blocks): the early activities start
  // threads and read files, and the host answers first.
  static const foundation::NotificationCenter::ObserverToken observer =
      foundation::NotificationCenter::defaultCenter().addObserverForName(
          "UIApplicationDidFinishLaunchingNotification", nullptr, nullptr, [](const foundation::Notification&) {
            dispatch::RunLoop::main().performBlockAfterPass([] {
              dispatch::OperationQueue::mainQueue()->addOperationWithBlock([] {
                const auto& application = sharedInstance();
                application->setAppFinishedLaunching(true);
                application->runEarlyActivities();
              });
            });
          });
  (void)observer;
}

void QMAApplication::addEarlyActivity(std::function<void()> activity) {
  if (!activity) return;
  std::lock_guard lock(activitiesMutex());
  addedActivities().push_back(std::move(activity));
}

bool QMAApplication::earlyActivitiesHaveRun() {
  WV_DCHECK_MAIN_THREAD();
  return earlyActivitiesRan;
}

void QMAApplication::resetEarlyActivitiesForTesting() {
  WV_DCHECK_MAIN_THREAD();
  earlyActivitiesRan = false;
}

void QMAApplication::runEarlyActivities() {
  WV_DCHECK_MAIN_THREAD();
  if (earlyActivitiesRan) return;
  QMADevice::sharedInstance()->cacheStaticParameters();
  std::vector<std::function<void()>> activities;
  {
    std::lock_guard lock(activitiesMutex());
    activities = addedActivities();
  }
  for (const auto& activity : activities) activity();
  QMATokenDispenser::sharedInstance();
  QMAPinger::sharedInstance()->start();
  auto purchases = QMAInAppPurchaseTransactionReporter::sharedInstance();
  if (purchases->shouldBeEnabled()) purchases->enableReporting();
  QMACrashReporter::sharedInstance()->enableReporting();
  earlyActivitiesRan = true;
}
