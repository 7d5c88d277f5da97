#pragma once
// The ad web view: the one view that shows web content of the ad component (creatives,
// web-app ads, the in-app browser's pages, the hidden SDK-core page). It wraps a web view
// (taken from the reuse cache when one waits there), lets its delegate decide every
// navigation, carries native-to-page messages ("QVRA_ReceiveMessage") and holds SDK events
// back while a page loads, gives the page its orientation, records touches for the signal
// collector and shows the creative debug dialog.
//
// Threads: a main-thread object; every method runs on the main thread (checked).

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ads/render/debug_gesture.h"
#include "ads/render/video_player.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/net/http.h"
#include "platform/uikit/alert_view.h"
#include "platform/uikit/view.h"
#include "platform/uikit/window.h"
#include "platform/webkit/web_view.h"

class QMAAdView;
class QMAWebViewCacheSet;

namespace uikit {
class ViewController;
}

// The protocol `QMAAdViewDelegate`. The suffix keeps it apart from the class of the same
// name (the base ad view delegate), which adopts it. All its messages are optional; the
// ad view sends each only when the delegate implements it.
class QMAAdViewDelegateProtocol {
 public:
  virtual ~QMAAdViewDelegateProtocol() = default;
  // Nullopt: the delegate does not decide navigations, so every navigation may start.
  virtual std::optional<bool> adViewShouldStartLoadWithRequestNavigationType(QMAAdView&, const net::URLRequest&,
                                                                             webkit::NavigationType) {
    return std::nullopt;
  }
  virtual void adViewDidStartLoad(QMAAdView&) {}
  virtual void adViewDidFinishLoad(QMAAdView&) {}
  virtual void adViewDidFailLoadWithError(QMAAdView&, const foundation::Error&) {}
  // The loaded page's web process ended (a crash, its memory bound, the watchdog): the view
  // shows nothing until something loads in it again. A process that ends while a page
  // loads fails that load instead.
  virtual void adViewWebContentProcessDidTerminate(QMAAdView&) {}
};

// The saved placement while a full-screen controller borrows the ad view.
struct QMAAdViewState {
  uikit::Rect frame;
  std::shared_ptr<uikit::View> superview;
  std::weak_ptr<QMAAdViewDelegateProtocol> delegate;
  std::weak_ptr<uikit::ViewController> viewController;
};

// Where touch samples go. It keeps the latest ones; the click signal is its own later work.
class QMASignalCollector {
 public:
  struct Sample {
    std::int32_t x, y, duration;
  };
  static QMASignalCollector& sharedInstance();
  // Main thread.
  void addTouchSample(std::int32_t x, std::int32_t y, std::int32_t duration);
  std::vector<Sample> samples() const;
  void removeAllSamples();

 private:
  std::deque<Sample> samples_;
};

class QMAAdView : public uikit::View, public webkit::WebViewDelegate, public QMAVideoPlayerDelegate {
 public:
  static constexpr std::size_t kMaximumWaitingSDKEvents = 20;
  static constexpr const char* kBadAdReportPathKey = "/quillon/ads/bad_ad_report_path";
  static constexpr const char* kBannerPreventAutoplayKey = "/quillon/ads/banner_prevent_autoplay";

  // Views live in shared_ptr: make ad views with initWithFrame (init is an empty frame).
  static std::shared_ptr<QMAAdView> initWithFrame(uikit::Rect frame);
  static std::shared_ptr<QMAAdView> init() { return initWithFrame({}); }
  explicit QMAAdView(uikit::Rect frame);
  ~QMAAdView() override;
  std::string className() const override { return "QMAAdView"; }

  // The window every ad view is in until its owner places it; never shown. The window
  // does not hold the ad views: an unplaced ad view answers it as its window
  // (windowWhileUnplaced), so an ad view nobody places still goes with its owner.
  static const std::shared_ptr<uikit::Window>& placeholderWindow();
  std::shared_ptr<uikit::Window> windowWhileUnplaced() const override { return placeholderWindow(); }
  // The web-view reuse cache and its two uses.
  static const std::shared_ptr<QMAWebViewCacheSet>& webViewCache();
  static std::shared_ptr<webkit::WebView> cachedWebView();
  static void cacheWebView(std::shared_ptr<webkit::WebView> webView);

  std::shared_ptr<QMAAdViewDelegateProtocol> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAAdViewDelegateProtocol> delegate);
  std::shared_ptr<uikit::ViewController> viewController() const { return viewController_.lock(); }
  // The in-app browser's ad view takes only a browser.
  virtual void setViewController(std::weak_ptr<uikit::ViewController> vc) { viewController_ = std::move(vc); }
  const std::optional<net::URL>& URL() const { return URL_; }
  bool touched() const { return touched_; }
  void setTouched(bool touched) { touched_ = touched; }
  const std::optional<std::string>& adDebugDialog() const { return adDebugDialog_; }
  void setAdDebugDialog(std::optional<std::string> text) { adDebugDialog_ = std::move(text); }
  bool showDebug() const { return showDebug_; }
  void setShowDebug(bool show) { showDebug_ = show; }
  // The orientation last given to the page now shown; 0 while its document has been told none.
  long orientation() const { return orientation_; }
  const std::shared_ptr<QMAUIWebViewGestureDelegate>& gestureDelegate() const { return gestureDelegate_; }
  const std::shared_ptr<QMAImpressionTicketGestureRecognizer>& gesture() const { return gesture_; }
  const std::shared_ptr<uikit::AlertView>& alertView() const { return alertView_; }
  // The dialog's buttons by index: 0 "OK", then "Copy" and "Report" when there is debug text.
  const std::vector<std::string>& alertButtonTitles() const { return alertButtonTitles_; }
  const std::vector<std::shared_ptr<uikit::GestureRecognizer>>& gestureRecognizers() const { return recognizers_; }
  const std::shared_ptr<webkit::WebView>& webView() const { return webView_; }

  // Forwarded to the web view.
  bool canGoBack() const { return webView_->canGoBack(); }
  bool canGoForward() const { return webView_->canGoForward(); }
  bool isLoading() const { return webView_->isLoading(); }
  std::optional<net::URLRequest> request() const { return webView_->request(); }
  bool isOpaque() const { return webView_->opaque; }
  void setOpaque(bool opaque);
  std::optional<uikit::Color> backgroundColor() const { return webView_->backgroundColor(); }
  void setBackgroundColor(std::optional<uikit::Color> color) { webView_->setBackgroundColor(color); }
  std::uint64_t dataDetectorTypes() const { return webView_->dataDetectorTypes; }
  void setDataDetectorTypes(std::uint64_t types) { webView_->dataDetectorTypes = types; }
  webkit::WebView::ScrollView& scrollView() { return webView_->scrollView; }

  void reset();
  void configureAsBannerAdView();
  void configureAsInterstitialAdView();
  void createGestureRecognizer();

  void loadRequest(const net::URLRequest& request);
  void loadHTMLStringBaseURL(std::string html, std::optional<net::URL> baseURL);
  void setURLForView(const std::optional<net::URL>& url, const std::shared_ptr<uikit::View>& view);
  void stopLoading() { webView_->stopLoading(); }
  void reload() { webView_->reload(); }
  void goBack() { webView_->goBack(); }
  void goForward() { webView_->goForward(); }
  std::string stringByEvaluatingJavaScriptFromString(std::string_view script);
  void executeJavaScriptAsynchronouslyFromString(std::string_view script);

  // "QVRA_ReceiveMessage('NAME');" or "QVRA_ReceiveMessage('NAME', JSON);" with the JSON
  // safe inside a script; nullopt when the parameters cannot be written as JSON.
  static std::optional<std::string> JSCommandForNotificationNameUserInfo(const std::string& name,
                                                                          const std::optional<foundation::Dictionary>& userInfo);
  void postJSNotificationUserInfo(const std::string& name, const std::optional<foundation::Dictionary>& userInfo);
  void dispatchSDKEventParameters(const std::string& name, const std::optional<foundation::Dictionary>& parameters);
  std::size_t waitingSDKEventCount() const { return waitingEvents_.size(); }
  bool isEventQueueSuspended() const { return eventQueueSuspended_; }

  void setHTMLWindowOrientationShouldDispatchOrientationChangeEvent(long orientation, bool dispatchEvent);
  void forceRotateToOrientation(long orientation) { setHTMLWindowOrientationShouldDispatchOrientationChangeEvent(orientation, true); }
  void didRotateToOrientation(long orientation) { setHTMLWindowOrientationShouldDispatchOrientationChangeEvent(orientation, false); }
  void saveState();
  void restoreState();
  bool hasSavedState() const { return savedState_ != nullptr; }
  void setFrame(uikit::Rect frame) override;

  std::shared_ptr<uikit::View> hitTest(uikit::Point p) override;
  void handleGesture(uikit::GestureRecognizer& recognizer);
  void alertViewClickedButtonAtIndex(long index);

  // The web view's delegate.
  bool webViewShouldStartLoadWithRequestNavigationType(webkit::WebView&, const net::URLRequest&,
                                                       webkit::NavigationType) override;
  void webViewDidStartLoad(webkit::WebView&) override;
  void webViewDidFinishLoad(webkit::WebView&) override;
  void webViewDidFailLoadWithError(webkit::WebView&, const foundation::Error&) override;
  void webViewWebContentProcessDidTerminate(webkit::WebView&) override;

  // The native video player (video_player.cpp): one per ad view, made by the first
  // source; its picture in the video view, the ad view's first subview, below the page.
  const std::shared_ptr<QMAVideoPlayer>& videoPlayer() const { return videoPlayer_; }
  const std::shared_ptr<uikit::View>& videoPlayerLayer() const { return videoPlayerLayer_; }
  // Where the page wants the picture, in the ad view's coordinates; zero: the whole view.
  uikit::Rect cachedVideoPlayerFrame() const { return cachedVideoPlayerFrame_; }
  // Stores the frame; the layout pass at the end of this turn of the main loop places it.
  void setCachedVideoPlayerFrame(uikit::Rect frame);
  void setUpVideoPlayerWithURL(const std::optional<net::URL>& url);
  void setVideoPlayerFrame(uikit::Rect frame);
  void hideVideo();
  void showVideo();
  void playerDidCreateAVPlayer(QMAVideoPlayer& player, const std::shared_ptr<avfoundation::Player>& avPlayer) override;
  void layoutSubviews() override;

  // For tests: forget that the process has captured its user agent.
  static void resetUserAgentCaptureForTesting();

 protected:
  // The rest of initWithFrame, for subclasses' factories.
  void setUp();

 private:
  std::shared_ptr<QMAAdView> self() { return std::static_pointer_cast<QMAAdView>(shared_from_this()); }
  void suspendEventQueue();
  // The page's messages waiting, in the order they were posted.
  void sendPendingJSCommands();

  std::weak_ptr<QMAAdViewDelegateProtocol> delegate_;
  std::weak_ptr<uikit::ViewController> viewController_;
  std::optional<net::URL> URL_;
  bool touched_ = false;
  std::optional<std::string> adDebugDialog_;
  bool showDebug_ = false;
  long orientation_ = 0;
  std::shared_ptr<QMAUIWebViewGestureDelegate> gestureDelegate_;
  std::shared_ptr<QMAImpressionTicketGestureRecognizer> gesture_;
  std::shared_ptr<uikit::AlertView> alertView_;
  std::vector<std::string> alertButtonTitles_;
  std::vector<std::shared_ptr<uikit::GestureRecognizer>> recognizers_;
  std::shared_ptr<webkit::WebView> webView_;
  std::unique_ptr<QMAAdViewState> savedState_;
  bool eventQueueSuspended_ = true;
  std::deque<std::pair<std::string, foundation::Dictionary>> waitingEvents_;
  std::deque<std::string> pendingJSCommands_;
  bool JSCommandsScheduled_ = false;
  bool sendingJSCommands_ = false;
  std::shared_ptr<QMAVideoPlayer> videoPlayer_;
  std::shared_ptr<uikit::View> videoPlayerLayer_;
  uikit::Rect cachedVideoPlayerFrame_;
};

// Sends the bad-ad report for the debug text, fire and forget.
void QMASendBadAdReport(const std::optional<std::string>& debugText);
// JSON text made safe to put inside a script: U+2028 and U+2029 escaped (ES5 reads them as
// line ends inside string literals).
std::string QMAScriptSafeJSON(std::string json);
