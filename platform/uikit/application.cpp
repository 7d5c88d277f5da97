#include "platform/uikit/application.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/notification_center.h"
#include "platform/system/device_facts.h"
#include "platform/system/screen_facts.h"
#include "platform/uikit/device.h"
#include "platform/uikit/screen.h"

namespace uikit {
namespace {
struct DelegateClasses {
  std::mutex mu;
  std::map<std::string, ApplicationDelegateFactory> factories;
};
DelegateClasses& delegateClasses() {
  static DelegateClasses c;
  return c;
}

// Observers elsewhere in the process (the ad component among them) follow the
// application's life through these notifications, posted after the delegate heard it.
void post(const char* name, const std::shared_ptr<Application>& app) {
  foundation::NotificationCenter::defaultCenter().postNotificationName(name, app);
}
}  // namespace

std::shared_ptr<Application> Application::sharedApplication() {
  // Never destroyed: other threads may still ask it for the application's state while
  // the process exits.
  static const auto* app = new std::shared_ptr<Application>(std::make_shared<Application>());
  return *app;
}

void Application::launch() {
  WV_DCHECK_MAIN_THREAD();
  if (launched_) return;
  launched_ = true;
  auto self = shared_from_this();
  if (auto d = delegate_) d->applicationDidFinishLaunching(self);
  post(kUIApplicationDidFinishLaunchingNotification, self);
  state_ = ApplicationState::Active;
  if (auto d = delegate_) d->applicationDidBecomeActive(self);
  post(kUIApplicationDidBecomeActiveNotification, self);
}

void Application::enterBackground() {
  WV_DCHECK_MAIN_THREAD();
  if (state_ != ApplicationState::Active) return;
  auto self = shared_from_this();
  if (auto d = delegate_) d->applicationWillResignActive(self);
  post(kUIApplicationWillResignActiveNotification, self);
  state_ = ApplicationState::Background;
  if (auto d = delegate_) d->applicationDidEnterBackground(self);
  post(kUIApplicationDidEnterBackgroundNotification, self);
}

void Application::enterForeground() {
  WV_DCHECK_MAIN_THREAD();
  if (state_ != ApplicationState::Background) return;
  auto self = shared_from_this();
  if (auto d = delegate_) d->applicationWillEnterForeground(self);
  post(kUIApplicationWillEnterForegroundNotification, self);
  state_ = ApplicationState::Active;
  if (auto d = delegate_) d->applicationDidBecomeActive(self);
  post(kUIApplicationDidBecomeActiveNotification, self);
}

void Application::terminate() {
  WV_DCHECK_MAIN_THREAD();
  auto self = shared_from_this();
  if (auto d = delegate_) d->applicationWillTerminate(self);
  post(kUIApplicationWillTerminateNotification, self);
  dispatch::RunLoop::main().stop();
}

void Application::receiveMemoryWarning() {
  WV_DCHECK_MAIN_THREAD();
  auto self = shared_from_this();
  if (auto d = delegate_) d->applicationDidReceiveMemoryWarning(self);
  post(kUIApplicationDidReceiveMemoryWarningNotification, self);
}

std::uint64_t Application::supportedInterfaceOrientationsForWindow(const std::shared_ptr<Window>& window) {
  WV_DCHECK_MAIN_THREAD();
  if (auto d = delegate_) {
    if (auto mask = d->applicationSupportedInterfaceOrientationsForWindow(shared_from_this(), window)) return *mask;
  }
  const foundation::Value listed = foundation::Bundle::main().objectForInfoDictionaryKey(kUISupportedInterfaceOrientationsKey);
  if (const foundation::Array* names = listed.asArray()) {
    static const std::pair<const char*, std::uint64_t> kNames[] = {
        {"UIInterfaceOrientationPortrait", InterfaceOrientationMaskPortrait},
        {"UIInterfaceOrientationPortraitUpsideDown", InterfaceOrientationMaskPortraitUpsideDown},
        {"UIInterfaceOrientationLandscapeLeft", InterfaceOrientationMaskLandscapeLeft},
        {"UIInterfaceOrientationLandscapeRight", InterfaceOrientationMaskLandscapeRight},
    };
    std::uint64_t mask = 0;
    for (const auto& name : *names) {
      for (const auto& [text, bit] : kNames) {
        if (name.asString() && *name.asString() == text) mask |= bit;
      }
    }
    if (mask != 0) return mask;
  }
  return system_facts::device().idiom == system_facts::InterfaceIdiom::Pad ? InterfaceOrientationMaskAll
                                                                             : InterfaceOrientationMaskAllButUpsideDown;
}

void registerApplicationDelegateClass(const std::string& name, ApplicationDelegateFactory factory) {
  auto& c = delegateClasses();
  std::lock_guard lock(c.mu);
  c.factories[name] = std::move(factory);
}

int applicationMain(int argc, char** argv, const std::string& principalClassName,
                    const std::string& delegateClassName) {
  ApplicationDelegateFactory factory;
  {
    auto& c = delegateClasses();
    std::lock_guard lock(c.mu);
    auto it = c.factories.find(delegateClassName);
    if (it != c.factories.end()) factory = it->second;
  }
  if (!factory) {
    std::fprintf(stderr, "Unable to instantiate the application delegate class \"%s\"\n", delegateClassName.c_str());
    return 1;
  }
  auto& loop = dispatch::RunLoop::main();  // the calling thread becomes the main thread
  auto app = Application::sharedApplication();
  app->setDelegate(factory());
  app->launch();
  loop.run();
  return 0;
}

bool Application::isStatusBarHidden() const { return system_facts::screen().statusBarHidden; }

void Application::setStatusBarHidden(bool hidden) {
  auto facts = system_facts::screen();
  facts.statusBarHidden = hidden;
  system_facts::setScreen(facts);
}

long Application::statusBarOrientation() const { return static_cast<long>(system_facts::screen().orientation); }

void Application::setStatusBarOrientation(long orientation) {
  if (orientation < 1 || orientation > 4) return;
  auto facts = system_facts::screen();
  const long from = static_cast<long>(facts.orientation);
  if (from == orientation) return;
  const Rect before = Screen::mainScreen().bounds();
  facts.orientation = static_cast<system_facts::InterfaceOrientation>(orientation);
  system_facts::setScreen(facts);
  const Rect after = Screen::mainScreen().bounds();
  // A window that fills the screen turns with it; its views follow by their autoresizing
  // masks and their own layout. A smaller window stays as its owner placed it.
  const auto windows = Window::allWindows();
  for (const auto& window : windows) {
    if (window->frame() != before) continue;
    window->setFrame(after);
    window->layoutIfNeeded();
  }
  foundation::NotificationCenter::defaultCenter().postNotificationName(kUIApplicationDidChangeStatusBarOrientationNotification,
                                                                       shared_from_this());
  for (const auto& window : Window::visibleWindows())
    if (auto root = window->rootViewController()) root->interfaceDidRotateFromOrientation(from);
}

void Application::followDeviceOrientation() {
  WV_DCHECK_MAIN_THREAD();
  const long wanted = static_cast<long>(Device::currentDevice()->orientation());
  if (wanted < 1 || wanted > 4) return;
  // The device's landscape left (turned clockwise) is the interface's landscape right:
  // the two enumerations share their numbers.
  auto window = keyWindow();
  std::uint64_t mask = supportedInterfaceOrientationsForWindow(window);
  auto top = window ? window->rootViewController() : nullptr;
  while (top && top->presentedViewController()) top = top->presentedViewController();
  if (top) mask &= top->supportedInterfaceOrientations();
  if (!(mask & (std::uint64_t{1} << wanted))) return;
  setStatusBarOrientation(wanted);
}

bool Application::openURL(const std::string& url) {
  const auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  openedURLs_.push_back(url);
  return true;
}

}  // namespace uikit
