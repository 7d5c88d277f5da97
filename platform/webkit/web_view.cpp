#include "platform/webkit/web_view.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <mutex>

#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/json.h"
#include "platform/foundation/log.h"
#include "platform/uikit/graphics_context.h"
#include "platform/uikit/image.h"
#include "platform/unicode/charset.h"
#include "platform/webkit/engine.h"

namespace webkit {

WebViewLimits& WebViewLimits::current() {
  static WebViewLimits limits;
  return limits;
}

namespace {

std::mutex& userAgentMutex() {
  static std::mutex m;
  return m;
}
std::string& userAgentStorage() {
  static std::string ua = "Mozilla/5.0 (Linux; Wardvane) AppleWebKit/605.1.15 (KHTML, like Gecko) WardvaneWeb/2.0 Mobile";
  return ua;
}

constexpr std::size_t kMaxConsoleLines = 200;
constexpr std::size_t kMaxHistory = 100;
constexpr std::size_t kMaxAllowed = 64;
constexpr double kSnapshotSeconds = 1.0;
constexpr const char* kOurSchemePrefix = "wardvane-";
// Engine error codes of loads it gave up because we asked it to: a new load, a stop, a
// navigation handed to us, a policy we ignored.
constexpr int kEngineCancelled = 302;
constexpr int kEngineInterruptedByPolicy = 102;

std::string lowerScheme(std::string_view url) {
  const auto colon = url.find(':');
  std::string s(url.substr(0, colon == std::string_view::npos ? 0 : colon));
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

foundation::Error loadError(const char* domain, long code, const std::string& description, const std::string& url) {
  foundation::Error e;
  e.domain = domain;
  e.code = code;
  e.userInfo[foundation::kLocalizedDescriptionKey] = description;
  e.userInfo[kURLErrorKey] = url;
  e.userInfo[kErrorFailingURLStringKey] = url;
  return e;
}

// One evaluation's wait: shared with the engine's callback, which may come after the
// waiter gave up and returned.
struct EvaluationWait {
  bool done = false;
  std::optional<std::string> result;
  std::optional<std::string> error;
  WebView::EvaluationCompletion completion;
};

void onEvaluated(void* context, const char* result, const char* error) {
  auto* holder = static_cast<std::shared_ptr<EvaluationWait>*>(context);
  auto wait = *holder;
  delete holder;
  wait->done = true;
  if (result) wait->result = result;
  else wait->error = error ? error : "failed";
  if (auto completion = std::move(wait->completion)) completion(wait->result, wait->error);
}

WebView* viewOf(void* host) { return static_cast<WebView*>(host); }

}  // namespace

// ---- the engine's reports

struct WebView::EngineEvents {
  static int navigation(void* view, const char* uri, int type, int newWindow, int userGesture) {
    return viewOf(view)->engineNavigation(uri, type, newWindow != 0, userGesture != 0);
  }
  static void load(void* view, int event, const char* uri, int code, const char* message) {
    viewOf(view)->engineLoadEvent(event, uri ? uri : "", code, message ? message : "");
  }
  static void message(void* view, const char* json) { viewOf(view)->engineMessage(json ? json : ""); }
  static void processEnded(void* view, int reason) { viewOf(view)->engineProcessEnded(reason); }
};

namespace engine {
extern const wv_engine_host kViewHost;
const wv_engine_host kViewHost = {&WebView::EngineEvents::navigation, &WebView::EngineEvents::load,
                                  &WebView::EngineEvents::message, &WebView::EngineEvents::processEnded, nullptr,
                                  nullptr};
}  // namespace engine

// ---- the load in progress

struct WebView::PendingLoad {
  std::uint64_t generation = 0;
  net::URLRequest request{*net::URL::fromString("about:blank")};
  NavigationType type = NavigationType::Other;
  std::optional<std::string> html;
  HistoryMove move = HistoryMove::Push;
  std::size_t moveTo = 0;
  std::shared_ptr<net::URLConnection> connection;
  std::shared_ptr<net::URLConnectionDelegate> client;
  bool ended = false;       // the document's bytes are in (or the fetch failed)
  bool inEngine = false;    // handed to the engine, which now reports on it
  bool committed = false;
  std::string url;          // the document's URL (after redirects)
};

struct WebView::Snapshot {
  std::vector<std::uint8_t> rgba;
  int width = 0;
  int height = 0;
};

// Receives the document's bytes. Reports only record and schedule: the work runs in
// blocks of its own on the main run loop, never inside a connection's report.
class WebView::LoadClient : public net::URLConnectionDelegate {
 public:
  LoadClient(std::weak_ptr<WebView> view, std::uint64_t generation) : view_(std::move(view)), generation_(generation) {}

  std::optional<net::URLRequest> connectionWillSendRequest(net::URLConnection&, const net::URLRequest& request,
                                                           const net::URLResponsePtr& redirectResponse) override {
    if (!redirectResponse) return request;
    auto view = live();
    if (!view) return std::nullopt;
    auto next = view->withUserAgent(request);
    if (view->askDelegate(next, NavigationType::Other)) {
      if (view->load_) view->load_->request = next;
      return next;
    }
    fail(loadError(kErrorDomain, kErrorFrameLoadInterrupted, "Frame load interrupted", next.url.absoluteString()));
    return std::nullopt;
  }
  void connectionDidReceiveResponse(net::URLConnection&, const net::URLResponsePtr& response) override {
    auto view = live();
    if (!view || ended()) return;
    response_ = response;
    const auto& limits = WebViewLimits::current();
    if (response && response->statusCode >= 400) {
      auto e = loadError(net::kErrorDomain, net::kErrorBadServerResponse,
                         "The server answered with status " + std::to_string(response->statusCode),
                         view->load_->request.url.absoluteString());
      e.userInfo["statusCode"] = response->statusCode;
      fail(std::move(e));
    } else if (response && response->expectedContentLength > 0 &&
               static_cast<std::uint64_t>(response->expectedContentLength) > limits.maxDocumentBytes) {
      tooLarge(*view);
    }
  }
  void connectionDidReceiveData(net::URLConnection&, const net::Bytes& data) override {
    auto view = live();
    if (!view || ended()) return;
    if (body_.size() + data.size() > WebViewLimits::current().maxDocumentBytes) return tooLarge(*view);
    body_.insert(body_.end(), data.begin(), data.end());
  }
  void connectionDidFinishLoading(net::URLConnection&) override {
    auto view = live();
    if (!view || ended()) return;
    view->load_->ended = true;
    // The engine is handed UTF-8: the document's bytes are read here by the charset its
    // answer or its own <meta> declares.
    std::string html = unicode::decodeDocument(
        std::string_view(reinterpret_cast<const char*>(body_.data()), body_.size()),
        response_ ? response_->headers.get("Content-Type").value_or("") : std::string());
    const std::string url = response_ ? response_->url.absoluteString() : view->load_->request.url.absoluteString();
    std::weak_ptr<WebView> weak = view;
    const auto generation = generation_;
    dispatch::RunLoop::main().performBlock([weak, generation, html = std::move(html), url] {
      if (auto v = weak.lock()) v->commit(generation, html, *net::URL::fromString(url));
    });
  }
  void connectionDidFailWithError(net::URLConnection&, const foundation::Error& error) override {
    auto view = live();
    if (!view || ended()) return;
    // The transfer cut at the document's bound: the document is too large, as when the
    // bound is met here.
    if (error.domain == net::kErrorDomain && error.code == net::kErrorDataLengthExceedsMaximum) return tooLarge(*view);
    fail(error);
  }

 private:
  std::shared_ptr<WebView> live() {
    auto view = view_.lock();
    if (!view || view->generation_ != generation_ || !view->load_) return nullptr;
    return view;
  }
  bool ended() { return live() && live()->load_->ended; }
  void tooLarge(WebView& view) {
    fail(loadError(kErrorDomain, kErrorDocumentTooLarge, "The document is too large",
                   view.load_->request.url.absoluteString()));
  }
  void fail(foundation::Error error) {
    auto view = live();
    if (!view) return;
    view->load_->ended = true;
    std::weak_ptr<WebView> weak = view;
    const auto generation = generation_;
    dispatch::RunLoop::main().performBlock([weak, generation, error = std::move(error)] {
      if (auto v = weak.lock()) v->loadFailed(generation, error);
    });
  }

  std::weak_ptr<WebView> view_;
  std::uint64_t generation_;
  net::URLResponsePtr response_;
  net::Bytes body_;
};

// ---- the view

std::shared_ptr<WebView> WebView::create(uikit::Rect frame) { return std::make_shared<WebView>(frame); }

WebView::WebView(uikit::Rect frame) : uikit::WebView(frame) {}

WebView::~WebView() {
  if (load_ && load_->connection) load_->connection->cancel();
  if (engineView_) engine::api()->view_free(engineView_);
}

void* WebView::engineView() {
  if (engineView_) return engineView_;
  const wv_engine_api* api = engine::api();
  if (!api) return nullptr;
  const uikit::Rect b = bounds();
  engineView_ = api->view_new(this, static_cast<int>(b.size.width), static_cast<int>(b.size.height),
                              defaultUserAgent().c_str());
  const auto& limits = WebViewLimits::current();
  if (engineView_) api->view_set_memory_limit(engineView_, limits.memoryLimitMegabytes, limits.memoryKillThreshold);
  return engineView_;
}

void WebView::setFrame(uikit::Rect frame) {
  uikit::WebView::setFrame(frame);
  if (engineView_)
    engine::api()->view_resize(engineView_, static_cast<int>(frame.size.width), static_cast<int>(frame.size.height));
}

std::string WebView::defaultUserAgent() {
  std::lock_guard lock(userAgentMutex());
  return userAgentStorage();
}

void WebView::setDefaultUserAgent(std::string userAgent) {
  std::lock_guard lock(userAgentMutex());
  userAgentStorage() = std::move(userAgent);
}

void WebView::setDelegate(std::weak_ptr<WebViewDelegate> delegate) {
  WV_DCHECK_MAIN_THREAD();
  delegate_ = std::move(delegate);
}

net::URLRequest WebView::withUserAgent(net::URLRequest request) const {
  if (!request.headers.has("User-Agent")) request.headers.set("User-Agent", defaultUserAgent());
  return request;
}

bool WebView::askDelegate(const net::URLRequest& request, NavigationType type) {
  auto d = delegate_.lock();
  if (!d) return true;
  return d->webViewShouldStartLoadWithRequestNavigationType(*this, request, type);
}

void WebView::loadRequest(net::URLRequest request) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  request = withUserAgent(std::move(request));
  if (!askDelegate(request, NavigationType::Other)) return;
  beginLoad(std::move(request), NavigationType::Other, std::nullopt, HistoryMove::Push);
}

void WebView::loadHTMLStringBaseURL(std::string html, std::optional<net::URL> baseURL) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  auto request = withUserAgent(net::URLRequest(baseURL.value_or(*net::URL::fromString("about:blank"))));
  if (!askDelegate(request, NavigationType::Other)) return;
  beginLoad(std::move(request), NavigationType::Other, std::move(html), HistoryMove::Push);
}

void WebView::beginLoad(net::URLRequest request, NavigationType type, std::optional<std::string> html,
                        HistoryMove move, std::size_t moveTo) {
  // The first document goes to the engine once it is in: a display server the process
  // needs for it starts now, while the document is fetched.
  engine::startDisplayAhead();
  if (load_ && load_->connection) load_->connection->cancel();
  const std::uint64_t generation = ++generation_;
  load_ = std::make_unique<PendingLoad>();
  load_->generation = generation;
  load_->request = request;
  load_->type = type;
  load_->html = html;
  load_->move = move;
  load_->moveTo = moveTo;
  loading_ = true;
  std::weak_ptr<WebView> weak = self();
  auto& loop = dispatch::RunLoop::main();
  loop.performBlock([weak, generation] {
    auto v = weak.lock();
    if (!v || v->generation_ != generation) return;
    if (auto d = v->delegate_.lock()) d->webViewDidStartLoad(*v);
  });

  const std::string url = request.url.absoluteString();
  const std::string scheme = lowerScheme(url);
  if (html || scheme == "about") {
    std::string text = html.value_or("");
    if (text.size() > WebViewLimits::current().maxDocumentBytes) {
      load_->ended = true;
      loop.performBlock([weak, generation, url] {
        if (auto v = weak.lock())
          v->loadFailed(generation, loadError(kErrorDomain, kErrorDocumentTooLarge, "The document is too large", url));
      });
      return;
    }
    loop.performBlock([weak, generation, text = std::move(text), url = request.url] {
      if (auto v = weak.lock()) v->commit(generation, text, url);
    });
    return;
  }
  if (scheme == "file") {
    loop.performBlock([weak, generation, url = request.url] {
      auto v = weak.lock();
      if (!v) return;
      const auto path = net::percentUnescape(url.path()).value_or(url.path());
      std::ifstream in(path, std::ios::binary);
      if (!in) {
        v->loadFailed(generation, loadError(net::kErrorDomain, -1100, "The file does not exist", url.absoluteString()));
        return;
      }
      std::string text;
      char buffer[65536];
      while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > WebViewLimits::current().maxDocumentBytes) {
          v->loadFailed(generation, loadError(kErrorDomain, kErrorDocumentTooLarge, "The document is too large",
                                              url.absoluteString()));
          return;
        }
      }
      v->commit(generation, unicode::decodeDocument(text, ""), url);
    });
    return;
  }
  auto client = std::make_shared<LoadClient>(weak, generation);
  load_->client = client;
  // Bounded as it arrives: a document over the bound is cut off in the transfer, not read
  // whole first.
  request.maxBodySize = WebViewLimits::current().maxDocumentBytes;
  auto connection = net::URLConnection::create(request, client, net::deliverOnRunLoop(loop));
  if (!connection) {
    load_->ended = true;
    loop.performBlock([weak, generation, url] {
      if (auto v = weak.lock())
        v->loadFailed(generation, loadError(net::kErrorDomain, net::kErrorUnsupportedURL, "unsupported URL", url));
    });
    return;
  }
  load_->connection = connection;
  connection->start();
}

int WebView::webProcessIdentifier() {
  WV_DCHECK_MAIN_THREAD();
  return engineView_ ? engine::api()->view_process_id(engineView_) : 0;
}

void WebView::loadFailed(std::uint64_t generation, foundation::Error error) {
  if (generation != generation_ || !load_) return;
  auto keep = self();
  const std::string url = load_->request.url.absoluteString();
  if (!error.userInfo.count(kURLErrorKey)) error.userInfo[kURLErrorKey] = url;
  if (!error.userInfo.count(kErrorFailingURLStringKey)) error.userInfo[kErrorFailingURLStringKey] = url;
  if (load_->connection) load_->connection->cancel();
  load_.reset();
  loading_ = false;
  if (auto d = delegate_.lock()) d->webViewDidFailLoadWithError(*this, error);
}

// The document's bytes are in: the engine shows them under the document's own URL, so
// the page's origin and location are the ones it was loaded from.
void WebView::commit(std::uint64_t generation, std::string html, net::URL url) {
  if (generation != generation_ || !load_) return;
  auto keep = self();
  if (!engineView_ && !engine::isLoaded()) {
    // The engine's first start needs the display server: its document waits in the loop
    // for it rather than the main thread in the engine's start.
    std::weak_ptr<WebView> weak = keep;
    if (!engine::whenDisplayReady([weak, generation, html, url] {
          if (auto v = weak.lock()) v->commit(generation, html, url);
        }))
      return;
  }
  void* view = engineView();
  load_->url = url.absoluteString();
  if (!view) {
    loadFailed(generation, loadError(kErrorDomain, kErrorWebProcessTerminated,
                                     "The web engine is not available: " + engine::startError(), load_->url));
    return;
  }
  load_->inEngine = true;
  uikit::WebView::loadHTMLString(html);
  // A view that is not opaque shows what lies under it where the page paints nothing.
  engine::api()->view_set_transparent(view, opaque ? 0 : 1);
  engine::api()->view_load_html(view, html.data(), html.size(), load_->url.c_str());
}

void WebView::engineLoadEvent(int event, const std::string& uri, int code, const std::string& message) {
  auto keep = self();
  if (event == WV_LOAD_STARTED && code == 1) {
    // The page's main frame left for a page the delegate allowed: we load it ourselves.
    NavigationType type = NavigationType::Other;
    for (auto it = allowed_.rbegin(); it != allowed_.rend(); ++it)
      if (it->first == uri) {
        type = it->second;
        break;
      }
    allowed_.clear();
    auto url = net::URL::fromString(uri);
    if (!url) return;
    net::URLRequest request = withUserAgent(net::URLRequest(*url));
    if (request_) request.headers.set("Referer", documentURL_);
    beginLoad(std::move(request), type, std::nullopt, type == NavigationType::Reload ? HistoryMove::Stay : HistoryMove::Push);
    return;
  }
  if (!load_ || !load_->inEngine) return;
  const std::uint64_t generation = load_->generation;
  switch (event) {
    case WV_LOAD_STARTED:
      break;
    case WV_LOAD_COMMITTED: {
      if (load_->committed) break;
      load_->committed = true;
      request_ = load_->request;
      documentURL_ = load_->url;
      HistoryEntry entry{load_->request, load_->html};
      switch (load_->move) {
        case HistoryMove::Push:
          if (!history_.empty())
            history_.erase(history_.begin() + static_cast<std::ptrdiff_t>(historyIndex_) + 1, history_.end());
          history_.push_back(std::move(entry));
          if (history_.size() > kMaxHistory) history_.erase(history_.begin());
          historyIndex_ = history_.size() - 1;
          break;
        case HistoryMove::Replace:
        case HistoryMove::Stay:
          if (history_.empty()) history_.push_back(std::move(entry));
          break;
        case HistoryMove::MoveTo:
          if (load_->moveTo < history_.size()) historyIndex_ = load_->moveTo;
          break;
      }
      break;
    }
    case WV_LOAD_FINISHED:
      if (!load_->committed) break;
      load_.reset();
      loading_ = false;
      if (auto d = delegate_.lock()) d->webViewDidFinishLoad(*this);
      break;
    case WV_LOAD_FAILED:
      if (code == kEngineCancelled || code == kEngineInterruptedByPolicy) break;
      loadFailed(generation, loadError(kErrorDomain, code, message, load_->url.empty() ? uri : load_->url));
      break;
    default:
      break;
  }
}

int WebView::engineNavigation(const std::string& rawURI, int type, bool newWindow, bool userGesture) {
  auto keep = self();
  std::string uri = rawURI;
  // A frame that lives on our scheme navigates within it: the page meant the URL after it.
  if (uri.rfind(kOurSchemePrefix, 0) == 0) uri.erase(0, std::string_view(kOurSchemePrefix).size());
  const std::string scheme = lowerScheme(uri);
  // What never leaves the page (frames made by script, data and blob URLs) is not a
  // navigation anyone outside it needs to hear of.
  if (scheme == "about" || scheme == "data" || scheme == "blob" || scheme == "javascript") return WV_POLICY_USE;
  auto url = net::URL::fromString(uri);
  if (!url) {
    log("warn: not a URL: " + uri.substr(0, 200));
    return WV_POLICY_IGNORE;
  }
  NavigationType navType = type >= 0 && type <= 5 ? static_cast<NavigationType>(type) : NavigationType::Other;
  if (newWindow && userGesture && navType == NavigationType::Other) navType = NavigationType::LinkClicked;
  net::URLRequest request = withUserAgent(net::URLRequest(*url));
  if (request_) request.headers.set("Referer", documentURL_);
  const bool allowedByDelegate = askDelegate(request, navType);
  if (!allowedByDelegate) return WV_POLICY_IGNORE;
  if (newWindow) return WV_POLICY_IGNORE;  // no second window: the delegate has heard of it
  if (scheme == "http" || scheme == "https") {
    allowed_.emplace_back(uri, navType);
    while (allowed_.size() > kMaxAllowed) allowed_.pop_front();
    return WV_POLICY_USE;
  }
  log("info: nothing loads " + scheme + " URLs: " + uri.substr(0, 200));
  return WV_POLICY_IGNORE;
}

void WebView::engineMessage(const std::string& json) {
  auto value = foundation::jsonParse(json);
  if (!value) return;
  const auto* kind = value->get("kind");
  const auto* text = value->get("text");
  if (!kind || !text || !kind->asString() || !text->asString()) return;
  std::string line;
  if (*kind->asString() == "console") {
    const auto* level = value->get("level");
    line = "console." + (level && level->asString() ? *level->asString() : std::string("log")) + ": " + *text->asString();
  } else {
    line = "error: " + *text->asString();
    const auto* source = value->get("source");
    const auto* lineNo = value->get("line");
    if (source && source->asString() && !source->asString()->empty()) {
      std::string src = *source->asString();
      if (src.rfind(kOurSchemePrefix, 0) == 0) src.erase(0, std::string_view(kOurSchemePrefix).size());
      line += " (" + src;
      if (lineNo && lineNo->doubleValue() && *lineNo->doubleValue() > 0)
        line += ":" + std::to_string(static_cast<long long>(*lineNo->doubleValue()));
      line += ")";
    }
  }
  log(line);
}

void WebView::engineProcessEnded(int reason) {
  auto keep = self();
  const char* why = reason == WV_PROCESS_MEMORY         ? "it went over its memory bound"
                    : reason == WV_PROCESS_UNRESPONSIVE ? "it stopped answering"
                    : reason == WV_PROCESS_BY_HOST      ? "the host ended it"
                                                        : "it crashed";
  log(std::string("error: the page's web process ended: ") + why);
  if (load_ && load_->inEngine) {
    loadFailed(load_->generation, loadError(kErrorDomain, kErrorWebProcessTerminated,
                                            std::string("The page's web process ended: ") + why, load_->url));
    return;
  }
  if (auto d = delegate_.lock()) d->webViewWebContentProcessDidTerminate(*this);
}

void WebView::log(std::string line) {
  if (line.size() > 2000) line.resize(2000);
  foundation::systemLog("WebView " + documentURL_.substr(0, 200) + ": " + line);
  console_.push_back(std::move(line));
  while (console_.size() > kMaxConsoleLines) console_.pop_front();
}

// ---- evaluation

std::optional<std::string> WebView::evaluateAndWait(std::string_view script, double seconds) const {
  if (!engineView_) return std::nullopt;
  auto wait = std::make_shared<EvaluationWait>();
  engine::api()->view_evaluate(engineView_, script.data(), script.size(), onEvaluated,
                               new std::shared_ptr<EvaluationWait>(wait));
  dispatch::RunLoop::main().runUntil([&] { return wait->done; }, seconds);
  return wait->result;
}

std::string WebView::stringByEvaluatingJavaScriptFromString(std::string_view script) {
  WV_DCHECK_MAIN_THREAD();
  if (script.size() > WebViewLimits::current().maxScriptBytes) return "";
  if (!engineView_) return uikit::WebView::stringByEvaluatingJavaScriptFromString(script);
  auto keep = self();
  return evaluateAndWait(script, WebViewLimits::current().maxRunSeconds).value_or("");
}

void WebView::evaluateJavaScript(std::string script, EvaluationCompletion completion) {
  WV_DCHECK_MAIN_THREAD();
  if (!completion && !engineView_) return;
  void* view = script.size() > WebViewLimits::current().maxScriptBytes ? nullptr : engineView();
  if (!view) {
    const std::string why = engineView_ ? "script too large" : "no web engine";
    if (completion)
      dispatch::RunLoop::main().performBlock([completion, why] { completion(std::nullopt, why); });
    return;
  }
  auto wait = std::make_shared<EvaluationWait>();
  wait->completion = std::move(completion);
  engine::api()->view_evaluate(view, script.data(), script.size(), onEvaluated,
                               new std::shared_ptr<EvaluationWait>(wait));
}

// ---- history and loads

void WebView::stopLoading() {
  WV_DCHECK_MAIN_THREAD();
  if (load_ && load_->connection) load_->connection->cancel();
  if (engineView_ && load_ && load_->inEngine) engine::api()->view_stop(engineView_);
  if (load_ || loading_) ++generation_;
  load_.reset();
  loading_ = false;
}

bool WebView::canGoBack() const { return !history_.empty() && historyIndex_ > 0; }
bool WebView::canGoForward() const { return !history_.empty() && historyIndex_ + 1 < history_.size(); }

void WebView::goBack() {
  WV_DCHECK_MAIN_THREAD();
  if (!canGoBack()) return;
  auto keep = self();
  const std::size_t target = historyIndex_ - 1;
  HistoryEntry entry = history_[target];
  if (!askDelegate(entry.request, NavigationType::BackForward)) return;
  beginLoad(entry.request, NavigationType::BackForward, entry.html, HistoryMove::MoveTo, target);
}

void WebView::goForward() {
  WV_DCHECK_MAIN_THREAD();
  if (!canGoForward()) return;
  auto keep = self();
  const std::size_t target = historyIndex_ + 1;
  HistoryEntry entry = history_[target];
  if (!askDelegate(entry.request, NavigationType::BackForward)) return;
  beginLoad(entry.request, NavigationType::BackForward, entry.html, HistoryMove::MoveTo, target);
}

void WebView::reload() {
  WV_DCHECK_MAIN_THREAD();
  if (history_.empty()) return;
  auto keep = self();
  HistoryEntry entry = history_[historyIndex_];
  if (!askDelegate(entry.request, NavigationType::Reload)) return;
  beginLoad(entry.request, NavigationType::Reload, entry.html, HistoryMove::Stay);
}

std::optional<net::URLRequest> WebView::request() const { return request_; }

std::string WebView::documentURL() const { return documentURL_; }

void WebView::resetHistory() {
  WV_DCHECK_MAIN_THREAD();
  if (history_.empty()) return;
  HistoryEntry current = history_[historyIndex_];
  history_.clear();
  history_.push_back(std::move(current));
  historyIndex_ = 0;
}

void WebView::terminateWebProcess() {
  WV_DCHECK_MAIN_THREAD();
  if (engineView_) engine::api()->view_terminate(engineView_);
}

// ---- fingers

void WebView::tapAtPoint(uikit::Point point) {
  WV_DCHECK_MAIN_THREAD();
  if (engineView_) engine::api()->view_click(engineView_, point.x, point.y);
}

bool WebView::tapLink(std::size_t index) {
  WV_DCHECK_MAIN_THREAD();
  if (!engineView_) return false;
  auto keep = self();
  // A finger at the link's middle when it has a box inside the view; else the link's own
  // click (a link with no box of its own is still one an assistive tap can follow).
  const std::string where = evaluateAndWait(
      "(function(){var a=document.querySelectorAll('a[href]')[" + std::to_string(index) +
          "];if(!a)return 'none';var r=a.getClientRects()[0];"
          "if(r&&r.width>0&&r.height>0&&r.left>=0&&r.top>=0&&r.left+r.width/2<innerWidth&&r.top+r.height/2<innerHeight"
          "&&document.elementFromPoint(r.left+r.width/2,r.top+r.height/2)&&a.contains(document.elementFromPoint(r.left+r.width/2,r.top+r.height/2)))"
          "return (r.left+r.width/2)+','+(r.top+r.height/2);a.click();return 'click';})()",
      WebViewLimits::current().maxRunSeconds).value_or("none");
  if (where == "none") return false;
  if (where != "click") {
    const auto comma = where.find(',');
    tapAtPoint({std::strtod(where.c_str(), nullptr), std::strtod(where.c_str() + comma + 1, nullptr)});
  }
  return true;
}

bool WebView::submitForm(std::size_t index) {
  WV_DCHECK_MAIN_THREAD();
  if (!engineView_) return false;
  auto keep = self();
  return evaluateAndWait("(function(){var f=document.forms[" + std::to_string(index) +
                             "];if(!f)return 'none';if(f.requestSubmit)f.requestSubmit();else f.submit();return 'ok';})()",
                         WebViewLimits::current().maxRunSeconds)
             .value_or("none") == "ok";
}

DocumentParts WebView::documentParts() {
  WV_DCHECK_MAIN_THREAD();
  DocumentParts parts;
  if (!engineView_) return parts;
  auto keep = self();
  auto json = evaluateAndWait(
      "JSON.stringify({title:document.title,body:document.body?document.body.innerHTML:'',"
      "links:Array.prototype.map.call(document.querySelectorAll('a[href]'),function(a){return a.href;})})",
      WebViewLimits::current().maxRunSeconds);
  if (!json) return parts;
  auto value = foundation::jsonParse(*json);
  if (!value) return parts;
  if (const auto* t = value->get("title"); t && t->asString()) parts.title = *t->asString();
  if (const auto* b = value->get("body"); b && b->asString()) parts.bodyHTML = *b->asString();
  if (const auto* l = value->get("links"); l && l->asArray())
    for (const auto& link : *l->asArray())
      if (link.asString()) {
        std::string href = *link.asString();
        if (href.rfind(kOurSchemePrefix, 0) == 0) href.erase(0, std::string_view(kOurSchemePrefix).size());
        parts.links.push_back(std::move(href));
      }
  return parts;
}

// ---- drawing

namespace {
void onSnapshot(void* context, const unsigned char* rgba, int width, int height) {
  auto* holder = static_cast<std::shared_ptr<std::optional<std::vector<std::uint8_t>>>*>(context);
  auto out = *holder;
  delete holder;
  std::vector<std::uint8_t> pixels;
  if (rgba && width > 0 && height > 0) {
    pixels.assign(rgba, rgba + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    pixels.push_back(static_cast<std::uint8_t>(width & 0xFF));
    pixels.push_back(static_cast<std::uint8_t>((width >> 8) & 0xFF));
    pixels.push_back(static_cast<std::uint8_t>((width >> 16) & 0xFF));
    pixels.push_back(static_cast<std::uint8_t>((width >> 24) & 0xFF));
  }
  *out = std::move(pixels);
}
}  // namespace

void WebView::drawRect(uikit::GraphicsContext& ctx, uikit::Rect) const {
  if (!engineView_ || !request_) return;
  // A snapshot of the engine's own drawing, waited for as a synchronous evaluation is;
  // the last one stands in when a page is too busy to draw.
  auto out = std::make_shared<std::optional<std::vector<std::uint8_t>>>();
  engine::api()->view_snapshot(engineView_, onSnapshot,
                               new std::shared_ptr<std::optional<std::vector<std::uint8_t>>>(out));
  dispatch::RunLoop::main().runUntil([&] { return out->has_value(); }, kSnapshotSeconds);
  auto& self = const_cast<WebView&>(*this);
  if (out->has_value() && (*out)->size() > 4) {
    auto& bytes = **out;
    const std::size_t n = bytes.size() - 4;
    const int width = bytes[n] | (bytes[n + 1] << 8) | (bytes[n + 2] << 16) | (bytes[n + 3] << 24);
    bytes.resize(n);
    auto snap = std::make_shared<Snapshot>();
    snap->width = width;
    snap->height = width > 0 ? static_cast<int>(n / 4 / static_cast<std::size_t>(width)) : 0;
    snap->rgba = std::move(bytes);
    self.snapshot_ = snap;
  }
  if (!snapshot_ || snapshot_->width <= 0 || snapshot_->height <= 0) return;
  // Straight alpha for the image, as Image holds it.
  std::vector<std::uint8_t> straight = snapshot_->rgba;
  for (std::size_t i = 0; i + 3 < straight.size(); i += 4) {
    const unsigned a = straight[i + 3];
    if (a == 0 || a == 255) continue;
    for (int c = 0; c < 3; ++c) straight[i + static_cast<std::size_t>(c)] =
        static_cast<std::uint8_t>(std::min(255u, straight[i + static_cast<std::size_t>(c)] * 255u / a));
  }
  uikit::Image image(static_cast<std::uint32_t>(snapshot_->width), static_cast<std::uint32_t>(snapshot_->height),
                     std::move(straight));
  // An opaque web view shows white where the page paints no background of its own; a
  // transparent one shows what lies behind it.
  const uikit::Rect area{{0, 0}, {static_cast<double>(snapshot_->width), static_cast<double>(snapshot_->height)}};
  if (opaque) ctx.fillRect(area, uikit::Color::whiteColor());
  // The snapshot is in the page's pixels, one per point of the view.
  ctx.drawImage(image, uikit::Rect{{0, 0}, {static_cast<double>(snapshot_->width), static_cast<double>(snapshot_->height)}});
}

bool WebView::hasDrawnContent() const {
  uikit::GraphicsContext ctx(static_cast<std::uint32_t>(std::max(1.0, bounds().size.width)),
                             static_cast<std::uint32_t>(std::max(1.0, bounds().size.height)));
  drawRect(ctx, bounds());
  const auto& d = ctx.data();
  if (d.size() < 4) return false;
  for (std::size_t i = 4; i + 3 < d.size(); i += 4)
    if (d[i] != d[0] || d[i + 1] != d[1] || d[i + 2] != d[2] || d[i + 3] != d[3]) return true;
  return false;
}

}  // namespace webkit
