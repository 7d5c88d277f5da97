#pragma once
// The web view: pages run in WebKitGTK (loaded at the first web view, engine.h), every
// navigation offered to a delegate, load callbacks on the main thread, evaluation,
// history, every request of a page answered through platform/net, the page drawn into
// the headless UIKit's bitmap and taps as pointer events. docs/webkit.md tells the design.
//
// Threads: a web view belongs to the main thread. Every public method must be called
// there (checked in debug builds), and every delegate callback arrives there.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/net/connection.h"
#include "platform/net/http.h"
#include "platform/uikit/web_view.h"

namespace webkit {
enum class NavigationType : long {
  LinkClicked = 0,
  FormSubmitted = 1,
  BackForward = 2,
  Reload = 3,
  FormResubmitted = 4,
  Other = 5,
};

// Errors of loads that the web view itself ends.
inline constexpr const char* kErrorDomain = "webkit.load";
enum : long {
  kErrorFrameLoadInterrupted = 102,
  kErrorDocumentTooLarge = -1103,
  // The page's web process ended (crashed, over its memory bound, or stopped by our
  // watchdog) while it loaded.
  kErrorWebProcessTerminated = 300,
};
// User-info keys of a load error: the failing URL's absolute text under both.
inline constexpr const char* kURLErrorKey = "NSURLErrorKey";
inline constexpr const char* kErrorFailingURLStringKey = "NSErrorFailingURLStringKey";

// Bounds on what one page may make the host do. Process-wide; tests narrow them. The
// watchdog and the engine's own memory settings take effect when the engine starts (the
// first web view); the bound on a web process's resident size when a view first shows a
// page.
struct WebViewLimits {
  std::size_t maxDocumentBytes = 4u << 20;
  std::size_t maxScriptBytes = 2u << 20;
  // How long a synchronous evaluation waits for the page's answer.
  double maxRunSeconds = 1.0;
  // Memory of one web process, and the share of it at which the engine ends the process.
  unsigned memoryLimitMegabytes = 512;
  double memoryKillThreshold = 0.9;
  // A page that leaves our ping unanswered this long is ended.
  double watchdogSeconds = 3.0;

  static WebViewLimits& current();
};

class WebView;

// Called on the main thread. Every method has a default, so a delegate names only what
// it wants to hear.
class WebViewDelegate {
 public:
  virtual ~WebViewDelegate() = default;
  virtual bool webViewShouldStartLoadWithRequestNavigationType(WebView&, const net::URLRequest&, NavigationType) {
    return true;
  }
  virtual void webViewDidStartLoad(WebView&) {}
  virtual void webViewDidFinishLoad(WebView&) {}
  virtual void webViewDidFailLoadWithError(WebView&, const foundation::Error&) {}
  // The loaded page's web process ended (crash, memory, watchdog); the view shows nothing
  // and loads again when asked.
  virtual void webViewWebContentProcessDidTerminate(WebView&) {}
};

// What a page shows, read from its live document.
struct DocumentParts {
  std::string title;
  std::string bodyHTML;
  std::vector<std::string> links;  // the href of each <a href>, resolved, in document order
};

class WebView : public uikit::WebView {
 public:
  // Views live in shared_ptr: make web views with create().
  static std::shared_ptr<WebView> create(uikit::Rect frame = {});
  explicit WebView(uikit::Rect frame);
  ~WebView() override;
  std::string className() const override { return "WebView"; }

  // The "User-Agent" every request of every web view carries unless it has one.
  static std::string defaultUserAgent();
  static void setDefaultUserAgent(std::string userAgent);

  std::shared_ptr<WebViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<WebViewDelegate> delegate);

  // Loading.
  void loadRequest(net::URLRequest request);
  void loadHTMLStringBaseURL(std::string html, std::optional<net::URL> baseURL);
  void loadHTMLString(std::string html) override { loadHTMLStringBaseURL(std::move(html), std::nullopt); }
  void stopLoading();
  void reload();
  void goBack();
  void goForward();
  bool canGoBack() const;
  bool canGoForward() const;
  bool isLoading() const { return loading_; }
  // The main frame's request: the committed document's, or none before the first.
  std::optional<net::URLRequest> request() const;
  // The committed document's URL ("about:blank" before the first).
  std::string documentURL() const;
  // Forgets the back and forward lists (a web view handed to a new owner).
  void resetHistory();

  // Evaluation. The result as text; "" for undefined, null and errors.
  std::string stringByEvaluatingJavaScriptFromString(std::string_view script) override;
  // Sends the script to the page without waiting for it; the completion (optional) gets
  // the result or the error's text on the main thread, never before the call returns.
  // Evaluations run in the order they were sent, synchronous ones included. Without a
  // completion on a view that never had a document the script is dropped: there is no
  // page to run it in, and the engine is not started for it.
  using EvaluationCompletion = std::function<void(std::optional<std::string> result, std::optional<std::string> error)>;
  void evaluateJavaScript(std::string script, EvaluationCompletion completion = nullptr);

  // A finger on the document's n-th link (a pointer event at its middle when it shows
  // there; else its own click, as an assistive tap gives) or its n-th form submitted.
  // False when there is none.
  bool tapLink(std::size_t index);
  bool submitForm(std::size_t index);
  // A finger at `point` of the view: pointer down and up there.
  void tapAtPoint(uikit::Point point);
  DocumentParts documentParts();
  // The process id of the web process showing the page, 0 while none is known.
  int webProcessIdentifier();

  // Property holders of the platform's web view.
  bool scalesPageToFit = false;
  bool allowsInlineMediaPlayback = false;
  bool mediaPlaybackRequiresUserAction = true;
  bool mediaPlaybackAllowsAirPlay = true;
  std::uint64_t dataDetectorTypes = 0;
  // Read when a document is shown: a view that is not opaque draws no page background of
  // its own where the page paints none (a transparent snapshot there).
  bool opaque = true;
  struct ScrollView {
    bool bounces = true;
    bool scrollEnabled = true;
    bool scrollsToTop = true;
  } scrollView;

  // Whether the page draws anything but one colour.
  bool hasDrawnContent() const;
  void drawRect(uikit::GraphicsContext& ctx, uikit::Rect rect) const override;
  void setFrame(uikit::Rect frame) override;

  // What the page wrote to its console and its uncaught errors, newest last (bounded);
  // for tests and drivers. Each line also goes to the system log.
  const std::deque<std::string>& consoleMessages() const { return console_; }
  // Ends the page's web process as a crash would (tests, and the watchdog's path).
  void terminateWebProcess();

  // Reports of the engine (internal).
  struct EngineEvents;

 private:
  struct HistoryEntry {
    net::URLRequest request;
    std::optional<std::string> html;  // a string load keeps its text
  };
  enum class HistoryMove { Push, Replace, Stay, MoveTo };
  struct PendingLoad;
  class LoadClient;
  struct Snapshot;

  std::shared_ptr<WebView> self() { return std::static_pointer_cast<WebView>(shared_from_this()); }
  void* engineView();
  net::URLRequest withUserAgent(net::URLRequest request) const;
  bool askDelegate(const net::URLRequest& request, NavigationType type);
  void beginLoad(net::URLRequest request, NavigationType type, std::optional<std::string> html, HistoryMove move,
                 std::size_t moveTo = 0);
  void loadFailed(std::uint64_t generation, foundation::Error error);
  void commit(std::uint64_t generation, std::string html, net::URL url);
  void engineLoadEvent(int event, const std::string& uri, int code, const std::string& message);
  int engineNavigation(const std::string& uri, int type, bool newWindow, bool userGesture);
  void engineMessage(const std::string& json);
  void engineProcessEnded(int reason);
  void log(std::string line);
  std::optional<std::string> evaluateAndWait(std::string_view script, double seconds) const;

  std::weak_ptr<WebViewDelegate> delegate_;
  void* engineView_ = nullptr;
  std::unique_ptr<PendingLoad> load_;
  std::uint64_t generation_ = 0;
  bool loading_ = false;
  // The committed document.
  std::optional<net::URLRequest> request_;
  std::string documentURL_ = "about:blank";
  std::vector<HistoryEntry> history_;
  std::size_t historyIndex_ = 0;
  // Page navigations the delegate allowed, by URL: the type a main-frame one loads with.
  std::deque<std::pair<std::string, NavigationType>> allowed_;
  std::deque<std::string> console_;
  std::shared_ptr<Snapshot> snapshot_;
};

}  // namespace webkit
