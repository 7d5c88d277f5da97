#pragma once
// The built-in adapter QMAMAdapterHTML: a network that sends its ad as finished HTML in the
// network's credentials ("dravotym_html"), with an optional passback URL
// ("dravotym_passback_url"). The adapter shows the HTML as a banner in a transparent web
// view of the requested size and hands the web view to its connector once the page has
// visibly drawn something; a page without an ad navigates to its passback URL (or to any
// URL of the scheme "passback"), and the adapter reports no fill. Banners only.
//
// Whether the page has drawn is QMAMWebViewRenderedChecker's to say: five times a second
// (a repeating 0.2 s timer on the main run loop, so on the process clock) it draws the web
// view into a bitmap of its size and counts the pixels still of the web view's background
// colour; under 90 percent means drawn. After 101 negative checks (about 20 s) the adapter
// stops checking and reports nothing: the waterfall's time-out ends the attempt.
//
// Threads: main thread (the timer, the checks, the web view's delegate calls). Starting and
// stopping the timer from another thread is carried to the main thread and waited for.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ads/mediation/network_connector.h"
#include "ads/services/scheduler.h"
#include "platform/net/url.h"
#include "platform/runtime/runtime.h"
#include "platform/uikit/color.h"
#include "platform/uikit/image.h"
#include "platform/webkit/web_view.h"

inline constexpr const char* kQMAMAdapterHTMLClassName = "QMAMAdapterHTML";

class QMAMWebViewRenderedCheckerDelegate {
 public:
  virtual ~QMAMWebViewRenderedCheckerDelegate() = default;
  virtual void webViewIsRendered(webkit::WebView& webView, bool rendered) = 0;
};

class QMAMWebViewRenderedChecker {
 public:
  static constexpr double kRenderedBelowShareOfBackground = 0.9;
  // A drawing engine's blending rounds: a pixel a step of 255 away from the background in
  // any component still counts as background.
  static constexpr int kColorTolerance = 1;

  QMAMWebViewRenderedChecker(std::weak_ptr<webkit::WebView> webView, std::weak_ptr<QMAMWebViewRenderedCheckerDelegate> delegate)
      : webView_(std::move(webView)), delegate_(std::move(delegate)) {}

  std::shared_ptr<webkit::WebView> webView() const { return webView_.lock(); }
  void setWebView(std::weak_ptr<webkit::WebView> webView) { webView_ = std::move(webView); }
  std::shared_ptr<QMAMWebViewRenderedCheckerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAMWebViewRenderedCheckerDelegate> delegate) { delegate_ = std::move(delegate); }

  // The timer's action: draws the web view at scale 1 and tells the delegate whether less
  // than 90 percent of it is its background colour (a view without pixels is not drawn).
  // Nothing without a web view or a delegate.
  void checkIsContentRenderedInWebView();
  // The share (0..1) of the image's pixels of the colour; not a number for an image
  // without pixels.
  static double percentOfImageOfColor(const uikit::Image& image, const uikit::Color& color);

 private:
  std::weak_ptr<webkit::WebView> webView_;
  std::weak_ptr<QMAMWebViewRenderedCheckerDelegate> delegate_;
};

class QMAMAdapterHTML : public runtime::Object,
                        public QMAMAdNetworkAdapter,
                        public QMAMWebViewRenderedCheckerDelegate,
                        public webkit::WebViewDelegate,
                        public std::enable_shared_from_this<QMAMAdapterHTML> {
 public:
  static constexpr double kCheckInterval = 0.2;
  // Checks after which a page that never drew is left to the waterfall's time-out.
  static constexpr std::uint64_t kMaximumChecks = 101;

  // Registers the class by name (idempotent).
  static void registerClass();
  using runtime::Object::Object;
  ~QMAMAdapterHTML() override;

  static std::string adapterVersion() { return "1.1"; }
  std::shared_ptr<QMAMAdNetworkConnectorProtocol> connector() const { return connector_.lock(); }
  const std::shared_ptr<webkit::WebView>& webView() const { return webView_; }
  const std::optional<net::URL>& passbackUrl() const { return passbackUrl_; }
  std::uint64_t checkRenderingCount() const { return checkRenderingCount_; }
  bool isCheckingRendering() const { return checkRenderingTimer_ != nullptr; }
  // The base URL the HTML loads with: the plain-http root of the ad network's server.
  static net::URL baseURL();

  // ---- QMAMAdNetworkAdapter
  void initWithQMAMAdNetworkConnector(std::weak_ptr<QMAMAdNetworkConnectorProtocol> connector) override {
    connector_ = std::move(connector);
  }
  void getBannerWithSize(QMAAdSize size) override;
  void getInterstitial() override { failInterstitialRequest(); }
  void presentInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>&) override {
    failInterstitialRequest();
  }
  void stopBeingDelegate() override;
  bool isBannerAnimationOK(long) override { return true; }

  void clearWebView();
  void createWebViewWithSize(QMAAdSize size);
  void startRenderingTimer();
  void stopRenderingTimer();
  static foundation::Error errorWithCodeText(long code, const std::string& text);
  bool isPassbackRequest(const net::URLRequest& request) const;
  static bool isPathEquivalentToPath(const std::string& path, const std::string& otherPath);
  static std::string stripTrailingSlashFromPath(const std::string& path);

  // ---- QMAMWebViewRenderedCheckerDelegate
  void webViewIsRendered(webkit::WebView& webView, bool rendered) override;
  // ---- the web view's delegate
  bool webViewShouldStartLoadWithRequestNavigationType(webkit::WebView& webView, const net::URLRequest& request,
                                                       webkit::NavigationType type) override;

 private:
  void failInterstitialRequest();
  void failBanner(long code, const std::string& text);

  std::uint64_t checkRenderingCount_ = 0;
  std::shared_ptr<QMATimer> checkRenderingTimer_;
  std::shared_ptr<QMAMWebViewRenderedChecker> webViewRenderedChecker_;
  std::shared_ptr<webkit::WebView> webView_;
  std::optional<net::URL> passbackUrl_;
  std::weak_ptr<QMAMAdNetworkConnectorProtocol> connector_;
};
