#pragma once
// The host of one hidden SDK-core page: it loads and reloads the page and keeps its load
// state (0 never loaded, 1 load requested, 2 the page's own URL loading, 3 loaded,
// 4 failed), holds JavaScript commands for the page until it has loaded (at most 50, the
// oldest pushed out), lets the hidden page make no navigation but its own load and its
// bridge messages, offers those messages to its own two handlers first, tells one-time
// observers when a load attempt has ended, and keeps the slots that watch viewability
// through this page.
//
// A load attempt always ends: a finish of the page address is a success; any failure
// while loading, or no end within kLoadTimeout seconds, is a failure (state 4). A loaded
// page whose web process ends is lost: the state becomes 4 (so the next request loads the
// page again), its viewability observers are told that monitoring stopped, and the
// page-loss observer hears of it, so requests the lost page never answered fail at once.
//
// Threads: made and driven on the main thread (it owns an ad view). Its mutable state is
// read and written only on its serial queue "com.quillon.pelmark.sdk-core-web-view":
// enqueueJavaScriptCommand, dispatchPendingJavaScriptCommands,
// addObserverForOneTimeNotification, setVistraceObserverForVistraceID, setState and
// setHasSDKCoreLoadedAtLeastOnce return before their step has run; the other accessors
// wait for theirs and must not be called from that queue. Observers and slots are called
// on the main queue, never on the lock queue.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ads/render/ad_view.h"
#include "ads/render/ad_view_delegate.h"
#include "ads/render/vistrace_qomb_handler.h"
#include "platform/dispatch/queue.h"

class QMASDKCoreWebView;
class QMASDKCoreQOMBHandler;

// One-time load observers (the SDK-core controller).
class QMASDKCoreWebViewNotification {
 public:
  virtual ~QMASDKCoreWebViewNotification() = default;
  virtual void didFinishLoadingSDKCoreInSDKCoreWebView(const std::shared_ptr<QMASDKCoreWebView>& webView) = 0;
  // The loaded page's web process ended (main queue); every call it was given and has not
  // answered is lost. Heard by the page-loss observer only.
  virtual void SDKCoreWebViewDidLosePage(const std::shared_ptr<QMASDKCoreWebView>&) {}
};

// A slot watching viewability through the page.
class QMAAdViewVistraceMonitoring {
 public:
  virtual ~QMAAdViewVistraceMonitoring() = default;
  virtual void adViewDidChangeVistraceVisibility(bool visible) = 0;
  virtual void adViewDidStopVistraceMonitoring() = 0;
};

// The page's address: the ad network's base URL followed by the page path.
std::string QMASDKCorePageAddress();

class QMASDKCoreWebView : public QMAAdViewDelegateProtocol,
                          public QMAVistraceQOMBHandlerDelegate,
                          public std::enable_shared_from_this<QMASDKCoreWebView> {
 public:
  static constexpr const char* kPagePath = "/qads/static/sdk/native/sdk-core-v40.html";
  static constexpr std::size_t kMaximumPendingJavaScriptCommands = 50;
  static constexpr double kLoadTimeout = 30.0;
  static constexpr const char* kQueueLabel = "com.quillon.pelmark.sdk-core-web-view";

  // Main thread.
  static std::shared_ptr<QMASDKCoreWebView> init();
  ~QMASDKCoreWebView() override;

  void refreshSDKCoreAndNotifyObserver(std::shared_ptr<QMASDKCoreWebViewNotification> observer);
  void addObserverForOneTimeNotification(std::shared_ptr<QMASDKCoreWebViewNotification> observer);
  void removeObserver(const QMASDKCoreWebViewNotification* observer);
  void notifyAllObserversOnlyOnceThatSDKCoreRequestIsFinished();
  // `whenDropped` (optional) runs on the lock queue if the command is never sent to the
  // page: refused in state 4, or pushed out by a newer one.
  void enqueueJavaScriptCommand(std::string command, std::function<void()> whenDropped = nullptr);
  void dispatchPendingJavaScriptCommands();
  // Sent to the page at once (main thread).
  void postJSNotificationUserInfo(const std::string& name, const std::optional<foundation::Dictionary>& userInfo);

  void setVistraceObserverForVistraceID(std::weak_ptr<QMAAdViewVistraceMonitoring> observer, std::uint64_t vistraceID);
  void removeVistraceObserverForVistraceID(std::uint64_t vistraceID);
  void clearAllVistraceInstances();
  bool isVistraceRunning();

  long state();
  void setState(long state);
  bool hasSDKCoreLoadedAtLeastOnce();
  void setHasSDKCoreLoadedAtLeastOnce(bool loaded);
  std::shared_ptr<QMASDKCoreQOMBHandler> SDKCoreQOMBHandler() const { return SDKCoreQOMBHandler_; }
  void setSDKCoreQOMBHandler(std::shared_ptr<QMASDKCoreQOMBHandler> handler) { SDKCoreQOMBHandler_ = std::move(handler); }
  // Who hears that the loaded page was lost (the controller, for its active page); held
  // weakly. Main thread.
  void setPageLossObserver(std::weak_ptr<QMASDKCoreWebViewNotification> observer) { pageLossObserver_ = std::move(observer); }
  const std::shared_ptr<QMAAdView>& adView() const { return adView_; }
  const dispatch::QueuePtr& lockQueue() const { return lockQueue_; }
  // Commands waiting for the page (a copy, read on the lock queue).
  std::vector<std::string> pendingJavaScriptCommands();

  // The ad view's delegate (main thread).
  std::optional<bool> adViewShouldStartLoadWithRequestNavigationType(QMAAdView& adView, const net::URLRequest& request,
                                                                     webkit::NavigationType type) override;
  void adViewDidFinishLoad(QMAAdView& adView) override;
  void adViewDidFailLoadWithError(QMAAdView& adView, const foundation::Error& error) override;
  void adViewWebContentProcessDidTerminate(QMAAdView& adView) override;

  // The viewability handler's delegate (main thread).
  void vistraceQOMBHandlerDidReceiveVisibilityNotificationForVistraceID(QMAVistraceQOMBHandler&, bool visible,
                                                                      std::uint64_t vistraceID) override;
  void vistraceQOMBHandlerDidReceiveUntrackNotificationForVistraceID(QMAVistraceQOMBHandler&,
                                                                   std::uint64_t vistraceID) override;

 private:
  QMASDKCoreWebView() = default;
  void dispatchPendingLocked();
  void notifyAllLocked();
  void pageFailed();

  long state_ = 0;
  bool hasSDKCoreLoadedAtLeastOnce_ = false;
  struct PendingCommand {
    std::string script;
    std::function<void()> whenDropped;
  };
  std::vector<PendingCommand> pendingJSCommands_;
  dispatch::QueuePtr lockQueue_;
  std::vector<std::shared_ptr<QMASDKCoreWebViewNotification>> SDKCoreObservers_;
  std::shared_ptr<QMAAdViewDelegate> adViewDelegate_;
  std::shared_ptr<QMAAdView> adView_;
  std::shared_ptr<QMAVistraceQOMBHandler> vistraceQOMBHandler_;
  std::map<std::uint64_t, std::weak_ptr<QMAAdViewVistraceMonitoring>> vistraceObservers_;
  std::set<std::uint64_t> runningVistraceObservers_;
  std::shared_ptr<QMASDKCoreQOMBHandler> SDKCoreQOMBHandler_;
  std::uint64_t loadAttempt_ = 0;  // main thread
  std::weak_ptr<QMASDKCoreWebViewNotification> pageLossObserver_;  // main thread
};
