#pragma once
// The web view: a document per load whose scripts run in a duktape heap of its own, a
// small window/document/location environment, every navigation offered to a delegate,
// load callbacks, evaluation, timers on the main run loop, history, and drawing into
// the headless UIKit's bitmap. docs/webkit.md tells the whole design.
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
#include "platform/webkit/document_heaps.h"
#include "platform/webkit/html_scanner.h"
#include "platform/webkit/script_context.h"

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
};
// User-info keys of a load error: the failing URL's absolute text under both.
inline constexpr const char* kURLErrorKey = "NSURLErrorKey";
inline constexpr const char* kErrorFailingURLStringKey = "NSErrorFailingURLStringKey";

// Bounds on what one page may make the host do. Process-wide; tests narrow them.
struct WebViewLimits {
  std::size_t maxDocumentBytes = 4u << 20;
  std::size_t maxScriptBytes = 2u << 20;
  std::size_t maxScriptsPerDocument = 256;
  std::size_t maxHeapBytes = 64u << 20;
  double maxRunSeconds = 1.0;
  std::size_t maxTimersPerDocument = 1000;
  std::size_t maxNavigationsPerTurn = 1000;

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
  // Runs the script at the next pass of the main run loop; the completion (optional)
  // gets the result or the error's text.
  using EvaluationCompletion = std::function<void(std::optional<std::string> result, std::optional<std::string> error)>;
  void evaluateJavaScript(std::string script, EvaluationCompletion completion = nullptr);

  // A finger on the document's n-th link (navigation type 0) or submitting its n-th form
  // (type 1, the form's fields in a GET query or a POST body). False when there is none.
  bool tapLink(std::size_t index);
  bool submitForm(std::size_t index);
  const HTMLDocumentParts& documentParts() const { return parts_; }

  // Property holders of the platform's web view.
  bool scalesPageToFit = false;
  bool allowsInlineMediaPlayback = false;
  bool mediaPlaybackRequiresUserAction = true;
  bool mediaPlaybackAllowsAirPlay = true;
  std::uint64_t dataDetectorTypes = 0;
  bool opaque = true;
  struct ScrollView {
    bool bounces = true;
    bool scrollEnabled = true;
    bool scrollsToTop = true;
  } scrollView;

  // Whether the body shows anything (text or an image).
  bool hasDrawnContent() const;
  void drawRect(uikit::GraphicsContext& ctx, uikit::Rect rect) const override;

  // What the page wrote to its console, newest last (bounded); for tests and drivers.
  const std::deque<std::string>& consoleMessages() const { return console_; }

  // Natives of the page environment (internal).
  struct Natives;
  // Where every web view's document heaps come from and go to (document_heaps.h).
  static DocumentHeaps& documentHeaps();

 private:
  struct HistoryEntry {
    net::URLRequest request;
    std::optional<std::string> html;  // a string load keeps its text
  };
  enum class HistoryMove { Push, Replace, Stay, MoveTo };
  struct PendingLoad;
  class LoadClient;
  struct Document;

  std::shared_ptr<WebView> self() { return std::static_pointer_cast<WebView>(shared_from_this()); }
  net::URLRequest withUserAgent(net::URLRequest request) const;
  bool askDelegate(const net::URLRequest& request, NavigationType type);
  void beginLoad(net::URLRequest request, NavigationType type, std::optional<std::string> html, HistoryMove move,
                 std::size_t moveTo = 0);
  void loadFailed(std::uint64_t generation, foundation::Error error);
  void commit(std::uint64_t generation, std::string html, net::URL url);
  void runNextScript(std::uint64_t generation);
  void finishDocument(std::uint64_t generation);
  void evaluateScriptText(const std::string& text, const std::string& name);
  void fireEvent(const char* target, const char* type);
  void flushNavigations();
  void enqueueNavigation(std::string url, NavigationType type, std::string method, std::optional<std::string> body);
  std::uint64_t addTimer(double seconds, bool repeats);
  void clearTimer(std::uint64_t id);
  void fireTimer(std::uint64_t documentId, std::uint64_t id, bool repeats);
  void destroyDocument();
  void log(std::string line);
  ScriptContext::Result enter(const std::function<ScriptContext::Result(ScriptContext&)>& body);

  std::weak_ptr<WebViewDelegate> delegate_;
  std::unique_ptr<Document> document_;
  std::unique_ptr<PendingLoad> load_;
  HTMLDocumentParts parts_;
  std::uint64_t generation_ = 0;
  std::uint64_t documentCounter_ = 0;
  bool loading_ = false;
  std::vector<HistoryEntry> history_;
  std::size_t historyIndex_ = 0;
  struct QueuedNavigation {
    std::string url;
    NavigationType type;
    std::string method;
    std::optional<std::string> body;
  };
  std::deque<QueuedNavigation> navigations_;
  int scriptDepth_ = 0;
  bool flushing_ = false;
  std::deque<std::string> console_;
};

}  // namespace webkit
