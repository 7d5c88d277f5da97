#pragma once
// The application object, its delegate, the lifecycle (launch, background,
// foreground), and the stand-in for the program's main entry: applicationMain makes
// the delegate by its class name, launches, and runs the main run loop.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/uikit/navigation_controller.h"
#include "platform/uikit/window.h"

namespace uikit {

class Application;

// Interface orientation masks: bit n stands for orientation n (1 portrait, 2 portrait
// upside down, 3 landscape right, 4 landscape left).
enum InterfaceOrientationMask : std::uint64_t {
  InterfaceOrientationMaskPortrait = 1u << 1,
  InterfaceOrientationMaskPortraitUpsideDown = 1u << 2,
  InterfaceOrientationMaskLandscapeRight = 1u << 3,
  InterfaceOrientationMaskLandscapeLeft = 1u << 4,
  InterfaceOrientationMaskLandscape = InterfaceOrientationMaskLandscapeLeft | InterfaceOrientationMaskLandscapeRight,
  InterfaceOrientationMaskAll = InterfaceOrientationMaskPortrait | InterfaceOrientationMaskPortraitUpsideDown |
                                InterfaceOrientationMaskLandscape,
  InterfaceOrientationMaskAllButUpsideDown = InterfaceOrientationMaskPortrait | InterfaceOrientationMaskLandscape,
};

// The information-dictionary key that lists the orientations the application supports
// ("UIInterfaceOrientationPortrait", "UIInterfaceOrientationPortraitUpsideDown",
// "UIInterfaceOrientationLandscapeLeft", "UIInterfaceOrientationLandscapeRight").
inline constexpr const char* kUISupportedInterfaceOrientationsKey = "UISupportedInterfaceOrientations";

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
  // Optional: the orientations the application supports in `window` (null: no window);
  // nullopt when the delegate does not decide, and the information dictionary does.
  virtual std::optional<std::uint64_t> applicationSupportedInterfaceOrientationsForWindow(
      const std::shared_ptr<Application>& app, const std::shared_ptr<Window>& window) {
    return std::nullopt;
  }
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
// Posted when the interface turns (the screen facts' orientation changed).
inline constexpr const char* kUIApplicationDidChangeStatusBarOrientationNotification =
    "UIApplicationDidChangeStatusBarOrientationNotification";
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
  // Any thread: the state is read by code that runs off the main thread too.
  ApplicationState applicationState() const { return state_.load(); }
  StatusBarStyle statusBarStyle() const { return statusBarStyle_; }
  void setStatusBarStyle(StatusBarStyle s) { statusBarStyle_ = s; }
  std::shared_ptr<Window> keyWindow() const { return Window::keyWindow(); }
  // Main thread. The orientations the application supports in `window`: the delegate's
  // answer for that window when it gives one, else the information dictionary's list,
  // else every orientation but upside down on a phone and every one on a tablet.
  std::uint64_t supportedInterfaceOrientationsForWindow(const std::shared_ptr<Window>& window);

  // Main thread. The interface's orientation (1 to 4), where the status bar stands.
  long statusBarOrientation() const;
  // Turns the interface (the screen facts' orientation, 1 to 4) as the system does: the
  // screen's bounds swap, every window that filled the screen takes the new bounds and
  // lays its views out again, kUIApplicationDidChangeStatusBarOrientationNotification is
  // posted, then the controllers of the visible windows hear
  // didRotateFromInterfaceOrientation. Nothing for the orientation it already has or one
  // outside 1 to 4.
  void setStatusBarOrientation(long orientation);
  // Main thread. The device has turned (Device::setOrientation): the interface follows
  // when both the application (for the key window) and the controller on top of the key
  // window support the device's orientation; face up, face down and unknown leave it.
  void followDeviceOrientation();

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
  // Whether some application answers the URL's scheme (the device facts say which).
  bool canOpenURL(const std::string& url) const;

  // Background tasks (application_background.cpp): time the system grants work that must
  // end even if the user leaves the application. Main thread. The expiration handler runs
  // when the system takes the time back (expireBackgroundTasks); an ended task's handler
  // never runs. Identifiers count from 1; kBackgroundTaskInvalid is none.
  using BackgroundTaskIdentifier = std::uint64_t;
  static constexpr BackgroundTaskIdentifier kBackgroundTaskInvalid = 0;
  BackgroundTaskIdentifier beginBackgroundTaskWithExpirationHandler(std::function<void()> handler);
  void endBackgroundTask(BackgroundTaskIdentifier identifier);
  std::size_t backgroundTaskCount() const { return backgroundTasks_.size(); }
  // The system takes the time back: every running task's handler runs, oldest first.
  void expireBackgroundTasks();

 private:
  std::shared_ptr<ApplicationDelegate> delegate_;
  std::atomic<ApplicationState> state_{ApplicationState::Inactive};
  StatusBarStyle statusBarStyle_ = StatusBarStyle::Default;
  bool launched_ = false;
  bool idleTimerDisabled_ = false;
  std::vector<std::string> openedURLs_;
  std::vector<std::pair<BackgroundTaskIdentifier, std::function<void()>>> backgroundTasks_;
  BackgroundTaskIdentifier lastBackgroundTask_ = kBackgroundTaskInvalid;
};

using ApplicationDelegateFactory = std::function<std::shared_ptr<ApplicationDelegate>()>;

// Delegate classes known by name to applicationMain.
void registerApplicationDelegateClass(const std::string& name, ApplicationDelegateFactory factory);

// Makes the delegate of class `delegateClassName`, launches the application, and runs
// the main run loop until the application terminates. Answers the exit status: 1 when
// no such delegate class is registered.
int applicationMain(int argc, char** argv, const std::string& principalClassName, const std::string& delegateClassName);

}  // namespace uikit
