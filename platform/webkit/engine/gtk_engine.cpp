// The engine library: WebKitGTK web views in offscreen windows, a private display server
// when the process has none, the GLib main context served from the host's loop, page
// requests handed to the host, a watchdog for pages that stop answering. Only this file
// (and the web process extension) include GTK, GLib or WebKit; see engine_api.h.

#include <dlfcn.h>
#include <fcntl.h>
#include <gtk/gtk.h>
#include <libsoup/soup.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/webkit/engine/body_stream.h"
#include "platform/webkit/engine/engine_api.h"

namespace {

constexpr const char* kSchemePrefix = "wardvane-";
constexpr const char* kChannel = "wardvane";
constexpr gsize kMaxRequestBody = 16u << 20;
// Pages post bridge messages (URLs) here: window.webkit.messageHandlers.wardvaneBridge.
constexpr const char* kBridgeChannel = "wardvaneBridge";
constexpr gsize kMaxBridgeMessage = 4u << 20;

struct Engine {
  wv_engine_host host{};
  WebKitWebContext* context = nullptr;
  std::string userScript;
  double watchdogSeconds = 3;
  std::vector<int> maxPriorities;  // one per prepare still to be dispatched (nested passes)
  std::vector<GPollFD> gfds;
  bool started = false;
  pid_t displayPid = 0;
  guint trim = 0;  // the pending return of freed memory
};

Engine& engine() {
  static Engine* e = new Engine();
  return *e;
}

struct HeldAnswer;

struct View {
  void* host = nullptr;
  GtkWidget* window = nullptr;
  WebKitWebView* web = nullptr;
  WebKitUserContentManager* content = nullptr;
  GCancellable* cancellable = nullptr;
  // No white page background: snapshots keep what the page leaves unpainted transparent.
  bool transparent = false;
  guint watchdog = 0;
  // The watchdog's ping: unanswered for `missed` ticks of its timer. It asks only once the
  // page has committed (its process runs it), and counts ticks, not time, so a host that
  // served its loop late never blames the page for it.
  bool pingEnabled = false;
  bool pingOut = false;
  int missed = 0;
  // The load the host asked for, let through without asking it again.
  std::string ownLoad;
  bool ownLoadPending = false;
  // A main-frame navigation of the page handed to the host: its document request, should
  // one still come, is not fetched twice.
  std::string handedOver;
  // The last http(s) navigation let through: where a main frame that starts to leave goes
  // (the view still shows the old URL then).
  std::string lastAllowed;
  bool loading = false;
  // Frame documents answered from another address than the one asked, each waiting for
  // its frame to come and ask for that address (see "frames sent on"), oldest first.
  std::vector<HeldAnswer*> held;
  // The bound on the resident size of its web process (bytes).
  unsigned long long memoryBoundBytes = 0;
};

View* viewOf(WebKitWebView* web) { return static_cast<View*>(g_object_get_data(G_OBJECT(web), "wardvane-view")); }

bool isHttp(const char* uri) {
  return uri && (g_ascii_strncasecmp(uri, "http://", 7) == 0 || g_ascii_strncasecmp(uri, "https://", 8) == 0);
}

// The page's own URL of a request the extension sent to our schemes.
std::string originalURI(const char* uri) {
  std::string s = uri ? uri : "";
  if (s.rfind(kSchemePrefix, 0) == 0) s.erase(0, std::strlen(kSchemePrefix));
  return s;
}

// ---- origins

// The origin (scheme, host, port) of an http(s) URL or an origin text, normalized so two
// of them compare as browsers compare origins; "" for anything else (an opaque "null").
std::string originOf(const std::string& text) {
  GUri* uri = g_uri_parse(text.c_str(), static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_NON_DNS), nullptr);
  if (!uri) return "";
  std::string out;
  const char* scheme = g_uri_get_scheme(uri);
  const char* host = g_uri_get_host(uri);
  if (scheme && host && *host) {
    gchar* s = g_ascii_strdown(scheme, -1);
    gchar* h = g_ascii_strdown(host, -1);
    const std::string lowerScheme = s;
    int port = g_uri_get_port(uri);
    if ((lowerScheme == "http" && port == 80) || (lowerScheme == "https" && port == 443)) port = -1;
    if (lowerScheme == "http" || lowerScheme == "https") {
      out = lowerScheme + "://" + (std::strchr(h, ':') ? "[" + std::string(h) + "]" : std::string(h));
      if (port > 0) out += ":" + std::to_string(port);
    }
    g_free(s);
    g_free(h);
  }
  g_uri_unref(uri);
  return out;
}

// What the engine calls the page's origin (its "Origin" header: the document's true one,
// or our scheme's form for a frame's document, which came through our scheme) as the
// page's servers know it.
std::string trueOrigin(const char* engineOrigin) {
  return engineOrigin && *engineOrigin ? originOf(originalURI(engineOrigin)) : std::string();
}

// ---- the memory bound, held from a thread of our own

// The engine's own memory check runs on the web process's main thread, which a page in a
// tight loop never gives back: gigabytes go by before it looks. So a thread of ours reads
// the resident size of every web process (/proc/PID/statm) every kMemoryTickMs and ends one
// over its bound at once. (A kernel limit cannot stand in: the engine reserves some 70 GB
// of address space, all of it counted as data, before a page runs.) A process is held by
// a pidfd, so a reused process id is never read nor killed.
constexpr int kMemoryTickMs = 10;

struct MemoryWatch {
  struct Process {
    int pidfd = -1;
    pid_t pid = 0;
    unsigned long long boundBytes = 0;
    bool overBound = false;  // ended by us for its memory
  };
  std::mutex mu;
  std::condition_variable wake;
  std::map<const void*, Process> processes;  // by view
  bool started = false;
};

MemoryWatch& memoryWatch() {
  static MemoryWatch* w = new MemoryWatch();
  return *w;
}

bool hasExited(int pidfd) {
  pollfd p{pidfd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

// Resident bytes of a live process, 0 when unreadable.
unsigned long long residentBytes(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/statm", static_cast<int>(pid));
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[128];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return 0;
  text[n] = '\0';
  unsigned long long size = 0, resident = 0;
  if (std::sscanf(text, "%llu %llu", &size, &resident) != 2) return 0;
  return resident * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
}

void watchMemory() {
  auto& w = memoryWatch();
  std::unique_lock lock(w.mu);
  for (;;) {
    if (w.processes.empty()) {
      w.wake.wait(lock, [&] { return !w.processes.empty(); });
      continue;
    }
    for (auto& [view, p] : w.processes) {
      if (p.overBound || hasExited(p.pidfd)) continue;
      if (residentBytes(p.pid) <= p.boundBytes) continue;
      p.overBound = true;
      syscall(SYS_pidfd_send_signal, p.pidfd, SIGKILL, nullptr, 0);
    }
    w.wake.wait_for(lock, std::chrono::milliseconds(kMemoryTickMs));
  }
}

// A child of ours that runs WebKit's web process (a page's claim about itself is checked).
bool isOurWebProcess(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  gchar* text = nullptr;
  if (!g_file_get_contents(path, &text, nullptr, nullptr)) return false;
  bool ours = false;
  // "PID (COMM) STATE PPID ...": COMM may hold anything, so from its last ')'.
  const char* open = std::strchr(text, '(');
  const char* close = std::strrchr(text, ')');
  if (open && close && close > open) {
    const std::string comm(open + 1, close);
    char state = 0;
    int ppid = 0;
    ours = std::sscanf(close + 1, " %c %d", &state, &ppid) == 2 && ppid == getpid() &&
           comm.rfind("WebKitWebProc", 0) == 0;
  }
  g_free(text);
  return ours;
}

void watchProcess(const void* view, pid_t pid, unsigned long long boundBytes) {
  auto& w = memoryWatch();
  if (pid <= 0 || pid == getpid() || boundBytes == 0 || !isOurWebProcess(pid)) return;
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return;
  std::lock_guard lock(w.mu);
  auto& p = w.processes[view];
  if (p.pidfd >= 0 && p.pid == pid) {
    ::close(pidfd);  // several pages of one process: the same one
    return;
  }
  if (p.pidfd >= 0) ::close(p.pidfd);
  p = MemoryWatch::Process{pidfd, pid, boundBytes, false};
  if (!w.started) {
    w.started = true;
    std::thread(watchMemory).detach();
  }
  w.wake.notify_all();
}

pid_t watchedProcess(const void* view) {
  auto& w = memoryWatch();
  std::lock_guard lock(w.mu);
  auto it = w.processes.find(view);
  return it == w.processes.end() || hasExited(it->second.pidfd) ? 0 : it->second.pid;
}

// Forgets the view's process; whether we ended it for its memory.
bool unwatchProcess(const void* view) {
  auto& w = memoryWatch();
  std::lock_guard lock(w.mu);
  auto it = w.processes.find(view);
  if (it == w.processes.end()) return false;
  const bool over = it->second.overBound;
  ::close(it->second.pidfd);
  w.processes.erase(it);
  return over;
}

// ---- memory given back

// A page that goes (replaced, or its view released) takes its engine objects and its
// requests with their bodies along, but the allocator keeps the freed pages for reuse: in
// the arena of every thread that used them, and in the heap, where buffers that once grew
// past its mmap threshold come from later. With adhost reloading hostile banners, our
// process's resident size climbed by about 100 MB and stayed there while the heap in use
// did not grow: held, not leaked, and all of it handed back by malloc_trim. So a while
// after a page or a view goes (the engine frees part of it later, from its own callbacks),
// the pages nobody uses go back to the system; several going at once share one return.
// One costs a few milliseconds of the main thread (docs/webkit.md).
constexpr guint kTrimDelaySeconds = 2;

gboolean onTrim(gpointer) {
  engine().trim = 0;
  malloc_trim(0);
  return G_SOURCE_REMOVE;
}

void trimSoon() {
  if (!engine().trim) engine().trim = g_timeout_add_seconds(kTrimDelaySeconds, onTrim, nullptr);
}

// ---- the private display server

// Starts Xvfb on a free display number it picks itself; the child dies with this process,
// also when it crashes, so no server is left behind.
bool startDisplay(std::string& error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = "pipe failed";
    return false;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    error = "fork failed";
    return false;
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
    const int w = dup(fds[1]);
    char fdText[16];
    std::snprintf(fdText, sizeof fdText, "%d", w);
    execlp("Xvfb", "Xvfb", "-displayfd", fdText, "-nolisten", "tcp", "-screen", "0", "1280x1024x24", "-nocursor",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char c;
  for (;;) {
    const ssize_t n = read(fds[0], &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    number.push_back(c);
    if (number.size() > 8) break;
  }
  close(fds[0]);
  if (number.empty()) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    error = "the display server (Xvfb) did not start";
    return false;
  }
  // A second start replaces a server that was no use.
  if (engine().displayPid > 0) {
    kill(engine().displayPid, SIGKILL);
    waitpid(engine().displayPid, nullptr, 0);
  }
  engine().displayPid = pid;
  const std::string display = ":" + number;
  setenv("DISPLAY", display.c_str(), 1);
  static bool stopsAtExit = false;
  if (!std::exchange(stopsAtExit, true)) {
    std::atexit([] {
      if (engine().displayPid > 0) {
        kill(engine().displayPid, SIGTERM);
        waitpid(engine().displayPid, nullptr, 0);
      }
    });
  }
  return true;
}

// ---- the main context, served by the host's loop

void prepare(pollfd* fds, int max, int* count, int* timeoutMs) {
  GMainContext* ctx = g_main_context_default();
  gint priority = G_PRIORITY_DEFAULT;
  g_main_context_prepare(ctx, &priority);
  auto& e = engine();
  e.maxPriorities.push_back(priority);
  if (e.gfds.size() < 8) e.gfds.resize(8);
  gint timeout = -1;
  gint n = g_main_context_query(ctx, priority, &timeout, e.gfds.data(), static_cast<gint>(e.gfds.size()));
  if (n > static_cast<gint>(e.gfds.size())) {
    e.gfds.resize(static_cast<std::size_t>(n));
    n = g_main_context_query(ctx, priority, &timeout, e.gfds.data(), n);
  }
  const int used = n < max ? n : max;
  for (int i = 0; i < used; ++i) {
    fds[i].fd = e.gfds[static_cast<std::size_t>(i)].fd;
    fds[i].events = static_cast<short>(e.gfds[static_cast<std::size_t>(i)].events);
    fds[i].revents = 0;
  }
  *count = used;
  *timeoutMs = timeout;
}

void dispatch(pollfd* fds, int count) {
  auto& e = engine();
  if (e.maxPriorities.empty()) return;
  const gint priority = e.maxPriorities.back();
  e.maxPriorities.pop_back();
  std::vector<GPollFD> g(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    g[static_cast<std::size_t>(i)].fd = fds[i].fd;
    g[static_cast<std::size_t>(i)].events = static_cast<gushort>(fds[i].events);
    g[static_cast<std::size_t>(i)].revents = static_cast<gushort>(fds[i].revents);
  }
  GMainContext* ctx = g_main_context_default();
  if (g_main_context_check(ctx, priority, g.data(), count)) g_main_context_dispatch(ctx);
}

// ---- requests of pages

const char* requestHeader(WebKitURISchemeRequest* request, const char* name) {
  SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request);
  return headers ? soup_message_headers_get_one(headers, name) : nullptr;
}

// Whether the page that made the request may read its answer as its own: the request's
// true URL is of the page's true origin. Only then does the answer get the CORS headers
// the engine needs to see through our scheme; any other origin's answer is read by the
// engine's CORS rules on that origin's own headers, as in a browser.
bool isSameOrigin(WebKitURISchemeRequest* request, const std::string& uri) {
  const std::string page = trueOrigin(requestHeader(request, "Origin"));
  return !page.empty() && page == originOf(uri);
}

// The engine keeps each request it hands us until it is answered, or until the page that
// made it goes away (navigated, its view released, its web process ended): then it lets go
// of the request without a word, also while its answer's body streams. We hold each by a
// toggle reference, which tells when ours is the last one left: the host then hears that
// the page dropped it, so its fetch stops at once instead of at a time-out.
struct HeldRequests {
  struct Entry {
    std::uint64_t serial = 0;
    GInputStream* body = nullptr;  // once the answer's head went to the page
  };
  std::uint64_t nextSerial = 1;
  std::unordered_map<WebKitURISchemeRequest*, Entry> held;
  std::unordered_map<GInputStream*, WebKitURISchemeRequest*> bodies;
  // Told at the next passes, newest (highest serial) first.
  std::priority_queue<std::pair<std::uint64_t, WebKitURISchemeRequest*>> dropped;
  guint idle = 0;
};

HeldRequests& heldRequests() {
  static HeldRequests* h = new HeldRequests();
  return *h;
}

// At most this many drops are told in one pass of the loop: a page that goes away with
// thousands of requests out does not keep the loop from everything else.
constexpr std::size_t kDropsPerPass = 256;

gboolean tellDropped(gpointer) {
  auto& h = heldRequests();
  // Newest first: a page's requests still waiting for a connection leave before those
  // that hold one, so freed connections do not go to requests about to be dropped too.
  for (std::size_t n = 0; n < kDropsPerPass && !h.dropped.empty(); ++n) {
    const auto [serial, request] = h.dropped.top();
    h.dropped.pop();
    auto found = h.held.find(request);
    // Answered meanwhile, or no longer only ours (an address used again).
    if (found == h.held.end() || found->second.serial != serial || G_OBJECT(request)->ref_count != 1) continue;
    void* handle = found->second.body ? static_cast<void*>(found->second.body) : static_cast<void*>(request);
    if (engine().host.request_dropped) engine().host.request_dropped(handle);
  }
  if (!h.dropped.empty()) return G_SOURCE_CONTINUE;
  h.idle = 0;
  return G_SOURCE_REMOVE;
}

// Runs inside the engine's own unref: nothing is answered from here.
void onToggle(gpointer, GObject* object, gboolean isLast) {
  if (!isLast) return;
  auto& h = heldRequests();
  auto* request = WEBKIT_URI_SCHEME_REQUEST(object);
  auto found = h.held.find(request);
  if (found == h.held.end()) return;  // being answered: the engine let go on our answer
  h.dropped.emplace(found->second.serial, request);
  if (!h.idle) h.idle = g_idle_add_full(G_PRIORITY_HIGH, tellDropped, nullptr, nullptr);
}

void holdRequest(WebKitURISchemeRequest* request) {
  auto& h = heldRequests();
  h.held[request] = {h.nextSerial++, nullptr};
  g_object_add_toggle_ref(G_OBJECT(request), onToggle, nullptr);
}

// The host answered or ended the request: it is ours no longer. Call before answering the
// engine, so that the engine letting go on the answer is no drop.
void forgetRequest(WebKitURISchemeRequest* request) {
  auto& h = heldRequests();
  auto found = h.held.find(request);
  if (found == h.held.end()) return;
  if (found->second.body) h.bodies.erase(found->second.body);
  h.held.erase(found);
}

// Our hold goes: the last reference, where the engine let go already.
void releaseRequest(WebKitURISchemeRequest* request) {
  g_object_remove_toggle_ref(G_OBJECT(request), onToggle, nullptr);
}

bool isNavigation(WebKitURISchemeRequest* request);
bool answerFromHeld(View* v, WebKitURISchemeRequest* request, const std::string& uri);

void onSchemeRequest(WebKitURISchemeRequest* request, gpointer) {
  WebKitWebView* web = webkit_uri_scheme_request_get_web_view(request);
  View* v = web ? viewOf(web) : nullptr;
  const std::string uri = originalURI(webkit_uri_scheme_request_get_uri(request));
  if (!v || !engine().host.request) {
    GError* err = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_CANCELLED, "no view");
    webkit_uri_scheme_request_finish_error(request, err);
    g_error_free(err);
    return;
  }
  if (!v->handedOver.empty() && uri == v->handedOver) {
    v->handedOver.clear();
    GError* err = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_CANCELLED, "loaded by the host");
    webkit_uri_scheme_request_finish_error(request, err);
    g_error_free(err);
    return;
  }
  if (isNavigation(request) && answerFromHeld(v, request, uri)) return;
  std::vector<std::string> lines;
  if (SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request)) {
    SoupMessageHeadersIter it;
    soup_message_headers_iter_init(&it, headers);
    const char* name;
    const char* value;
    while (soup_message_headers_iter_next(&it, &name, &value)) {
      lines.emplace_back(name);
      // A frame's document came through our scheme, so the engine names its origin and
      // address in our scheme's form: its servers hear the true ones.
      const bool address = g_ascii_strcasecmp(name, "Origin") == 0 || g_ascii_strcasecmp(name, "Referer") == 0;
      lines.emplace_back(address ? originalURI(value) : std::string(value));
    }
  }
  std::vector<const char*> flat;
  for (auto& l : lines) flat.push_back(l.c_str());
  flat.push_back(nullptr);
  std::vector<unsigned char> body;
  if (GInputStream* in = webkit_uri_scheme_request_get_http_body(request)) {
    unsigned char buffer[16384];
    for (;;) {
      const gssize n = g_input_stream_read(in, buffer, sizeof buffer, nullptr, nullptr);
      if (n <= 0) break;
      body.insert(body.end(), buffer, buffer + n);
      if (body.size() > kMaxRequestBody) break;
    }
    g_object_unref(in);
  }
  const char* method = webkit_uri_scheme_request_get_http_method(request);
  holdRequest(request);
  engine().host.request(v->host, request, uri.c_str(), method ? method : "GET", flat.data(),
                        body.empty() ? nullptr : body.data(), body.size());
}

void requestFail(void* opaque, const char* message);
bool respond(void* opaque, int status, const char* const* headers, const char* mimeType, GInputStream* stream,
             gint64 length, bool streamed);

bool hasHeader(WebKitURISchemeRequest* request, const char* name, const char* value) {
  const char* got = requestHeader(request, name);
  return got && g_ascii_strcasecmp(got, value) == 0;
}

// A frame's document (a navigation of a frame: our scheme never sees the main frame's).
bool isNavigation(WebKitURISchemeRequest* request) { return hasHeader(request, "Sec-Fetch-Mode", "navigate"); }

// What an answer is matched by: its origin, then its path and query with escapes undone,
// without fragment, so our stack's and the engine's spelling of one address compare equal.
std::string addressKey(const std::string& text) {
  std::string key = originOf(text);
  GUri* uri = key.empty() ? nullptr
                          : g_uri_parse(text.c_str(), static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_NON_DNS),
                                        nullptr);
  if (!uri) return text;
  auto unescaped = [](const char* part) {
    gchar* plain = g_uri_unescape_string(part, nullptr);
    std::string out = plain ? plain : part;  // a broken escape stays as written
    g_free(plain);
    return out;
  };
  const char* path = g_uri_get_path(uri);
  key += unescaped(path && *path ? path : "/");
  if (const char* query = g_uri_get_query(uri)) key += "?" + unescaped(query);
  g_uri_unref(uri);
  return key;
}

// ---- frames sent on

// An answer given to the engine through our scheme cannot redirect, and our stack follows
// redirects itself: a frame's document would be shown under the address the frame asked
// for, with that address's origin, so a frame sent on to another origin would be read by
// its parent as its own, and relative addresses in it would resolve against the wrong
// place. So such a document is held, and the frame gets a document that at once sends it
// on to where the answer came from, replacing itself as a redirect leaves no history; the
// frame's request for that address gets the held answer, so nothing is fetched twice. A
// frame that runs no script (a sandbox without scripts) stays on that empty document.
// Held answers nobody came for within kHeldSeconds, and the one whose next piece takes a
// view's held bytes over the document bound, are dropped, and the host stops fetching them.
// A view holds kMaxHeldPerView at most; a frame sent on beyond that fails instead, which
// also ends any loop of frames sent on.
constexpr std::size_t kMaxHeldPerView = 32;
constexpr guint kHeldSeconds = 30;
constexpr std::size_t kMaxHeldUnread = 4u << 20;
constexpr const char* kHeldData = "wardvane-held";

struct HeldAnswer {
  View* view = nullptr;
  std::string key;                  // addressKey of where the answer came from
  int status = 200;
  std::vector<std::string> fields;  // name, value, ..., as the host gave them
  std::string mimeType;
  GInputStream* stream = nullptr;   // our reference
  gint64 length = -1;
  bool hostEnded = false;           // the host wrote the whole body (or gave up on it)
  guint expiry = 0;
};

// Takes `h` off its view's list; the caller owns it then.
void unlistHeld(HeldAnswer* h) {
  auto& list = h->view->held;
  list.erase(std::remove(list.begin(), list.end(), h), list.end());
  if (h->expiry) g_source_remove(h->expiry);
  h->expiry = 0;
  g_object_set_data(G_OBJECT(h->stream), kHeldData, nullptr);
}

// Lets go of an answer nobody came for: its stream is closed, so the host hears at its next
// piece that nobody reads; with `tellHost`, the host hears at once that the page dropped
// it (not from inside the host's own write, which learns it from the write's result).
void dropHeld(HeldAnswer* h, bool tellHost) {
  unlistHeld(h);
  if (tellHost && !h->hostEnded && wv_engine::isBodyStream(h->stream) && engine().host.request_dropped)
    engine().host.request_dropped(h->stream);
  g_input_stream_close(h->stream, nullptr, nullptr);
  g_object_unref(h->stream);
  delete h;
}

gboolean onHeldExpired(gpointer data) {
  auto* h = static_cast<HeldAnswer*>(data);
  h->expiry = 0;
  dropHeld(h, true);
  return G_SOURCE_REMOVE;
}

// Answers the frame's request of a held answer's address with it. False where none is held.
bool answerFromHeld(View* v, WebKitURISchemeRequest* request, const std::string& uri) {
  const std::string key = addressKey(uri);
  auto it = std::find_if(v->held.begin(), v->held.end(), [&](HeldAnswer* h) { return h->key == key; });
  if (it == v->held.end()) return false;
  HeldAnswer* h = *it;
  unlistHeld(h);
  std::vector<const char*> flat;
  for (const auto& f : h->fields) flat.push_back(f.c_str());
  flat.push_back(nullptr);
  // Held as a request handed to the host is; a body still coming keeps it held to its end.
  holdRequest(request);
  const bool streamed = wv_engine::isBodyStream(h->stream) && !h->hostEnded;
  respond(request, h->status, flat.data(), h->mimeType.c_str(), h->stream, h->length, streamed);
  g_object_unref(h->stream);
  delete h;
  return true;
}

// The one-line document that sends a frame on to `to`. The address is written as a script
// string no byte of which can end the script: ASCII outside a URL's own characters as
// escapes of the string, other bytes as a URL escapes them.
std::string sendingOnDocument(const std::string& to) {
  std::string quoted;
  for (const unsigned char c : to) {
    char escape[8];
    if (c >= 0x80) {
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      quoted += escape;
    } else if (g_ascii_isalnum(static_cast<gchar>(c)) || std::strchr(":/?#[]@!$&()*+,;=-._~%", c)) {
      quoted += static_cast<char>(c);
    } else {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    }
  }
  return "<!DOCTYPE html><script>location.replace(\"" + quoted + "\")</script>";
}

// Holds the frame's answer that came from `from` and answers the frame with a document
// that sends it there. False, with the request failed instead, where the view holds its
// most already.
bool sendFrameOn(WebKitURISchemeRequest* request, View* v, const std::string& from, int status,
                 const char* const* headers, const char* mimeType, GInputStream* stream, gint64 length) {
  if (v->held.size() >= kMaxHeldPerView) {
    requestFail(request, "too many frames sent on at once");
    return false;
  }
  auto* h = new HeldAnswer();
  h->view = v;
  h->key = addressKey(from);
  h->status = status;
  for (int i = 0; headers && headers[i] && headers[i + 1]; i += 2) {
    h->fields.emplace_back(headers[i]);
    h->fields.emplace_back(headers[i + 1]);
  }
  h->mimeType = mimeType ? mimeType : "";
  h->stream = G_INPUT_STREAM(g_object_ref(stream));
  h->length = length;
  h->expiry = g_timeout_add_seconds(kHeldSeconds, onHeldExpired, h);
  g_object_set_data(G_OBJECT(stream), kHeldData, h);
  v->held.push_back(h);

  const std::string document = sendingOnDocument(from);
  GBytes* bytes = g_bytes_new(document.data(), document.size());
  GInputStream* in = g_memory_input_stream_new_from_bytes(bytes);
  WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(in, static_cast<gint64>(document.size()));
  webkit_uri_scheme_response_set_content_type(response, "text/html");
  forgetRequest(request);
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(in);
  g_bytes_unref(bytes);
  releaseRequest(request);
  return true;
}

// Our stack follows redirects, so the engine never sees one: a request it counts as the
// page's own (it then checks nothing) may have been answered by another origin. What the
// page gets of that answer, as a browser gives it after a hop to another origin:
enum class AfterHop {
  Readable,  // pictures, scripts, style sheets load; the engine applies CORS where it counts
             // the request as another origin's
  Refused,   // a script's request that origin does not open to anyone (the request's origin
             // is "null" after the hop), and a request that must stay on its origin (a worker)
  Withheld,  // a script's no-cors request: a browser's answer is opaque, so the page gets
             // an empty one, neither status nor body of the other origin's
};

AfterHop afterHop(WebKitURISchemeRequest* request, const char* const* headers) {
  // The engine checks CORS itself where it counts the request as another origin's.
  const char* site = requestHeader(request, "Sec-Fetch-Site");
  const bool engineChecks =
      site ? g_ascii_strcasecmp(site, "same-origin") != 0 : requestHeader(request, "Origin") != nullptr;
  if (hasHeader(request, "Sec-Fetch-Mode", "same-origin")) return AfterHop::Refused;
  if (engineChecks) return AfterHop::Readable;
  if (hasHeader(request, "Sec-Fetch-Mode", "no-cors"))
    return hasHeader(request, "Sec-Fetch-Dest", "empty") ? AfterHop::Withheld : AfterHop::Readable;
  if (!hasHeader(request, "Sec-Fetch-Mode", "cors")) return AfterHop::Readable;
  for (int i = 0; headers && headers[i] && headers[i + 1]; i += 2)
    if (g_ascii_strcasecmp(headers[i], "Access-Control-Allow-Origin") == 0)
      return std::strcmp(headers[i + 1], "*") == 0 || std::strcmp(headers[i + 1], "null") == 0 ? AfterHop::Readable
                                                                                                : AfterHop::Refused;
  return AfterHop::Refused;
}

// Answers the page's request with the host's status and headers and a body the engine
// reads from `stream` (`length` bytes, or -1 when not known ahead; `streamed`: the host
// writes it as it comes and ends it). False where the page gets nothing more of this
// answer (the request was failed or answered otherwise): the host stops fetching its body.
bool respond(void* opaque, int status, const char* const* headers, const char* mimeType, GInputStream* stream,
             gint64 length, bool streamed) {
  auto* request = static_cast<WebKitURISchemeRequest*>(opaque);
  // The page's own origin only when both its request and the answer (after redirects,
  // which our stack followed) are of it: a redirect to another origin answers as that one.
  std::string answeredFrom;
  for (int i = 0; headers && headers[i] && headers[i + 1]; i += 2)
    if (std::strcmp(headers[i], ":url") == 0) answeredFrom = headers[i + 1];
  const std::string uri = originalURI(webkit_uri_scheme_request_get_uri(request));
  const bool moved = !answeredFrom.empty() && addressKey(answeredFrom) != addressKey(uri);
  WebKitWebView* web = webkit_uri_scheme_request_get_web_view(request);
  if (View* v = web ? viewOf(web) : nullptr; moved && v && isNavigation(request))
    return sendFrameOn(request, v, answeredFrom, status, headers, mimeType, stream, length);
  const bool redirectedAway = moved && originOf(answeredFrom) != originOf(uri);
  const AfterHop hop = redirectedAway ? afterHop(request, headers) : AfterHop::Readable;
  if (hop == AfterHop::Refused) {
    requestFail(opaque, "the other origin does not allow the page to read its answer");
    return false;
  }
  if (hop == AfterHop::Withheld) {
    GInputStream* empty = g_memory_input_stream_new();
    WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(empty, 0);
    forgetRequest(request);
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(empty);
    releaseRequest(request);
    return false;
  }
  WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, length);
  webkit_uri_scheme_response_set_status(response, static_cast<guint>(status), nullptr);
  if (mimeType && *mimeType) webkit_uri_scheme_response_set_content_type(response, mimeType);
  SoupMessageHeaders* out = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  const char* engineOrigin = requestHeader(request, "Origin");
  const bool own = !redirectedAway && isSameOrigin(request, uri);
  const std::string pageOrigin = own ? std::string() : trueOrigin(engineOrigin);
  std::string names;
  for (int i = 0; headers && headers[i] && headers[i + 1]; i += 2) {
    const char* name = headers[i];
    if (name[0] == ':') continue;
    if (g_ascii_strcasecmp(name, "Content-Length") == 0 || g_ascii_strcasecmp(name, "Content-Encoding") == 0 ||
        g_ascii_strcasecmp(name, "Transfer-Encoding") == 0)
      continue;
    const bool cors = g_ascii_strncasecmp(name, "Access-Control-", 15) == 0;
    // The page's own answer: what its server says about other origins is not about it.
    if (own && cors) continue;
    if (!own && cors && g_ascii_strcasecmp(name, "Access-Control-Allow-Origin") == 0 && engineOrigin &&
        !pageOrigin.empty() && pageOrigin == headers[i + 1]) {
      // Another origin allows the page by its true origin; the engine knows a frame's by
      // our scheme's form of it.
      soup_message_headers_append(out, name, engineOrigin);
      continue;
    }
    soup_message_headers_append(out, name, headers[i + 1]);
    if (own) names += std::string(names.empty() ? "" : ", ") + name;
  }
  // The page asked its own origin; the answer reaches it through our scheme, which the
  // engine counts as another origin: the answer allows the page, with credentials, and
  // shows it every header, as its own origin's answer is read in a browser.
  if (own) {
    soup_message_headers_append(out, "Access-Control-Allow-Origin", engineOrigin);
    soup_message_headers_append(out, "Access-Control-Allow-Credentials", "true");
    if (!names.empty()) soup_message_headers_append(out, "Access-Control-Expose-Headers", names.c_str());
  }
  webkit_uri_scheme_response_set_http_headers(response, out);
  // A streamed body keeps the request held until its end: a page that goes away while it
  // streams is heard of too.
  auto& h = heldRequests();
  if (auto held = h.held.find(request); streamed && held != h.held.end()) {
    held->second.body = stream;
    h.bodies[stream] = request;
  }
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  if (!streamed) {
    forgetRequest(request);
    releaseRequest(request);
  }
  return true;
}

void requestFinish(void* opaque, int status, const char* const* headers, const char* mimeType,
                   const unsigned char* body, size_t size) {
  GBytes* bytes = g_bytes_new(body ? body : reinterpret_cast<const unsigned char*>(""), size);
  GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
  respond(opaque, status, headers, mimeType, stream, static_cast<gint64>(size), false);
  g_object_unref(stream);
  g_bytes_unref(bytes);
}

// A body the host streams as it arrives: of a length not known ahead, so the engine reads
// until the host ends it. Null where the page may not read the answer (the request is
// failed then): the host stops fetching.
void* requestBegin(void* opaque, int status, const char* const* headers, const char* mimeType) {
  GInputStream* stream = wv_engine::bodyStreamNew();
  if (!respond(opaque, status, headers, mimeType, stream, -1, true)) {
    g_object_unref(stream);
    return nullptr;
  }
  return stream;  // the host's reference, given up at requestBodyEnd
}

int requestBodyWrite(void* body, const unsigned char* data, size_t size) {
  auto* stream = static_cast<GInputStream*>(body);
  if (!wv_engine::bodyStreamWrite(stream, data, size)) return 0;
  // Frame documents held for their frames are bounded together as one document is.
  auto* held = static_cast<HeldAnswer*>(g_object_get_data(G_OBJECT(stream), kHeldData));
  if (!held) return 1;
  std::size_t unread = 0;
  for (const HeldAnswer* h : held->view->held)
    if (wv_engine::isBodyStream(h->stream)) unread += wv_engine::bodyStreamUnread(h->stream);
  if (unread <= kMaxHeldUnread) return 1;
  dropHeld(held, false);
  return 0;
}

void requestBodyEnd(void* body, const char* message) {
  auto* stream = static_cast<GInputStream*>(body);
  if (auto* held = static_cast<HeldAnswer*>(g_object_get_data(G_OBJECT(stream), kHeldData))) held->hostEnded = true;
  auto& h = heldRequests();
  if (auto found = h.bodies.find(stream); found != h.bodies.end()) {
    WebKitURISchemeRequest* request = found->second;
    forgetRequest(request);
    releaseRequest(request);
  }
  wv_engine::bodyStreamEnd(stream, message);
  g_object_unref(stream);
}

void requestFail(void* opaque, const char* message) {
  auto* request = static_cast<WebKitURISchemeRequest*>(opaque);
  forgetRequest(request);
  GError* err = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, message ? message : "failed");
  webkit_uri_scheme_request_finish_error(request, err);
  g_error_free(err);
  releaseRequest(request);
}

// ---- signals of a view

gboolean onDecidePolicy(WebKitWebView* web, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type, gpointer) {
  View* v = viewOf(web);
  if (!v) return FALSE;
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    webkit_policy_decision_use(decision);
    return TRUE;
  }
  auto* nav = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(nav);
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* uri = webkit_uri_request_get_uri(request);
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && v->ownLoadPending && uri && v->ownLoad == uri) {
    v->ownLoadPending = false;
    webkit_policy_decision_use(decision);
    return TRUE;
  }
  const int navType = static_cast<int>(webkit_navigation_action_get_navigation_type(action));
  const int policy = engine().host.navigation(v->host, uri ? uri : "", navType,
                                              type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION,
                                              webkit_navigation_action_is_user_gesture(action));
  if (policy == WV_POLICY_USE && type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
    if (isHttp(uri)) v->lastAllowed = uri;
    webkit_policy_decision_use(decision);
  } else {
    webkit_policy_decision_ignore(decision);
  }
  return TRUE;
}

void onLoadChanged(WebKitWebView* web, WebKitLoadEvent event, gpointer) {
  View* v = viewOf(web);
  if (!v) return;
  const char* uri = webkit_web_view_get_uri(web);
  const bool own = !v->ownLoad.empty() && !v->ownLoadPending;
  if (event == WEBKIT_LOAD_STARTED && !own && !v->lastAllowed.empty()) {
    // The page's main frame leaves for an http(s) page it was allowed to: the host loads
    // it itself, so its bytes come through the host's stack and its origin stays true.
    v->handedOver = v->lastAllowed.empty() ? std::string(uri) : v->lastAllowed;
    v->lastAllowed.clear();
    v->loading = false;
    webkit_web_view_stop_loading(web);
    engine().host.load(v->host, WV_LOAD_STARTED, v->handedOver.c_str(), 1, "handed over");
    return;
  }
  if (event == WEBKIT_LOAD_STARTED) v->loading = true;
  if (event == WEBKIT_LOAD_COMMITTED) {
    v->ownLoad.clear();
    v->pingEnabled = true;
    trimSoon();  // the page it replaced is going, with its requests
  }
  if (event == WEBKIT_LOAD_FINISHED) v->loading = false;
  if (event == WEBKIT_LOAD_REDIRECTED) return;
  engine().host.load(v->host, event == WEBKIT_LOAD_STARTED     ? WV_LOAD_STARTED
                              : event == WEBKIT_LOAD_COMMITTED ? WV_LOAD_COMMITTED
                                                               : WV_LOAD_FINISHED,
                     uri ? uri : "", 0, nullptr);
}

gboolean onLoadFailed(WebKitWebView* web, WebKitLoadEvent, gchar* uri, GError* error, gpointer) {
  View* v = viewOf(web);
  if (!v) return TRUE;
  v->loading = false;
  engine().host.load(v->host, WV_LOAD_FAILED, uri ? uri : "", error ? error->code : -1,
                     error ? error->message : "failed");
  return TRUE;
}

void onProcessTerminated(WebKitWebView* web, WebKitWebProcessTerminationReason reason, gpointer) {
  View* v = viewOf(web);
  if (!v) return;
  v->pingOut = false;
  v->pingEnabled = false;
  v->missed = 0;
  v->loading = false;
  int why = reason == WEBKIT_WEB_PROCESS_CRASHED                   ? WV_PROCESS_CRASHED
            : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? WV_PROCESS_MEMORY
                                                                   : WV_PROCESS_BY_HOST;
  if (unwatchProcess(v)) why = WV_PROCESS_MEMORY;
  if (g_object_get_data(G_OBJECT(web), "wardvane-unresponsive")) {
    g_object_set_data(G_OBJECT(web), "wardvane-unresponsive", nullptr);
    why = WV_PROCESS_UNRESPONSIVE;
  }
  engine().host.process_ended(v->host, why);
}

// This API version hands the message over as a script result.
void onScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
  auto* v = static_cast<View*>(data);
  if (!v || !engine().host.message || !result) return;
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!value) return;
  char* json = jsc_value_to_json(value, 0);
  if (json) engine().host.message(v->host, json);
  g_free(json);
}

// A bridge message: a URL the page wants the host to hear of, offered like a navigation
// of type "other" and, like a window.open, never loaded here whatever the answer. One
// message, one question, in the order the page posted them: unlike assignments to
// location.href, several in one turn are not coalesced, and no frame is made for each.
// A message the host never hears of still leaves one line in the page's log saying why,
// quoting no more than the message's start (ASCII only, so the line stays one JSON text).
void tellBridgeMessageDropped(View* v, const std::string& why, const char* url) {
  if (!engine().host.message) return;
  std::string text = "bridge message dropped: " + why;
  if (url && *url) {
    text += ": ";
    constexpr std::size_t kQuoted = 120;
    std::size_t i = 0;
    for (; url[i] && i < kQuoted; ++i) {
      const unsigned char c = static_cast<unsigned char>(url[i]);
      text += c < 0x20 || c >= 0x7f || c == '"' || c == '\\' ? '?' : static_cast<char>(c);
    }
    if (url[i]) text += "...";
  }
  const std::string json = "{\"kind\":\"error\",\"text\":\"" + text + "\"}";
  engine().host.message(v->host, json.c_str());
}

void onBridgeMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
  auto* v = static_cast<View*>(data);
  if (!v || !result) return;
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!value || !jsc_value_is_string(value)) {
    tellBridgeMessageDropped(v, "not a string", nullptr);
    return;
  }
  char* url = jsc_value_to_string(value);
  const std::size_t size = url ? std::strlen(url) : 0;
  if (size == 0) {
    tellBridgeMessageDropped(v, "empty", nullptr);
  } else if (size > kMaxBridgeMessage) {
    tellBridgeMessageDropped(v, std::to_string(size) + " bytes, over the bound of " + std::to_string(kMaxBridgeMessage), url);
  } else {
    engine().host.navigation(v->host, url, WEBKIT_NAVIGATION_TYPE_OTHER, 1, 0);
  }
  g_free(url);
}

// The page's web process names itself (web_extension.cpp): its memory is watched from now.
gboolean onUserMessage(WebKitWebView* web, WebKitUserMessage* message, gpointer) {
  View* v = viewOf(web);
  if (!v || g_strcmp0(webkit_user_message_get_name(message), "wardvane-process") != 0) return FALSE;
  GVariant* pid = webkit_user_message_get_parameters(message);
  if (pid && g_variant_is_of_type(pid, G_VARIANT_TYPE_INT32))
    watchProcess(v, static_cast<pid_t>(g_variant_get_int32(pid)), v->memoryBoundBytes);
  return TRUE;
}

// window.open: offered to the host like any navigation; no second window ever opens.
GtkWidget* onCreate(WebKitWebView* web, WebKitNavigationAction* action, gpointer) {
  View* v = viewOf(web);
  if (!v) return nullptr;
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
  if (uri && *uri)
    engine().host.navigation(v->host, uri, static_cast<int>(webkit_navigation_action_get_navigation_type(action)), 1,
                             webkit_navigation_action_is_user_gesture(action));
  return nullptr;
}

gboolean onContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
  return TRUE;  // no menus on an ad
}

gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
  // alert/confirm/prompt must never block the host's main thread on a modal loop.
  if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_CONFIRM ||
      webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM)
    webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
  return TRUE;
}

gboolean onPermission(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
  webkit_permission_request_deny(request);
  return TRUE;
}

// ---- watchdog

void onPingAnswered(GObject* source, GAsyncResult* result, gpointer data) {
  auto* web = WEBKIT_WEB_VIEW(source);
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_evaluate_javascript_finish(web, result, &error);
  if (value) g_object_unref(value);
  const bool cancelled = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
  if (error) g_error_free(error);
  if (cancelled) return;
  if (View* v = static_cast<View*>(data); v && viewOf(web) == v) {
    v->pingOut = false;
    v->missed = 0;
  }
}

constexpr guint kWatchdogTickMs = 250;

gboolean onWatchdog(gpointer data) {
  auto* v = static_cast<View*>(data);
  if (!v->pingEnabled) return G_SOURCE_CONTINUE;
  if (v->pingOut) {
    if (++v->missed * kWatchdogTickMs >= engine().watchdogSeconds * 1000) {
      v->pingOut = false;
      v->pingEnabled = false;
      v->missed = 0;
      g_object_set_data(G_OBJECT(v->web), "wardvane-unresponsive", GINT_TO_POINTER(1));
      webkit_web_view_terminate_web_process(v->web);
    }
    return G_SOURCE_CONTINUE;
  }
  v->pingOut = true;
  v->missed = 0;
  webkit_web_view_evaluate_javascript(v->web, "0", 1, nullptr, nullptr, v->cancellable, onPingAnswered, v);
  return G_SOURCE_CONTINUE;
}

// ---- the API

int start(const wv_engine_config* config, const wv_engine_host* host, char* error, size_t errorSize) {
  auto& e = engine();
  auto fail = [&](const std::string& text) {
    if (error && errorSize) std::snprintf(error, errorSize, "%s", text.c_str());
    return 1;
  };
  if (e.started) return 0;
  e.host = *host;
  e.userScript = config->user_script ? config->user_script : "";
  e.watchdogSeconds = config->watchdog_seconds > 0 ? config->watchdog_seconds : 3;
  // Our windows are X11 ones, offscreen; a Wayland session would need a compositor.
  setenv("GDK_BACKEND", "x11", 1);
  // No assistive technology reads an ad's offscreen window: the accessibility bridge
  // would only open a bus connection and keep its start-up memory for good.
  setenv("NO_AT_BRIDGE", "1", 0);
  // Graphics drivers are not ours to count on (a private display has none).
  setenv("WEBKIT_DISABLE_DMABUF_RENDERER", "1", 0);
  setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
  const char* display = getenv("DISPLAY");
  if ((!display || !*display) && config->start_display) {
    std::string why;
    if (!startDisplay(why)) return fail(why);
  }
  if (!gtk_init_check(nullptr, nullptr)) {
    // A display that said it was ready was seen, rarely and only with every core busy, to
    // refuse the connection a moment later. A private one of our own is the way on, once:
    // GTK opens whatever DISPLAY names when it is asked again.
    std::string why;
    if (!startDisplay(why)) return fail("GTK could not open the display, nor a private one: " + why);
    if (!gtk_init_check(nullptr, nullptr)) return fail("GTK could not open the display");
  }
  if (!g_main_context_acquire(g_main_context_default())) return fail("the GLib main context is owned elsewhere");

  WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
  WebKitMemoryPressureSettings* memory = webkit_memory_pressure_settings_new();
  webkit_memory_pressure_settings_set_memory_limit(memory, config->memory_limit_mb ? config->memory_limit_mb : 512);
  // Each bound must stay below the next: kill first, then strict, then conservative.
  webkit_memory_pressure_settings_set_kill_threshold(memory, config->kill_threshold > 0 ? config->kill_threshold : 0.9);
  webkit_memory_pressure_settings_set_strict_threshold(memory, 0.7);
  webkit_memory_pressure_settings_set_conservative_threshold(memory, 0.5);
  webkit_memory_pressure_settings_set_poll_interval(memory, 0.5);
  e.context = WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", data,
                                              "memory-pressure-settings", memory, nullptr));
  webkit_memory_pressure_settings_free(memory);
  g_object_unref(data);
  webkit_web_context_set_cache_model(e.context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  if (config->extension_dir) webkit_web_context_set_web_extensions_directory(e.context, config->extension_dir);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(e.context);
  for (const char* scheme : {"wardvane-http", "wardvane-https"}) {
    webkit_web_context_register_uri_scheme(e.context, scheme, onSchemeRequest, nullptr, nullptr);
    webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme);
  }
  webkit_security_manager_register_uri_scheme_as_secure(security, "wardvane-https");
  e.started = true;
  return 0;
}

void* viewNew(void* hostView, int width, int height, const char* userAgent) {
  auto& e = engine();
  auto* v = new View();
  v->host = hostView;
  v->cancellable = g_cancellable_new();
  v->content = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler(v->content, kBridgeChannel);
  g_signal_connect(v->content, (std::string("script-message-received::") + kBridgeChannel).c_str(),
                   G_CALLBACK(onBridgeMessage), v);
  if (!e.userScript.empty()) {
    webkit_user_content_manager_register_script_message_handler(v->content, kChannel);
    g_signal_connect(v->content, (std::string("script-message-received::") + kChannel).c_str(),
                     G_CALLBACK(onScriptMessage), v);
    WebKitUserScript* script = webkit_user_script_new(e.userScript.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(v->content, script);
    webkit_user_script_unref(script);
  }
  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
  webkit_settings_set_enable_write_console_messages_to_stdout(settings, FALSE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_enable_page_cache(settings, FALSE);
  webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_media_playback_requires_user_gesture(settings, TRUE);
  if (userAgent && *userAgent) webkit_settings_set_user_agent(settings, userAgent);
  v->web = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", e.context, "user-content-manager",
                                        v->content, "settings", settings, nullptr));
  g_object_unref(settings);
  g_object_set_data(G_OBJECT(v->web), "wardvane-view", v);
  v->window = gtk_offscreen_window_new();
  gtk_window_set_default_size(GTK_WINDOW(v->window), width > 0 ? width : 1, height > 0 ? height : 1);
  gtk_widget_set_size_request(GTK_WIDGET(v->web), width > 0 ? width : 1, height > 0 ? height : 1);
  gtk_container_add(GTK_CONTAINER(v->window), GTK_WIDGET(v->web));
  gtk_widget_show_all(v->window);
  g_signal_connect(v->web, "decide-policy", G_CALLBACK(onDecidePolicy), nullptr);
  g_signal_connect(v->web, "load-changed", G_CALLBACK(onLoadChanged), nullptr);
  g_signal_connect(v->web, "load-failed", G_CALLBACK(onLoadFailed), nullptr);
  g_signal_connect(v->web, "web-process-terminated", G_CALLBACK(onProcessTerminated), nullptr);
  g_signal_connect(v->web, "create", G_CALLBACK(onCreate), nullptr);
  g_signal_connect(v->web, "context-menu", G_CALLBACK(onContextMenu), nullptr);
  g_signal_connect(v->web, "script-dialog", G_CALLBACK(onScriptDialog), nullptr);
  g_signal_connect(v->web, "permission-request", G_CALLBACK(onPermission), nullptr);
  g_signal_connect(v->web, "user-message-received", G_CALLBACK(onUserMessage), nullptr);
  // Below the engine's own sources, so an answer already in is taken before the tick.
  v->watchdog = g_timeout_add_full(G_PRIORITY_LOW, kWatchdogTickMs, onWatchdog, v, nullptr);
  return v;
}

void viewFree(void* opaque) {
  auto* v = static_cast<View*>(opaque);
  if (!v) return;
  g_source_remove(v->watchdog);
  unwatchProcess(v);
  while (!v->held.empty()) dropHeld(v->held.front(), true);
  g_cancellable_cancel(v->cancellable);
  g_signal_handlers_disconnect_by_data(v->content, v);
  g_object_set_data(G_OBJECT(v->web), "wardvane-view", nullptr);
  webkit_web_view_stop_loading(v->web);
  gtk_widget_destroy(v->window);
  g_object_unref(v->content);
  g_object_unref(v->cancellable);
  delete v;
  trimSoon();
}

void viewResize(void* opaque, int width, int height) {
  auto* v = static_cast<View*>(opaque);
  width = width > 0 ? width : 1;
  height = height > 0 ? height : 1;
  gtk_widget_set_size_request(GTK_WIDGET(v->web), width, height);
  // An offscreen window never gets smaller than its default size: a view that shrinks (a
  // page turned to landscape, a banner given back its place) would keep its old height.
  gtk_window_set_default_size(GTK_WINDOW(v->window), width, height);
  gtk_window_resize(GTK_WINDOW(v->window), width, height);
}

void viewSetUserAgent(void* opaque, const char* userAgent) {
  auto* v = static_cast<View*>(opaque);
  webkit_settings_set_user_agent(webkit_web_view_get_settings(v->web), userAgent);
}

void viewLoadHTML(void* opaque, const char* html, size_t size, const char* baseURI) {
  auto* v = static_cast<View*>(opaque);
  v->ownLoad = baseURI && *baseURI ? baseURI : "about:blank";
  v->ownLoadPending = true;
  v->handedOver.clear();
  if (size == 0) {  // the engine takes no empty bytes
    webkit_web_view_load_html(v->web, "", v->ownLoad.c_str());
    return;
  }
  GBytes* bytes = g_bytes_new(html, size);
  webkit_web_view_load_bytes(v->web, bytes, "text/html", "UTF-8", v->ownLoad.c_str());
  g_bytes_unref(bytes);
}

void viewStop(void* opaque) {
  auto* v = static_cast<View*>(opaque);
  v->ownLoadPending = false;
  webkit_web_view_stop_loading(v->web);
}

struct Evaluation {
  void (*done)(void*, const char*, const char*);
  void* context;
};

void onEvaluated(GObject* source, GAsyncResult* result, gpointer data) {
  auto* ev = static_cast<Evaluation*>(data);
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (value) {
    if (jsc_value_is_undefined(value) || jsc_value_is_null(value)) {
      ev->done(ev->context, "", nullptr);
    } else {
      char* text = jsc_value_to_string(value);
      ev->done(ev->context, text ? text : "", nullptr);
      g_free(text);
    }
    g_object_unref(value);
  } else {
    ev->done(ev->context, nullptr, error ? error->message : "failed");
  }
  if (error) g_error_free(error);
  delete ev;
}

void viewEvaluate(void* opaque, const char* script, size_t size, void (*done)(void*, const char*, const char*),
                  void* context) {
  auto* v = static_cast<View*>(opaque);
  webkit_web_view_evaluate_javascript(v->web, script, static_cast<gssize>(size), nullptr, nullptr, v->cancellable,
                                      onEvaluated, new Evaluation{done, context});
}

struct Snapshot {
  void (*done)(void*, const unsigned char*, int, int);
  void* context;
};

void onSnapshot(GObject* source, GAsyncResult* result, gpointer data) {
  auto* s = static_cast<Snapshot*>(data);
  GError* error = nullptr;
  cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (error) g_error_free(error);
  if (!surface) {
    s->done(s->context, nullptr, 0, 0);
    delete s;
    return;
  }
  const int w = cairo_image_surface_get_width(surface);
  const int h = cairo_image_surface_get_height(surface);
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(image);
  cairo_set_source_surface(cr, surface, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(image);
  const int stride = cairo_image_surface_get_stride(image);
  const unsigned char* src = cairo_image_surface_get_data(image);
  std::vector<unsigned char> rgba(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const guint32*>(src + static_cast<std::ptrdiff_t>(y) * stride);
    unsigned char* out = rgba.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 4;
    for (int x = 0; x < w; ++x) {
      const guint32 p = row[x];
      out[4 * x + 0] = static_cast<unsigned char>((p >> 16) & 0xFF);
      out[4 * x + 1] = static_cast<unsigned char>((p >> 8) & 0xFF);
      out[4 * x + 2] = static_cast<unsigned char>(p & 0xFF);
      out[4 * x + 3] = static_cast<unsigned char>((p >> 24) & 0xFF);
    }
  }
  cairo_surface_destroy(image);
  cairo_surface_destroy(surface);
  s->done(s->context, rgba.data(), w, h);
  delete s;
}

void viewSnapshot(void* opaque, void (*done)(void*, const unsigned char*, int, int), void* context) {
  auto* v = static_cast<View*>(opaque);
  webkit_web_view_get_snapshot(v->web, WEBKIT_SNAPSHOT_REGION_VISIBLE,
                               v->transparent ? WEBKIT_SNAPSHOT_OPTIONS_TRANSPARENT_BACKGROUND : WEBKIT_SNAPSHOT_OPTIONS_NONE,
                               v->cancellable,
                               onSnapshot, new Snapshot{done, context});
}

void sendButton(View* v, GdkEventType type, double x, double y) {
  GdkWindow* window = gtk_widget_get_window(GTK_WIDGET(v->web));
  if (!window) return;
  GdkEvent* ev = gdk_event_new(type);
  GdkDisplay* display = gdk_window_get_display(window);
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
  if (type == GDK_MOTION_NOTIFY) {
    ev->motion.window = GDK_WINDOW(g_object_ref(window));
    ev->motion.send_event = TRUE;
    ev->motion.time = GDK_CURRENT_TIME;
    ev->motion.x = x;
    ev->motion.y = y;
    ev->motion.x_root = x;
    ev->motion.y_root = y;
  } else {
    ev->button.window = GDK_WINDOW(g_object_ref(window));
    ev->button.send_event = TRUE;
    ev->button.time = GDK_CURRENT_TIME;
    ev->button.x = x;
    ev->button.y = y;
    ev->button.x_root = x;
    ev->button.y_root = y;
    ev->button.button = 1;
    if (type == GDK_BUTTON_RELEASE) ev->button.state = GDK_BUTTON1_MASK;
  }
  gdk_event_set_device(ev, pointer);
  gtk_widget_event(GTK_WIDGET(v->web), ev);
  gdk_event_free(ev);
}

void viewClick(void* opaque, double x, double y) {
  auto* v = static_cast<View*>(opaque);
  sendButton(v, GDK_MOTION_NOTIFY, x, y);
  sendButton(v, GDK_BUTTON_PRESS, x, y);
  sendButton(v, GDK_BUTTON_RELEASE, x, y);
}

void viewTerminate(void* opaque) { webkit_web_view_terminate_web_process(static_cast<View*>(opaque)->web); }

int viewProcessId(void* opaque) { return static_cast<int>(watchedProcess(opaque)); }

void viewSetMemoryLimit(void* opaque, unsigned megabytes, double killThreshold) {
  auto* v = static_cast<View*>(opaque);
  const double share = killThreshold > 0 && killThreshold <= 1 ? killThreshold : 0.9;
  v->memoryBoundBytes =
      static_cast<unsigned long long>(static_cast<double>((megabytes ? megabytes : 512) * (1ull << 20)) * share);
}

void viewSetTransparent(void* opaque, int transparent) {
  auto* v = static_cast<View*>(opaque);
  v->transparent = transparent != 0;
  const GdkRGBA color = {1, 1, 1, v->transparent ? 0.0 : 1.0};
  webkit_web_view_set_background_color(v->web, &color);
}

const wv_engine_api kApi = {
    WV_ENGINE_API_VERSION, start,       prepare,     dispatch,    viewNew,          viewFree,
    viewResize,            viewSetUserAgent, viewLoadHTML, viewStop, viewEvaluate, viewSnapshot,
    viewClick,             viewTerminate, viewProcessId, requestFinish, requestFail, viewSetTransparent,
    requestBegin,          requestBodyWrite, requestBodyEnd, viewSetMemoryLimit,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const wv_engine_api* wv_engine_get() { return &kApi; }
