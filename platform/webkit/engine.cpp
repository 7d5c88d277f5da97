#include "platform/webkit/engine.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>

#include <cstdlib>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/log.h"
#include "platform/net/connection.h"
#include "platform/webkit/web_view.h"

#ifndef WV_ENGINE_BUILD_DIR
#define WV_ENGINE_BUILD_DIR ""
#endif

namespace webkit::engine {

const char* const kUserScript = R"JS((function () {
  var handlers = window.webkit && window.webkit.messageHandlers;
  var channel = handlers && handlers.wardvane;
  if (!channel) return;
  var post = channel.postMessage.bind(channel);
  var text = function (v) {
    try {
      if (typeof v === 'string') return v;
      if (v instanceof Error) return v.name + ': ' + v.message;
      var j = JSON.stringify(v);
      return j === undefined ? String(v) : j;
    } catch (e) { return String(v); }
  };
  ['log', 'info', 'warn', 'error', 'debug'].forEach(function (level) {
    var original = console[level];
    console[level] = function () {
      try {
        post({ kind: 'console', level: level, text: Array.prototype.map.call(arguments, text).join(' ').slice(0, 2000),
               source: String(location.href).slice(0, 500) });
      } catch (e) {}
      if (original) return original.apply(console, arguments);
    };
  });
  window.addEventListener('error', function (e) {
    if (!(e instanceof ErrorEvent)) return;
    post({ kind: 'error', text: String(e.message).slice(0, 2000), source: String(e.filename || '').slice(0, 500),
           line: e.lineno || 0 });
  });
  window.addEventListener('unhandledrejection', function (e) {
    post({ kind: 'error', text: 'Unhandled promise rejection: ' + text(e.reason).slice(0, 2000),
           source: String(location.href).slice(0, 500), line: 0 });
  });
})();)JS";

namespace {

constexpr const char* kLibraryName = "libwardvane-webkitgtk.so";
constexpr const char* kExtensionFolder = "webkit-extension";
// The most bytes a page's resource may bring: a rich-media creative's video or picture runs
// to a few megabytes, an endless answer is cut here. The body streams to the engine as it
// arrives, so this process never holds much of it at once.
constexpr std::size_t kMaxResourceBytes = 32u << 20;
// And the longest it may take: that much on a slow network, not an answer that drips.
constexpr double kResourceTimeout = 600;

struct State {
  bool tried = false;
  const wv_engine_api* api = nullptr;
  std::string error;
  std::string extensionDir;
};

State& state() {
  static State* s = new State();
  return *s;
}

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Where the engine library may be: named by the environment, next to the binary that
// holds this code (an installed layout), or where the build put it.
std::vector<std::string> candidates() {
  std::vector<std::string> out;
  if (const char* env = std::getenv("WARDVANE_WEBKIT_ENGINE"); env && *env) out.emplace_back(env);
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&api), &info) && info.dli_fname) {
    const std::string dir = folderOf(info.dli_fname);
    out.push_back(dir + "/" + kLibraryName);
    out.push_back(dir + "/lib/" + kLibraryName);
    out.push_back(dir + "/../lib/" + kLibraryName);
  }
  if (*WV_ENGINE_BUILD_DIR) out.push_back(std::string(WV_ENGINE_BUILD_DIR) + "/" + kLibraryName);
  return out;
}

// ---- requests of pages, answered through the URL-protocol registry or the network

// The engine's referrer policy (strict-origin-when-cross-origin) cuts the Referer of a
// request to another origin down to the page's origin; the phone's web view sends the
// page's whole address (no-referrer-when-downgrade), and ad pages and the URL protocols
// that answer them (the MRAID script's, which knows an ad by its page) rely on it. A
// Referer that is the cut form of the view's own document gets the whole address back
// (its fragment left out), except from an https page to an http address, where the engine
// sends none anyway. Requests of a frame of the document's origin count as the document's.
void giveBackDocumentReferer(const std::string& documentURL, net::URLRequest& r) {
  auto referer = r.headers.get("Referer");
  if (!referer) return;
  const std::string_view document = documentURL;
  const bool https = document.rfind("https://", 0) == 0;
  if (!https && document.rfind("http://", 0) != 0) return;
  const std::size_t hostStart = document.find("://") + 3;
  const std::size_t pathStart = document.find_first_of("/?#", hostStart);
  const std::string origin = std::string(document.substr(0, pathStart)) + "/";
  if (*referer != origin) return;
  if (https && r.url.scheme() != "https") return;
  std::string whole(document.substr(0, document.find('#')));
  if (whole == origin) return;
  r.headers.set("Referer", whole);
}

// ---- the preflight a browser sends before a request to another origin

std::string lowerASCII(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The origin of an http(s) URL as the engine writes it in "Origin".
std::string originOf(const net::URL& url) {
  const std::string scheme = lowerASCII(url.scheme().value_or(""));
  const std::string host = lowerASCII(url.host().value_or(""));
  if ((scheme != "http" && scheme != "https") || host.empty()) return "";
  std::string out = scheme + "://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host);
  if (auto port = url.port(); port && !((scheme == "http" && *port == 80) || (scheme == "https" && *port == 443)))
    out += ":" + std::to_string(*port);
  return out;
}

// A header a page's script may send to another origin without asking it first.
bool isSafelistedHeader(std::string_view name, std::string_view value) {
  // What the engine itself puts on every request (a page may set none of these).
  for (const char* engines : {"accept-encoding", "origin", "referer", "user-agent", "sec-fetch-dest",
                              "sec-fetch-mode", "sec-fetch-site", "sec-fetch-user", "content-length"})
    if (net::equalsIgnoringCase(name, engines)) return true;
  if (value.size() > 128) return false;
  if (net::equalsIgnoringCase(name, "accept") || net::equalsIgnoringCase(name, "accept-language") ||
      net::equalsIgnoringCase(name, "content-language"))
    return true;
  if (net::equalsIgnoringCase(name, "content-type")) {
    const std::string mime = lowerASCII(value.substr(0, value.find(';')));
    std::string_view trimmed = mime;
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
    while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
    return trimmed == "application/x-www-form-urlencoded" || trimmed == "multipart/form-data" ||
           trimmed == "text/plain";
  }
  return false;
}

// Whether `list` (a header's comma-separated tokens) holds `item`, or "*" where that counts.
bool listAllows(const std::optional<std::string>& list, std::string_view item, bool wildcard) {
  if (!list) return false;
  std::string_view rest = *list;
  while (!rest.empty()) {
    const auto comma = rest.find(',');
    std::string_view token = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    while (!token.empty() && (token.front() == ' ' || token.front() == '\t')) token.remove_prefix(1);
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t')) token.remove_suffix(1);
    if (net::equalsIgnoringCase(token, item) || (wildcard && token == "*")) return true;
  }
  return false;
}

// The engine counts our scheme as a scheme of its own and sends no preflight through it.
// So a script's request to another origin that a browser would ask that origin about
// first (a method other than GET, HEAD and POST, or a header beyond the safelisted ones)
// is asked about here, as a browser asks: OPTIONS with the page's origin, the method and
// the headers; the request leaves only when the answer allows all three. The answer to
// the request itself is then read by the engine's own CORS rules. Nothing is cached: each
// such request pays its preflight.
std::optional<net::URLRequest> preflightFor(const net::URLRequest& r) {
  const auto origin = r.headers.get("Origin");
  const auto mode = r.headers.get("Sec-Fetch-Mode");
  if (!origin || !mode || *mode != "cors" || originOf(r.url) == *origin) return std::nullopt;
  const bool simpleMethod = r.method == "GET" || r.method == "HEAD" || r.method == "POST";
  std::vector<std::string> unsafe;
  for (const auto& [name, value] : r.headers.fields())
    if (!isSafelistedHeader(name, value)) unsafe.push_back(lowerASCII(name));
  if (simpleMethod && unsafe.empty()) return std::nullopt;
  std::sort(unsafe.begin(), unsafe.end());
  net::URLRequest preflight(r.url);
  preflight.method = "OPTIONS";
  preflight.headers.set("Origin", *origin);
  preflight.headers.set("Access-Control-Request-Method", r.method);
  std::string names;
  for (const auto& n : unsafe) names += (names.empty() ? "" : ",") + n;
  if (!names.empty()) preflight.headers.set("Access-Control-Request-Headers", names);
  preflight.headers.set("Accept", "*/*");
  for (const char* copied : {"User-Agent", "Referer"})
    if (auto v = r.headers.get(copied)) preflight.headers.set(copied, *v);
  preflight.headers.set("Sec-Fetch-Mode", "cors");
  return preflight;
}

bool preflightAllows(const net::URLRequest& r, const net::URLResponse& answer) {
  if (answer.statusCode < 200 || answer.statusCode > 299) return false;
  const auto allowOrigin = answer.headers.get("Access-Control-Allow-Origin");
  if (!allowOrigin || (*allowOrigin != "*" && *allowOrigin != r.headers.get("Origin"))) return false;
  const bool simpleMethod = r.method == "GET" || r.method == "HEAD" || r.method == "POST";
  if (!simpleMethod && !listAllows(answer.headers.get("Access-Control-Allow-Methods"), r.method, true)) return false;
  for (const auto& [name, value] : r.headers.fields()) {
    if (isSafelistedHeader(name, value)) continue;
    // "*" never stands for Authorization.
    const bool wildcard = !net::equalsIgnoringCase(name, "authorization");
    if (!listAllows(answer.headers.get("Access-Control-Allow-Headers"), name, wildcard)) return false;
  }
  return true;
}


// One request of a page, loaded through the URL-protocol registry or the network. The
// answer's headers go to the engine as soon as they are in, and its body piece by piece
// as it arrives; an answer over its bound, or one that fails on the way, ends in the page
// as a network error does in a browser. A page that stops reading stops the load, and one
// that goes away stops it wherever it is: waiting for its preflight, in the pages' line,
// for its answer's head or in its body. On the main thread throughout.
class ResourceLoad : public net::URLConnectionDelegate {
 public:
  // `preflight`: asked first; the request goes only where its answer allows it.
  static void start(const wv_engine_api* engine, void* request, net::URLRequest r,
                    std::optional<net::URLRequest> preflight) {
    WV_DCHECK_MAIN_THREAD();
    auto load = std::make_shared<ResourceLoad>(engine, request, std::move(r));
    load->keepAlive_ = load;
    loads()[request] = load.get();
    if (preflight) {
      load->ask(std::move(*preflight));
    } else {
      load->send();
    }
  }

  // The page dropped the request, or the body, named by `handle`.
  static void drop(void* handle) {
    WV_DCHECK_MAIN_THREAD();
    auto found = loads().find(handle);
    if (found == loads().end()) return;
    ResourceLoad& load = *found->second;
    if (load.connection_) load.connection_->cancel();
    load.end("cancelled");
  }

  ResourceLoad(const wv_engine_api* engine, void* request, net::URLRequest r)
      : engine_(engine), request_(request), pending_(std::move(r)) {}

  void connectionDidReceiveResponse(net::URLConnection& connection, const net::URLResponsePtr& response) override {
    WV_DCHECK_MAIN_THREAD();
    if (!request_ || !response) return;
    // Where the answer came from after redirects: the engine reads it as its origin's.
    std::vector<std::string> fields{":url", response->url.absoluteString()};
    for (const auto& [k, v] : response->headers.fields()) {
      fields.push_back(k);
      fields.push_back(v);
    }
    std::vector<const char*> flat;
    for (const auto& f : fields) flat.push_back(f.c_str());
    flat.push_back(nullptr);
    loads().erase(request_);
    body_ = engine_->request_begin(request_, response->statusCode ? response->statusCode : 200, flat.data(),
                                   response->mimeType.c_str());
    request_ = nullptr;
    // The page may not read this answer (the request was failed instead): stop fetching.
    if (!body_) {
      connection.cancel();
      connection_.reset();
      keepAlive_.reset();
      return;
    }
    loads()[body_] = this;
  }
  void connectionDidReceiveData(net::URLConnection& connection, const net::Bytes& data) override {
    WV_DCHECK_MAIN_THREAD();
    if (!body_ || data.empty()) return;
    if (engine_->request_body_write(body_, data.data(), data.size())) return;
    // Nobody reads any more (the page went away or gave up on it).
    connection.cancel();
    end("cancelled");
  }
  void connectionDidFinishLoading(net::URLConnection&) override {
    WV_DCHECK_MAIN_THREAD();
    end(nullptr);
  }
  void connectionDidFailWithError(net::URLConnection&, const foundation::Error& error) override {
    WV_DCHECK_MAIN_THREAD();
    end(error.localizedDescription().c_str());
  }

 private:
  // The loads out, by the handle the engine knows them by: the request until its answer's
  // head is in, then the body.
  static std::unordered_map<void*, ResourceLoad*>& loads() {
    static auto* map = new std::unordered_map<void*, ResourceLoad*>();
    return *map;
  }

  // The preflight's answer decides; its body is dropped as it comes.
  class Preflight : public net::URLConnectionDelegate {
   public:
    explicit Preflight(std::weak_ptr<ResourceLoad> load) : load_(std::move(load)) {}
    void connectionDidReceiveResponse(net::URLConnection&, const net::URLResponsePtr& response) override {
      response_ = response;
    }
    void connectionDidFinishLoading(net::URLConnection&) override { answered(response_); }
    void connectionDidFailWithError(net::URLConnection&, const foundation::Error&) override { answered(nullptr); }

   private:
    void answered(const net::URLResponsePtr& response) {
      if (auto load = load_.lock()) load->preflightAnswered(response);
    }
    std::weak_ptr<ResourceLoad> load_;
    net::URLResponsePtr response_;
  };

  void ask(net::URLRequest preflight) {
    preflight_ = std::make_shared<Preflight>(keepAlive_);
    connect(std::move(preflight), preflight_);
  }

  void preflightAnswered(const net::URLResponsePtr& response) {
    if (!response || !preflightAllows(pending_, *response)) {
      end("the other origin did not allow the request");
      return;
    }
    send();
  }

  void send() { connect(std::move(pending_), keepAlive_); }

  void connect(net::URLRequest r, std::weak_ptr<net::URLConnectionDelegate> delegate) {
    connection_ = net::URLConnection::create(std::move(r), std::move(delegate),
                                             net::deliverOnRunLoop(dispatch::RunLoop::main()));
    if (!connection_) {
      end("unsupported URL");
      return;
    }
    connection_->startImmediately();
  }

  // `message` null: the whole body is in.
  void end(const char* message) {
    if (request_) {
      loads().erase(request_);
      engine_->request_fail(request_, message ? message : "no response");
      request_ = nullptr;
    } else if (body_) {
      loads().erase(body_);
      engine_->request_body_end(body_, message);
      body_ = nullptr;
    }
    connection_.reset();
    keepAlive_.reset();  // the report that called holds the delegate until it returns
  }

  const wv_engine_api* engine_;
  void* request_;          // until the answer's headers are in
  void* body_ = nullptr;   // then the body being streamed to the page
  net::URLRequest pending_;  // the request itself, while its preflight is out
  std::shared_ptr<Preflight> preflight_;
  std::shared_ptr<net::URLConnection> connection_;
  std::shared_ptr<ResourceLoad> keepAlive_;
};

void onRequest(void* host, void* request, const char* uri, const char* method, const char* const* headers,
               const unsigned char* body, size_t bodySize) {
  const wv_engine_api* engine = state().api;
  auto url = net::URL::fromString(uri);
  if (!url) {
    engine->request_fail(request, "bad URL");
    return;
  }
  net::URLRequest r(*url);
  r.method = method;
  for (int i = 0; headers && headers[i] && headers[i + 1]; i += 2) {
    const std::string_view name = headers[i];
    if (net::equalsIgnoringCase(name, "Host") || net::equalsIgnoringCase(name, "Content-Length") ||
        net::equalsIgnoringCase(name, "Connection"))
      continue;
    r.headers.add(name, headers[i + 1]);
  }
  if (!r.headers.has("User-Agent")) r.headers.set("User-Agent", WebView::defaultUserAgent());
  // The engine calls with the view of the page, alive for the call.
  if (host) giveBackDocumentReferer(static_cast<WebView*>(host)->documentURL(), r);
  if (body && bodySize) r.body = net::Bytes(body, body + bodySize);
  r.maxBodySize = kMaxResourceBytes;
  r.resourceTimeoutInterval = kResourceTimeout;
  r.waitsInPagesLine = true;
  auto preflight = preflightFor(r);
  if (preflight) preflight->waitsInPagesLine = true;
  ResourceLoad::start(engine, request, std::move(r), std::move(preflight));
}

void onRequestDropped(void* handle) { ResourceLoad::drop(handle); }

}  // namespace

// ---- the private display server, started ahead of the engine

namespace {

constexpr double kDisplayWaitSeconds = 10;

struct Display {
  bool tried = false;
  pid_t pid = 0;
  int pipe = -1;  // Xvfb writes its display number here once it accepts clients
  std::string number;
  dispatch::RunLoop::Id source = 0;
  dispatch::RunLoop::Id timer = 0;
  std::vector<std::function<void()>> waiters;
};

Display& display() {
  static Display* d = new Display();
  return *d;
}

bool hasDisplay() {
  const char* env = std::getenv("DISPLAY");
  return env && *env;
}

// Xvfb on a display number it picks itself; the child dies with this process, also when it
// crashes, so no server is left behind. The child runs only async-signal-safe calls.
void spawnDisplay() {
  auto& d = display();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return;
  }
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    setsid();
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    // The write end must survive exec: dup it past the close-on-exec one.
    int w = dup(fds[1]);
    char text[16];
    int n = 0;
    char reversed[16];
    do {
      reversed[n++] = static_cast<char>('0' + w % 10);
      w /= 10;
    } while (w > 0 && n < 15);
    for (int i = 0; i < n; ++i) text[i] = reversed[n - 1 - i];
    text[n] = '\0';
    execlp("Xvfb", "Xvfb", "-displayfd", text, "-nolisten", "tcp", "-screen", "0", "1280x1024x24", "-nocursor",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  d.pid = pid;
  d.pipe = fds[0];
  std::atexit([] {
    if (display().pid > 0) {
      kill(display().pid, SIGTERM);
      waitpid(display().pid, nullptr, 0);
    }
  });
}

// The wait is over: the server said its number (it becomes the process's display) or it
// cannot come up. Whoever waited in the run loop goes on at its next pass.
void endDisplayWait(bool complete) {
  auto& d = display();
  auto& loop = dispatch::RunLoop::main();
  if (d.source) loop.removeFileDescriptorSource(d.source);
  if (d.timer) loop.invalidateTimer(d.timer);
  d.source = d.timer = 0;
  close(d.pipe);
  d.pipe = -1;
  if (complete && !d.number.empty() && d.number.find_first_not_of("0123456789") == std::string::npos) {
    setenv("DISPLAY", (":" + d.number).c_str(), 1);
  } else {
    kill(d.pid, SIGKILL);
    waitpid(d.pid, nullptr, 0);
    d.pid = 0;
  }
  for (auto& waiter : d.waiters) loop.performBlock(std::move(waiter));
  d.waiters.clear();
}

// Takes what the server wrote so far; ends the wait once it said its number or can no
// longer (it exited, or wrote more than a number).
void readDisplay() {
  auto& d = display();
  char buffer[16];
  const ssize_t n = read(d.pipe, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) return endDisplayWait(false);
  for (ssize_t i = 0; i < n; ++i) {
    if (buffer[i] == '\n') return endDisplayWait(true);
    d.number.push_back(buffer[i]);
  }
  if (d.number.size() > 8) endDisplayWait(false);
}

// Waits here (bounded) for the server started ahead: the engine cannot start before it.
void awaitDisplay() {
  auto& d = display();
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(kDisplayWaitSeconds);
  while (d.pipe >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return endDisplayWait(false);
    pollfd p{d.pipe, POLLIN, 0};
    const int rc = ::poll(&p, 1, static_cast<int>(left.count()));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return endDisplayWait(false);
    if (rc > 0) readDisplay();
  }
}

}  // namespace

void startDisplayAhead() {
  WV_DCHECK_MAIN_THREAD();
  auto& d = display();
  if (d.tried) return;
  d.tried = true;
  if (!hasDisplay()) spawnDisplay();
}

bool whenDisplayReady(std::function<void()> ready) {
  WV_DCHECK_MAIN_THREAD();
  startDisplayAhead();
  auto& d = display();
  if (d.pipe < 0) return true;
  d.waiters.push_back(std::move(ready));
  if (!d.source) {
    auto& loop = dispatch::RunLoop::main();
    d.source = loop.addFileDescriptorSource(d.pipe, [] {
      if (display().pipe >= 0) readDisplay();
    });
    // A server that neither comes up nor exits: the waiters go on, and the engine's start
    // then says what is missing. On real time, as the server's start is.
    d.timer = loop.addTimer(kDisplayWaitSeconds, 0, false, [] {
      display().timer = 0;
      if (display().pipe >= 0) endDisplayWait(false);
    });
  }
  return false;
}

// Defined in web_view.cpp: the view side of the host's callbacks.
extern const wv_engine_host kViewHost;

const wv_engine_api* api() {
  WV_DCHECK_MAIN_THREAD();
  auto& s = state();
  if (s.tried) return s.api;
  s.tried = true;
  // The display comes up while the library loads.
  startDisplayAhead();
  void* handle = nullptr;
  std::string tried;
  for (const auto& path : candidates()) {
    if (access(path.c_str(), R_OK) != 0) continue;
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle) {
      s.extensionDir = folderOf(path) + "/" + kExtensionFolder;
      break;
    }
    tried += std::string(" ") + dlerror();
  }
  if (const char* env = std::getenv("WARDVANE_WEBKIT_EXTENSIONS"); env && *env) s.extensionDir = env;
  if (!handle) {
    s.error = "the web engine library " + std::string(kLibraryName) + " was not found" + tried;
    foundation::systemLog("WebView: " + s.error);
    return nullptr;
  }
  auto entry = reinterpret_cast<wv_engine_entry>(dlsym(handle, WV_ENGINE_ENTRY_NAME));
  const wv_engine_api* engine = entry ? entry() : nullptr;
  if (!engine || engine->version != WV_ENGINE_API_VERSION) {
    s.error = "the web engine library does not match this program";
    foundation::systemLog("WebView: " + s.error);
    return nullptr;
  }
  wv_engine_host host = kViewHost;
  host.request = onRequest;
  host.request_dropped = onRequestDropped;
  const auto& limits = WebViewLimits::current();
  wv_engine_config config{};
  config.extension_dir = s.extensionDir.c_str();
  config.user_script = kUserScript;
  config.memory_limit_mb = limits.memoryLimitMegabytes;
  config.kill_threshold = limits.memoryKillThreshold;
  config.watchdog_seconds = limits.watchdogSeconds;
  // The engine starts a display itself only when ours did not come up (it then says why).
  awaitDisplay();
  config.start_display = hasDisplay() ? 0 : 1;
  char error[512] = {0};
  if (engine->start(&config, &host, error, sizeof error) != 0) {
    s.error = std::string("the web engine did not start: ") + error;
    foundation::systemLog("WebView: " + s.error);
    return nullptr;
  }
  dispatch::RunLoop::main().addExternalSource(dispatch::RunLoop::ExternalSource{
      [engine](std::vector<pollfd>& fds, double& timeout) {
        const std::size_t first = fds.size();
        int count = 0, ms = -1;
        fds.resize(first + 16);
        engine->prepare(fds.data() + first, 16, &count, &ms);
        fds.resize(first + static_cast<std::size_t>(count));
        timeout = ms < 0 ? -1 : ms / 1000.0;
      },
      [engine](pollfd* fds, std::size_t count) { engine->dispatch(fds, static_cast<int>(count)); }});
  s.api = engine;
  return engine;
}

const std::string& startError() { return state().error; }

bool isLoaded() { return state().api != nullptr; }

}  // namespace webkit::engine
