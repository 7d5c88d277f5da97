#pragma once
// The application object, its delegate, the lifecycle (launch, background,
// foreground), and the stand-in for the program's main entry: applicationMain makes
// the delegate by its class name, launches, and runs the main run loop.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/uikit/navigation_controller.h"
#include "platform/uikit/window.h"

namespace uikit {

class Application;

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching(const std::shared_ptr<Application>& app) {}
  virtual void applicationWillResignActive(const std::shared_ptr<Application>& app) {}
  virtual void applicationDidEnterBackground(const std::shared_ptr<Application>& app) {}
  virtual void applicationWillEnterForeground(const std::shared_ptr<Application>& app) {}
  virtual void applicationDidBecomeActive(const std::shared_ptr<Application>& app) {}
  virtual void applicationWillTerminate(const std::shared_ptr<Application>& app) {}
  virtual void applicationDidReceiveMemoryWarning(const std::shared_ptr<Application>& app) {}
};

// Posted on the default notification centre, with the application as object, right
// after the delegate heard the same event.
inline constexpr const char* kUIApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* kUIApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kUIApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* kUIApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kUIApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kUIApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";
inline constexpr const char* kUIApplicationDidReceiveMemoryWarningNotification =
    "UIApplicationDidReceiveMemoryWarningNotification";

enum class ApplicationState { Active = 0, Inactive = 1, Background = 2 };

class Application : public std::enable_shared_from_this<Application> {
 public:
  // The process's application, made by applicationMain (or by the first call).
  static std::shared_ptr<Application> sharedApplication();

  // The application holds its delegate strongly, as the program's main entry made it.
  std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_; }
  void setDelegate(std::shared_ptr<ApplicationDelegate> d) { delegate_ = std::move(d); }
  ApplicationState applicationState() const { return state_; }
  StatusBarStyle statusBarStyle() const { return statusBarStyle_; }
  void setStatusBarStyle(StatusBarStyle s) { statusBarStyle_ = s; }
  std::shared_ptr<Window> keyWindow() const { return Window::keyWindow(); }

  // Lifecycle, as the system drives it: launch once, then leave for the background
  // and come back. Each call is ignored when the application is not in the state it
  // leaves.
  void launch();
  void enterBackground();
  void enterForeground();
  void terminate();
  // The system is short of memory.
  void receiveMemoryWarning();

  // Whether the screen may dim and lock while the application is idle (NO: it may).
  bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
  void setIdleTimerDisabled(bool disabled) { idleTimerDisabled_ = disabled; }
  // The status bar, as the screen facts hold it.
  bool isStatusBarHidden() const;
  void setStatusBarHidden(bool hidden);

  // Asks the system to open a URL in another application. The headless system has no
  // other applications: it keeps the URLs it was asked to open, in order, for a driver to
  // read, and answers YES for a URL with a scheme.
  bool openURL(const std::string& url);
  std::vector<std::string> openedURLs() const { return openedURLs_; }

 private:
  std::shared_ptr<ApplicationDelegate> delegate_;
  ApplicationState state_ = ApplicationState::Inactive;
  StatusBarStyle statusBarStyle_ = StatusBarStyle::Default;
  bool launched_ = false;
  bool idleTimerDisabled_ = false;
  std::vector<std::string> openedURLs_;
};

using ApplicationDelegateFactory = std::function<std::shared_ptr<ApplicationDelegate>()>;

// Delegate classes known by name to applicationMain.
void registerApplicationDelegateClass(const std::string& name, ApplicationDelegateFactory factory);

// Makes the delegate of class `delegateClassName`, launches the application, and runs
// the main run loop until the application terminates. Answers the exit status: 1 when
// no such delegate class is registered.
int applicationMain(int argc, char** argv, const std::string& principalClassName, const std::string& delegateClassName);

}  // namespace uikit
