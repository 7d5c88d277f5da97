#include "platform/webkit/web_view.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <mutex>

#include "duktape.h"
#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/uikit/graphics_context.h"
#include "platform/webkit/page_environment.h"

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
  static std::string ua = "Mozilla/5.0 (Linux; Wardvane) WardvaneWeb/1.0 Mobile";
  return ua;
}

constexpr std::size_t kMaxConsoleLines = 200;
constexpr std::size_t kMaxHistory = 100;
constexpr double kMinIntervalSeconds = 0.004;
constexpr double kMaxTimerSeconds = 2147483.647;

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// What a browser does with a URL a script wrote: blanks at the ends go, and characters a
// URL may not hold are percent-escaped as UTF-8.
std::string escapeForURL(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  bool seenHash = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool illegal = c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
                         c == '`' || c == '{' || c == '|' || c == '}' || (c == '#' && seenHash) ||
                         (c == '%' && !(i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])));
    if (c == '#') seenHash = true;
    if (illegal) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::optional<net::URL> resolveReference(const std::string& base, std::string_view reference) {
  const std::string escaped = escapeForURL(reference);
  auto url = net::URL::fromString(escaped);
  if (url && url->scheme()) return url;
  auto baseURL = net::URL::fromString(base);
  if (!baseURL) return std::nullopt;
  return baseURL->resolve(escaped);
}

std::string lowerScheme(const net::URL& url) {
  std::string s = url.scheme().value_or("");
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

bool containsNoCase(std::string_view hay, std::string_view needle) {
  auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
  return it != hay.end();
}

}  // namespace

// ---- the committed document and the load in progress

struct WebView::Document {
  std::uint64_t id = 0;
  std::unique_ptr<ScriptContext> ctx;
  net::URLRequest request{*net::URL::fromString("about:blank")};
  std::string url = "about:blank";
  std::map<std::uint64_t, dispatch::RunLoop::Id> timers;
  std::uint64_t nextTimerId = 0;
  std::size_t nextScript = 0;
  std::shared_ptr<net::URLConnection> scriptConnection;
  std::shared_ptr<net::URLConnectionDelegate> scriptClient;
};

struct WebView::PendingLoad {
  std::uint64_t generation = 0;
  net::URLRequest request;
  NavigationType type = NavigationType::Other;
  std::optional<std::string> html;
  HistoryMove move = HistoryMove::Push;
  std::size_t moveTo = 0;
  std::shared_ptr<net::URLConnection> connection;
  std::shared_ptr<net::URLConnectionDelegate> client;
  bool ended = false;
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
    std::string html(body_.begin(), body_.end());
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

// Receives one external script.
class ScriptClient : public net::URLConnectionDelegate {
 public:
  using Done = std::function<void(std::optional<std::string>)>;
  explicit ScriptClient(Done done) : done_(std::move(done)) {}
  void connectionDidReceiveResponse(net::URLConnection&, const net::URLResponsePtr& response) override {
    if (response && response->statusCode >= 400) end(std::nullopt);
  }
  void connectionDidReceiveData(net::URLConnection&, const net::Bytes& data) override {
    if (ended_) return;
    if (body_.size() + data.size() > WebViewLimits::current().maxScriptBytes) return end(std::nullopt);
    body_.insert(body_.end(), data.begin(), data.end());
  }
  void connectionDidFinishLoading(net::URLConnection&) override { end(std::string(body_.begin(), body_.end())); }
  void connectionDidFailWithError(net::URLConnection&, const foundation::Error&) override { end(std::nullopt); }

 private:
  void end(std::optional<std::string> text) {
    if (ended_) return;
    ended_ = true;
    dispatch::RunLoop::main().performBlock([done = done_, text = std::move(text)] { done(text); });
  }
  Done done_;
  net::Bytes body_;
  bool ended_ = false;
};

// ---- natives of the page environment

struct WebView::Natives {
  static WebView* owner(duk_context* ctx) { return static_cast<WebView*>(ScriptContext::nativeOwner(ctx)); }

  static duk_ret_t navigate(duk_context* ctx) {
    const std::string url = duk_safe_to_string(ctx, 0);
    const long type = duk_get_int_default(ctx, 1, 5);
    if (auto* view = owner(ctx)) {
      view->enqueueNavigation(url, type >= 0 && type <= 5 ? static_cast<NavigationType>(type) : NavigationType::Other,
                              "GET", std::nullopt);
    }
    return 0;
  }
  static duk_ret_t setTimer(duk_context* ctx) {
    auto* view = owner(ctx);
    if (!view || !duk_is_callable(ctx, 0)) {
      duk_push_int(ctx, 0);
      return 1;
    }
    double ms = duk_to_number(ctx, 1);
    const bool repeats = duk_to_boolean(ctx, 2);
    if (!(ms > 0)) ms = 0;
    const std::uint64_t id = view->addTimer(ms / 1000.0, repeats);
    if (id) {
      duk_push_global_stash(ctx);
      if (!duk_get_prop_string(ctx, -1, "t")) {
        duk_pop(ctx);
        duk_push_object(ctx);
        duk_dup_top(ctx);
        duk_put_prop_string(ctx, -3, "t");
      }
      duk_dup(ctx, 0);
      duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(id));
      duk_pop_2(ctx);
    }
    duk_push_number(ctx, static_cast<double>(id));
    return 1;
  }
  static duk_ret_t clearTimer(duk_context* ctx) {
    const double id = duk_to_number(ctx, 0);
    if (auto* view = owner(ctx); view && id >= 1 && id < 4294967295.0) {
      view->clearTimer(static_cast<std::uint64_t>(id));
    }
    return 0;
  }
  static duk_ret_t log(duk_context* ctx) {
    std::string level = duk_safe_to_string(ctx, 0);
    std::string text = duk_safe_to_string(ctx, 1);
    if (auto* view = owner(ctx)) view->log(level + ": " + text);
    return 0;
  }
  static duk_ret_t innerText(duk_context* ctx) {
    const std::string html = duk_safe_to_string(ctx, 0);
    const std::string text = uikit::WebView::innerTextOfHTML(html);
    duk_push_lstring(ctx, text.data(), text.size());
    return 1;
  }
  // Keeps the environment's attach function where only native code reaches it.
  static duk_ret_t keepAttach(duk_context* ctx) {
    if (!duk_is_function(ctx, 0)) return 0;
    duk_push_global_stash(ctx);
    duk_dup(ctx, 0);
    duk_put_prop_string(ctx, -2, "attach");
    duk_pop(ctx);
    return 0;
  }
  // Everything a new document's heap gets before it has a document; runs wherever the
  // heap is made, so it touches nothing but the heap.
  static std::string prepareHeap(ScriptContext& ctx) {
    ctx.defineGlobalFunction("__wv_navigate", navigate, 2);
    ctx.defineGlobalFunction("__wv_setTimer", setTimer, 3);
    ctx.defineGlobalFunction("__wv_clearTimer", clearTimer, 1);
    ctx.defineGlobalFunction("__wv_log", log, 2);
    ctx.defineGlobalFunction("__wv_innerText", innerText, 1);
    ctx.defineGlobalFunction("__wv_keepAttach", keepAttach, 1);
    // Compiled once per process; leaked, as a heap may still be made while the process exits.
    static const auto* const bytecode =
        new std::optional<std::string>(ScriptContext::compile(kPageEnvironmentScript, "environment"));
    auto env = *bytecode ? ctx.runCompiled(**bytecode) : ctx.evaluate(kPageEnvironmentScript, "environment");
    return env.ok ? std::string() : env.error;
  }
  static void removeTimerFunction(duk_context* ctx, std::uint64_t id) {
    duk_push_global_stash(ctx);
    if (duk_get_prop_string(ctx, -1, "t")) duk_del_prop_index(ctx, -1, static_cast<duk_uarridx_t>(id));
    duk_pop_2(ctx);
  }
};

// ---- the view

DocumentHeaps& WebView::documentHeaps() {
  // Leaked: its queue may still be making or destroying a heap while the process exits.
  static auto* heaps = new DocumentHeaps(&Natives::prepareHeap);
  return *heaps;
}

std::shared_ptr<WebView> WebView::create(uikit::Rect frame) { return std::make_shared<WebView>(frame); }

WebView::WebView(uikit::Rect frame) : uikit::WebView(frame) {}

WebView::~WebView() {
  if (load_ && load_->connection) load_->connection->cancel();
  destroyDocument();
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
  if (load_ && load_->connection) load_->connection->cancel();
  const std::uint64_t generation = ++generation_;
  load_ = std::make_unique<PendingLoad>(PendingLoad{generation, request, type, html, move, moveTo, nullptr, nullptr});
  loading_ = true;
  std::weak_ptr<WebView> weak = self();
  auto& loop = dispatch::RunLoop::main();
  loop.performBlock([weak, generation] {
    auto v = weak.lock();
    if (!v || v->generation_ != generation) return;
    if (auto d = v->delegate_.lock()) d->webViewDidStartLoad(*v);
  });

  const std::string url = request.url.absoluteString();
  const std::string scheme = lowerScheme(request.url);
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
      v->commit(generation, text, url);
    });
    return;
  }
  auto client = std::make_shared<LoadClient>(weak, generation);
  load_->client = client;
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

void WebView::destroyDocument() {
  if (!document_) return;
  for (const auto& [id, timer] : document_->timers) dispatch::RunLoop::main().invalidateTimer(timer);
  if (document_->scriptConnection) document_->scriptConnection->cancel();
  documentHeaps().retire(std::move(document_->ctx));
  document_.reset();
}

void WebView::commit(std::uint64_t generation, std::string html, net::URL url) {
  if (generation != generation_ || !load_) return;
  auto keep = self();
  const auto& limits = WebViewLimits::current();
  // Taken before the old heap is retired, so the next spare is made before it goes.
  auto prepared = documentHeaps().take(ScriptLimits{limits.maxHeapBytes, limits.maxRunSeconds});
  destroyDocument();
  navigations_.clear();
  auto doc = std::make_unique<Document>();
  doc->id = ++documentCounter_;
  doc->request = load_->request;
  doc->url = url.absoluteString();
  if (!prepared.error.empty()) log("error: environment: " + prepared.error);
  doc->ctx = std::move(prepared.heap);
  auto& ctx = *doc->ctx;
  ctx.setNativeOwner(this);
  const std::string ua = doc->request.headers.get("User-Agent").value_or(defaultUserAgent());
  auto attached = ctx.call(
      [](duk_context* c) {
        duk_push_global_stash(c);
        if (!duk_get_prop_string(c, -1, "attach")) {
          duk_pop_2(c);
          return false;
        }
        duk_del_prop_string(c, -2, "attach");
        duk_remove(c, -2);
        return true;
      },
      [&](duk_context* c) {
        duk_push_lstring(c, doc->url.data(), doc->url.size());
        duk_push_lstring(c, ua.data(), ua.size());
        return 2;
      });
  if (!attached.ok) log("error: environment: " + attached.error);
  document_ = std::move(doc);

  parts_ = scanHTML(html, limits.maxScriptsPerDocument);
  if (parts_.skippedScripts) log("warn: " + std::to_string(parts_.skippedScripts) + " scripts over the limit were skipped");
  ctx.call(
      [&](duk_context* c) {
        duk_push_global_object(c);
        duk_get_prop_string(c, -1, "document");
        duk_push_lstring(c, parts_.title.data(), parts_.title.size());
        duk_put_prop_string(c, -2, "title");
        duk_get_prop_string(c, -1, "body");
        duk_push_lstring(c, parts_.bodyHTML.data(), parts_.bodyHTML.size());
        duk_put_prop_string(c, -2, "innerHTML");
        duk_pop_3(c);
        duk_push_undefined(c);
        return false;
      },
      nullptr);
  uikit::WebView::loadHTMLString(std::move(html));

  HistoryEntry entry{load_->request, load_->html};
  switch (load_->move) {
    case HistoryMove::Push:
      if (!history_.empty()) history_.erase(history_.begin() + static_cast<std::ptrdiff_t>(historyIndex_) + 1, history_.end());
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
  runNextScript(generation);
}

void WebView::evaluateScriptText(const std::string& text, const std::string& name) {
  if (text.size() > WebViewLimits::current().maxScriptBytes) {
    log("error: script " + name + " is over the size limit; skipped");
    return;
  }
  enter([&](ScriptContext& c) { return c.evaluate(text, name); });
}

void WebView::runNextScript(std::uint64_t generation) {
  while (generation == generation_ && document_ && document_->nextScript < parts_.scripts.size()) {
    const HTMLScript script = parts_.scripts[document_->nextScript++];
    if (!script.src) {
      evaluateScriptText(script.text, document_->url);
      continue;
    }
    auto url = resolveReference(document_->url, *script.src);
    if (!url) {
      log("error: bad script URL " + *script.src);
      continue;
    }
    net::URLRequest request = withUserAgent(net::URLRequest(*url));
    request.headers.set("Referer", document_->url);
    std::weak_ptr<WebView> weak = self();
    const std::uint64_t documentId = document_->id;
    const std::string name = url->absoluteString();
    auto client = std::make_shared<ScriptClient>([weak, generation, documentId, name](std::optional<std::string> text) {
      auto v = weak.lock();
      if (!v || !v->document_ || v->document_->id != documentId) return;
      v->document_->scriptConnection.reset();
      v->document_->scriptClient.reset();
      if (generation != v->generation_) return;
      if (text) v->evaluateScriptText(*text, name);
      else v->log("error: script " + name + " did not load");
      v->runNextScript(generation);
    });
    auto connection = net::URLConnection::create(request, client, net::deliverOnRunLoop(dispatch::RunLoop::main()));
    if (!connection) {
      log("error: script " + name + " cannot be loaded");
      continue;
    }
    document_->scriptClient = client;
    document_->scriptConnection = connection;
    connection->start();
    return;
  }
  if (generation == generation_ && document_ && document_->nextScript >= parts_.scripts.size()) finishDocument(generation);
}

void WebView::fireEvent(const char* target, const char* type) {
  const std::string script = std::string("(function(){var e=new Event('") + type + "');" + target +
                             ".dispatchEvent(e);})();";
  enter([&](ScriptContext& c) { return c.evaluate(script, "event"); });
}

void WebView::finishDocument(std::uint64_t generation) {
  auto keep = self();
  enter([](ScriptContext& c) { return c.evaluate("document.readyState='interactive';", "event"); });
  fireEvent("document", "DOMContentLoaded");
  if (generation != generation_) return;
  enter([](ScriptContext& c) { return c.evaluate("document.readyState='complete';", "event"); });
  fireEvent("window", "load");
  if (generation != generation_ || !load_) return;
  load_.reset();
  loading_ = false;
  if (auto d = delegate_.lock()) d->webViewDidFinishLoad(*this);
}

ScriptContext::Result WebView::enter(const std::function<ScriptContext::Result(ScriptContext&)>& body) {
  if (!document_ || !document_->ctx) return {};
  auto keep = self();
  ++scriptDepth_;
  auto result = body(*document_->ctx);
  --scriptDepth_;
  if (!result.ok) log("error: " + result.error);
  if (scriptDepth_ == 0) flushNavigations();
  return result;
}

void WebView::enqueueNavigation(std::string url, NavigationType type, std::string method,
                                std::optional<std::string> body) {
  if (navigations_.size() >= WebViewLimits::current().maxNavigationsPerTurn) {
    log("warn: too many navigations in one turn; dropped " + url.substr(0, 200));
    return;
  }
  navigations_.push_back(QueuedNavigation{std::move(url), type, std::move(method), std::move(body)});
}

void WebView::flushNavigations() {
  if (flushing_) return;
  auto keep = self();
  flushing_ = true;
  while (!navigations_.empty()) {
    QueuedNavigation next = std::move(navigations_.front());
    navigations_.pop_front();
    auto url = resolveReference(documentURL(), next.url);
    if (!url) {
      log("warn: not a URL: " + next.url.substr(0, 200));
      continue;
    }
    if (lowerScheme(*url) == "javascript") {
      const std::string code = url->absoluteString().substr(url->absoluteString().find(':') + 1);
      const std::string decoded = net::percentUnescape(code).value_or(code);
      enter([&](ScriptContext& c) { return c.evaluate(decoded, "javascript-url"); });
      continue;
    }
    net::URLRequest request = withUserAgent(net::URLRequest(*url));
    request.method = next.method;
    if (next.body) {
      request.body = net::Bytes(next.body->begin(), next.body->end());
      request.headers.set("Content-Type", "application/x-www-form-urlencoded");
    }
    if (document_) request.headers.set("Referer", document_->url);
    if (!askDelegate(request, next.type)) continue;
    std::optional<std::string> html;
    HistoryMove move = HistoryMove::Push;
    if (next.type == NavigationType::Reload) {
      move = HistoryMove::Stay;
      if (!history_.empty()) html = history_[historyIndex_].html;
    }
    beginLoad(std::move(request), next.type, std::move(html), move);
  }
  flushing_ = false;
}

std::uint64_t WebView::addTimer(double seconds, bool repeats) {
  if (!document_ || document_->timers.size() >= WebViewLimits::current().maxTimersPerDocument) return 0;
  seconds = std::min(seconds, kMaxTimerSeconds);
  const double interval = std::max(seconds, kMinIntervalSeconds);
  const std::uint64_t id = ++document_->nextTimerId;
  std::weak_ptr<WebView> weak = self();
  const std::uint64_t documentId = document_->id;
  const auto timer = dispatch::RunLoop::main().addTimer(
      seconds, interval, repeats,
      [weak, documentId, id, repeats] {
        if (auto v = weak.lock()) v->fireTimer(documentId, id, repeats);
      },
      dispatch::TimerModes::Common);
  document_->timers[id] = timer;
  return id;
}

void WebView::clearTimer(std::uint64_t id) {
  if (!document_) return;
  auto it = document_->timers.find(id);
  if (it == document_->timers.end()) return;
  dispatch::RunLoop::main().invalidateTimer(it->second);
  document_->timers.erase(it);
  if (auto* c = document_->ctx->context()) Natives::removeTimerFunction(c, id);
}

void WebView::fireTimer(std::uint64_t documentId, std::uint64_t id, bool repeats) {
  if (!document_ || document_->id != documentId) return;
  auto it = document_->timers.find(id);
  if (it == document_->timers.end()) return;
  if (!repeats) document_->timers.erase(it);
  auto keep = self();
  enter([&](ScriptContext& c) {
    return c.call(
        [&](duk_context* ctx) {
          duk_push_global_stash(ctx);
          if (!duk_get_prop_string(ctx, -1, "t")) {
            duk_pop_2(ctx);
            return false;
          }
          if (!duk_get_prop_index(ctx, -1, static_cast<duk_uarridx_t>(id))) {
            duk_pop_3(ctx);
            return false;
          }
          duk_remove(ctx, -2);
          duk_remove(ctx, -2);
          return true;
        },
        nullptr);
  });
  if (!repeats && document_ && document_->id == documentId) {
    if (auto* c = document_->ctx->context()) Natives::removeTimerFunction(c, id);
  }
}

void WebView::log(std::string line) {
  if (line.size() > 2000) line.resize(2000);
  console_.push_back(std::move(line));
  while (console_.size() > kMaxConsoleLines) console_.pop_front();
}

std::string WebView::stringByEvaluatingJavaScriptFromString(std::string_view script) {
  WV_DCHECK_MAIN_THREAD();
  if (!document_) return uikit::WebView::stringByEvaluatingJavaScriptFromString(script);
  if (script.size() > WebViewLimits::current().maxScriptBytes) return "";
  auto result = enter([&](ScriptContext& c) { return c.evaluate(script, "evaluate"); });
  return result.ok ? result.value : "";
}

void WebView::evaluateJavaScript(std::string script, EvaluationCompletion completion) {
  WV_DCHECK_MAIN_THREAD();
  std::weak_ptr<WebView> weak = self();
  dispatch::RunLoop::main().performBlock([weak, script = std::move(script), completion = std::move(completion)] {
    auto v = weak.lock();
    if (!v || !v->document_) {
      if (completion) completion(std::nullopt, std::string("no document"));
      return;
    }
    if (script.size() > WebViewLimits::current().maxScriptBytes) {
      if (completion) completion(std::nullopt, std::string("script too large"));
      return;
    }
    auto result = v->enter([&](ScriptContext& c) { return c.evaluate(script, "evaluate"); });
    if (!completion) return;
    if (result.ok) completion(result.value, std::nullopt);
    else completion(std::nullopt, result.error);
  });
}

void WebView::stopLoading() {
  WV_DCHECK_MAIN_THREAD();
  if (load_ && load_->connection) load_->connection->cancel();
  if (document_ && document_->scriptConnection) {
    document_->scriptConnection->cancel();
    document_->scriptConnection.reset();
  }
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

std::optional<net::URLRequest> WebView::request() const {
  if (!document_) return std::nullopt;
  return document_->request;
}

std::string WebView::documentURL() const { return document_ ? document_->url : "about:blank"; }

void WebView::resetHistory() {
  WV_DCHECK_MAIN_THREAD();
  if (history_.empty()) return;
  HistoryEntry current = history_[historyIndex_];
  history_.clear();
  history_.push_back(std::move(current));
  historyIndex_ = 0;
}

bool WebView::tapLink(std::size_t index) {
  WV_DCHECK_MAIN_THREAD();
  if (index >= parts_.links.size()) return false;
  enqueueNavigation(parts_.links[index], NavigationType::LinkClicked, "GET", std::nullopt);
  if (scriptDepth_ == 0) flushNavigations();
  return true;
}

bool WebView::submitForm(std::size_t index) {
  WV_DCHECK_MAIN_THREAD();
  if (index >= parts_.forms.size()) return false;
  const HTMLForm& form = parts_.forms[index];
  std::string query;
  for (const auto& [k, v] : form.fields) {
    if (!query.empty()) query += '&';
    query += net::percentEscape(k) + "=" + net::percentEscape(v);
  }
  std::string target = form.action.empty() ? documentURL() : form.action;
  if (form.method == "post") {
    enqueueNavigation(target, NavigationType::FormSubmitted, "POST", query);
  } else {
    const auto hash = target.find('#');
    if (hash != std::string::npos) target.resize(hash);
    const auto q = target.find('?');
    if (q != std::string::npos) target.resize(q);
    enqueueNavigation(target + "?" + query, NavigationType::FormSubmitted, "GET", std::nullopt);
  }
  if (scriptDepth_ == 0) flushNavigations();
  return true;
}

bool WebView::hasDrawnContent() const {
  if (!document_ || !document_->ctx) return false;
  auto result = document_->ctx->evaluate("String(document.body.innerHTML)", "draw");
  if (!result.ok) return false;
  const std::string text = innerTextOfHTML(result.value);
  if (text.find_first_not_of(" \t\r\n") != std::string::npos) return true;
  return containsNoCase(result.value, "<img") || containsNoCase(result.value, "<canvas") ||
         containsNoCase(result.value, "<svg") || containsNoCase(result.value, "<video");
}

void WebView::drawRect(uikit::GraphicsContext& ctx, uikit::Rect rect) const {
  if (!document_ || !document_->ctx) return;
  auto result = document_->ctx->evaluate("String(document.body.innerHTML)", "draw");
  if (!result.ok) return;
  const std::string text = innerTextOfHTML(result.value);
  const bool media = containsNoCase(result.value, "<img") || containsNoCase(result.value, "<canvas") ||
                     containsNoCase(result.value, "<svg") || containsNoCase(result.value, "<video");
  const uikit::Rect b = bounds();
  // Ink that stands out from the view's background.
  const auto bg = backgroundColor().value_or(uikit::Color::clearColor());
  const double luminance = 0.299 * bg.red + 0.587 * bg.green + 0.114 * bg.blue;
  const uikit::Color ink = (bg.alpha > 0.5 && luminance < 0.5) ? uikit::Color::whiteColor()
                                                               : uikit::Color{0.1, 0.1, 0.12, 1};
  double y = 4;
  std::size_t start = 0;
  while (start <= text.size() && y + 12 <= b.size.height) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::size_t chars = end - start;
    if (chars > 0) {
      const double width = std::min(b.size.width - 8, 7.0 * static_cast<double>(chars));
      if (width > 0) ctx.fillRect(uikit::Rect{{4, y}, {width, 12}}, ink);
      y += 16;
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  if (media && b.size.width > 8 && b.size.height > y + 4) {
    ctx.fillRect(uikit::Rect{{4, y}, {b.size.width - 8, b.size.height - y - 4}}, ink);
  }
}

}  // namespace webkit
