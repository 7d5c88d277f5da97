#include "platform/webkit/under_thread_sanitizer.h"
#include "platform/webkit/web_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/net/test_server.h"
#include "platform/net/url_protocol.h"
#include "platform/uikit/graphics_context.h"
#include "platform/webkit/page_answer_test_support.h"
#include "platform/webkit/test_pictures.h"

namespace webkit {
namespace {

struct Recorder : WebViewDelegate {
  struct Question {
    std::string url;
    NavigationType type;
    std::string userAgent;
  };
  std::vector<Question> questions;
  std::vector<std::string> events;
  std::function<bool(const std::string&)> allow = [](const std::string& url) {
    std::string scheme = url.substr(0, url.find(':'));
    for (auto& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme != "qomb" && scheme != "mailto" && scheme != "tel";
  };
  std::optional<foundation::Error> lastError;
  int terminated = 0;

  bool webViewShouldStartLoadWithRequestNavigationType(WebView&, const net::URLRequest& r, NavigationType t) override {
    questions.push_back({r.url.absoluteString(), t, r.headers.get("User-Agent").value_or("")});
    return allow(r.url.absoluteString());
  }
  void webViewDidStartLoad(WebView&) override { events.push_back("start"); }
  void webViewDidFinishLoad(WebView&) override { events.push_back("finish"); }
  void webViewDidFailLoadWithError(WebView&, const foundation::Error& e) override {
    events.push_back("fail");
    lastError = e;
  }
  void webViewWebContentProcessDidTerminate(WebView&) override { ++terminated; }
  bool ended() const { return !events.empty() && (events.back() == "finish" || events.back() == "fail"); }
};

struct WebViewTest : ::testing::Test {
  std::shared_ptr<WebView> view = WebView::create({{0, 0}, {200, 120}});
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  void SetUp() override { view->setDelegate(recorder); }
  // The watchdog's bound is the program's: the engine reads it once, when it starts.
  void TearDown() override {
    const double watchdog = WebViewLimits::current().watchdogSeconds;
    WebViewLimits::current() = WebViewLimits{};
    WebViewLimits::current().watchdogSeconds = watchdog;
  }
  bool loadHTML(const std::string& html, const std::string& base = "https://ads.example/page") {
    recorder->events.clear();
    view->loadHTMLStringBaseURL(html, net::URL::fromString(base));
    return waitEnd();
  }
  // A bound, not a speed: a first load starts the display server and the engine's
  // processes, which took over 20 s with two such tests starting at once on a saturated
  // machine.
  bool waitEnd(double seconds = 60) {
    return dispatch::RunLoop::main().runUntil([&] { return recorder->ended(); }, seconds);
  }
  bool waitFor(const std::function<bool()>& done, double seconds = 10) {
    return dispatch::RunLoop::main().runUntil(done, seconds);
  }
  // The page's answer, however late a busy machine brings it.
  std::string eval(const std::string& script) { return webkit::testing::answerOf(*view, script); }
  std::vector<std::string> urlsAsked(std::size_t from = 0) const {
    std::vector<std::string> out;
    for (std::size_t i = from; i < recorder->questions.size(); ++i) out.push_back(recorder->questions[i].url);
    return out;
  }
};

// Bridge messages from timers, iframes and several in one turn reach the delegate one at
// a time in page order; a refused one leaves the document as it is.
TEST_F(WebViewTest, BridgeNavigationsReachTheDelegateInPageOrder) {
  ASSERT_TRUE(loadHTML(R"(<html><body>hi<script>
      var after = 'still here';
      function viaFrame(url) {
        var f = document.createElement('iframe');
        f.style.display = 'none';
        f.src = url;
        document.body.appendChild(f);
      }
      viaFrame('qomb://x/first?a=1');
      viaFrame('QOMB://x/second');
      setTimeout(function () { location.href = 'qomb://x/timer'; }, 0);
    </script></body></html>)"));
  EXPECT_EQ(recorder->questions.at(0).url, "https://ads.example/page");
  ASSERT_TRUE(waitFor([&] { return recorder->questions.size() >= 4; }));
  EXPECT_EQ(urlsAsked(1), (std::vector<std::string>{"qomb://x/first?a=1", "qomb://x/second", "qomb://x/timer"}));
  for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(recorder->questions[i].type, NavigationType::Other);
  EXPECT_EQ(eval("after"), "still here");
  EXPECT_EQ(view->documentURL(), "https://ads.example/page");
  EXPECT_EQ(eval("location.href"), "https://ads.example/page");
  EXPECT_FALSE(view->canGoBack());
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
}

// Messages posted to the bridge channel: each one offered in the order posted, several in
// one turn, from frames too, mixed with timers; nothing loads, whatever the answer.
TEST_F(WebViewTest, BridgeChannelMessagesEachReachTheDelegateInOrderAndLoadNothing) {
  ASSERT_TRUE(loadHTML(R"(<html><body>hi<script>
      var channel = window.webkit.messageHandlers.wardvaneBridge;
      for (var i = 0; i < 5; i++) channel.postMessage('qomb://x/m?i=' + i);
      channel.postMessage('https://ads.example/elsewhere');
      channel.postMessage(42);
      setTimeout(function () {
        channel.postMessage('qomb://x/timer');
        var f = document.createElement('iframe');
        f.srcdoc = '<script>window.webkit.messageHandlers.wardvaneBridge.postMessage("qomb://x/frame")<\/script>';
        f.onload = function () { channel.postMessage('qomb://x/after-frame'); };
        document.body.appendChild(f);
      }, 0);
    </script></body></html>)"));
  ASSERT_TRUE(waitFor([&] { return recorder->questions.size() >= 10; }));
  EXPECT_EQ(urlsAsked(1), (std::vector<std::string>{"qomb://x/m?i=0", "qomb://x/m?i=1", "qomb://x/m?i=2",
                                                    "qomb://x/m?i=3", "qomb://x/m?i=4", "https://ads.example/elsewhere",
                                                    "qomb://x/timer", "qomb://x/frame", "qomb://x/after-frame"}));
  for (std::size_t i = 1; i < recorder->questions.size(); ++i) EXPECT_EQ(recorder->questions[i].type, NavigationType::Other);
  for (int i = 0; i < 10; ++i) dispatch::RunLoop::main().runOnce(0.01);
  EXPECT_EQ(recorder->questions.size(), 10u);
  EXPECT_EQ(view->documentURL(), "https://ads.example/page");
  EXPECT_EQ(eval("location.href"), "https://ads.example/page");
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
}

// A message the engine never offers (over its bound, empty, not text) still leaves one
// short line in the page's log saying why, the big one quoted by its start only.
TEST_F(WebViewTest, ABridgeMessageTheEngineDropsLeavesOneShortLineSayingWhy) {
#if WV_UNDER_THREAD_SANITIZER
  // The multi-megabyte message lands in this process's script heap, whose collector then
  // stops the engine's threads by signal to scan them; under ThreadSanitizer's runtime,
  // which holds signals back inside the engine's (uninstrumented) waits, that stop never
  // completes and the program hangs. Nothing of ours is involved.
  GTEST_SKIP() << "the script collector's thread suspension hangs under ThreadSanitizer";
#endif
  ASSERT_TRUE(loadHTML("<body>hi</body>"));
  recorder->questions.clear();
  eval("var channel = window.webkit.messageHandlers.wardvaneBridge;"
       "channel.postMessage('qomb://x/big?v=\"' + 'a'.repeat(4 * 1024 * 1024));"
       "channel.postMessage(42); channel.postMessage('');"
       "channel.postMessage('qomb://x/after');");
  ASSERT_TRUE(waitFor([&] { return !recorder->questions.empty(); }));
  EXPECT_EQ(urlsAsked(), std::vector<std::string>{"qomb://x/after"});
  std::vector<std::string> dropped;
  for (const auto& line : view->consoleMessages())
    if (line.find("bridge message dropped") != std::string::npos) dropped.push_back(line);
  ASSERT_EQ(dropped.size(), 3u);
  EXPECT_NE(dropped[0].find("4194320 bytes, over the bound of 4194304: qomb://x/big?v=?aaa"), std::string::npos)
      << dropped[0];
  EXPECT_LT(dropped[0].size(), 300u);
  EXPECT_NE(dropped[1].find("not a string"), std::string::npos);
  EXPECT_NE(dropped[2].find("empty"), std::string::npos);
}

// What the engine does with several assignments to location.href in one script turn: like
// every browser, only the last one leaves (docs/webkit.md says what pages do instead).
TEST_F(WebViewTest, AssignmentsToTheLocationInOneTurnAreCoalesced) {
  ASSERT_TRUE(loadHTML("<body></body>"));
  recorder->questions.clear();
  eval("for (var i = 0; i < 3; i++) location.href = 'qomb://h/m?i=' + i + '&s=' + encodeURIComponent('a b;c');");
  ASSERT_TRUE(waitFor([&] { return !recorder->questions.empty(); }));
  for (int i = 0; i < 10; ++i) dispatch::RunLoop::main().runOnce(0.01);
  EXPECT_EQ(urlsAsked(), (std::vector<std::string>{"qomb://h/m?i=2&s=a%20b%3Bc"}));
}

TEST_F(WebViewTest, LinkTapsAndFormSubmitsCarryTheirNavigationTypes) {
  ASSERT_TRUE(loadHTML(R"(<body style="margin:0"><a href="other.html" style="display:block;height:20px">x</a>
      <a href="tel:123" style="display:block;height:20px">call</a>
      <form action="https://ads.example/submit" method="get"><input name="q" value="a b"></form></body>)",
                       "https://ads.example/dir/page.html"));
  recorder->questions.clear();
  recorder->allow = [](const std::string&) { return false; };
  ASSERT_TRUE(view->tapLink(1));
  ASSERT_TRUE(waitFor([&] { return recorder->questions.size() == 1; }));
  ASSERT_TRUE(view->tapLink(0));
  ASSERT_TRUE(waitFor([&] { return recorder->questions.size() == 2; }));
  ASSERT_TRUE(view->submitForm(0));
  ASSERT_TRUE(waitFor([&] { return recorder->questions.size() == 3; }));
  EXPECT_FALSE(view->tapLink(7));
  EXPECT_EQ(recorder->questions[0].url, "tel:123");
  EXPECT_EQ(recorder->questions[0].type, NavigationType::LinkClicked);
  EXPECT_EQ(recorder->questions[1].url, "https://ads.example/dir/other.html");
  EXPECT_EQ(recorder->questions[1].type, NavigationType::LinkClicked);
  EXPECT_EQ(recorder->questions[2].url, "https://ads.example/submit?q=a+b");
  EXPECT_EQ(recorder->questions[2].type, NavigationType::FormSubmitted);
  EXPECT_EQ(view->documentParts().links,
            (std::vector<std::string>{"https://ads.example/dir/other.html", "tel:123"}));
}

// A tap is a pointer event at that point: listeners, inline handlers and window.open see it.
TEST_F(WebViewTest, TapsArePointerEventsAtThatPoint) {
  ASSERT_TRUE(loadHTML(R"HTML(<body style="margin:0">
      <div id="a" style="position:absolute;left:0;top:0;width:100px;height:50px" onclick="hits.push('inline')"></div>
      <div id="b" style="position:absolute;left:100px;top:0;width:100px;height:50px"></div>
      <script>
        var hits = [];
        document.getElementById('a').addEventListener('click', function (e) { hits.push('a@' + e.clientX + ',' + e.clientY); });
        document.getElementById('b').addEventListener('click', function () { window.open('https://shop.example/buy'); });
      </script></body>)HTML"));
  recorder->questions.clear();
  recorder->allow = [](const std::string&) { return false; };
  view->tapAtPoint({20, 30});
  ASSERT_TRUE(waitFor([&] { return eval("hits.length") == "2"; }));
  EXPECT_EQ(eval("hits.join(' ')"), "inline a@20,30");
  view->tapAtPoint({150, 10});
  ASSERT_TRUE(waitFor([&] { return !recorder->questions.empty(); }));
  EXPECT_EQ(recorder->questions[0].url, "https://shop.example/buy");
  EXPECT_EQ(recorder->questions[0].type, NavigationType::LinkClicked);
}

TEST_F(WebViewTest, AllowedNavigationReplacesTheDocumentAndBuildsHistory) {
  ASSERT_TRUE(loadHTML("<body><script>var which = 'first';</script></body>", "about:blank"));
  recorder->events.clear();
  view->loadHTMLStringBaseURL("<body><script>var which = 'second';</script></body>",
                              net::URL::fromString("https://ads.example/two"));
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(eval("which"), "second");
  EXPECT_TRUE(view->canGoBack());
  recorder->events.clear();
  view->goBack();
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(recorder->questions.back().type, NavigationType::BackForward);
  EXPECT_EQ(eval("which"), "first");
  EXPECT_TRUE(view->canGoForward());
  recorder->events.clear();
  view->reload();
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(recorder->questions.back().type, NavigationType::Reload);
  EXPECT_TRUE(view->canGoForward());
  view->resetHistory();
  EXPECT_FALSE(view->canGoBack());
  EXPECT_FALSE(view->canGoForward());
}

TEST_F(WebViewTest, RefusedLoadChangesNothing) {
  ASSERT_TRUE(loadHTML("<body><script>var v = 1;</script></body>"));
  recorder->allow = [](const std::string&) { return false; };
  recorder->events.clear();
  view->loadHTMLStringBaseURL("<script>var v = 2;</script>", net::URL::fromString("https://ads.example/x"));
  dispatch::RunLoop::main().drain();
  EXPECT_TRUE(recorder->events.empty());
  EXPECT_EQ(eval("v"), "1");
}

TEST_F(WebViewTest, EvaluationResultsAndAModernPage) {
  ASSERT_TRUE(loadHTML(R"(<body><div id="box" style="width:37px"></div><script>
      var log = [];
      document.addEventListener('DOMContentLoaded', () => log.push(`dom:${document.readyState}`));
      window.onload = () => log.push('load:' + document.readyState);
      class Box { constructor(el) { this.el = el; } width() { return getComputedStyle(this.el).width; } }
      const box = new Box(document.getElementById('box'));
      window.__defineGetter__('orientation', function () { return -90; });
      Promise.resolve().then(() => log.push('promise'));
    </script></body>)"));
  EXPECT_EQ(eval("log.join(',')"), "promise,dom:interactive,load:complete");
  EXPECT_EQ(eval("box.width()"), "37px");
  EXPECT_EQ(eval("window.orientation"), "-90");
  EXPECT_EQ(eval("undefined"), "");
  EXPECT_EQ(eval("null"), "");
  EXPECT_EQ(eval("throw new Error('x')"), "");
  EXPECT_EQ(eval("location.host + location.pathname"), "ads.example/page");
  EXPECT_EQ(eval("navigator.userAgent"), WebView::defaultUserAgent());
  EXPECT_EQ(eval("document.querySelector('#box').tagName"), "DIV");

  std::optional<std::string> async;
  view->evaluateJavaScript("1 + 2", [&](std::optional<std::string> r, std::optional<std::string>) { async = r; });
  EXPECT_FALSE(async);  // never before the caller returns
  ASSERT_TRUE(waitFor([&] { return async.has_value(); }));
  EXPECT_EQ(async, "3");
}

// Console lines and uncaught errors as the page itself gets them (the engine hides the
// details of errors in scripts it counts as another origin's: "Script error.").
TEST_F(WebViewTest, ConsoleLinesAndUncaughtErrorsAreLogged) {
  ASSERT_TRUE(loadHTML("<body><script>console.log('hello', 42); console.warn({a: 1});</script></body>"));
  view->evaluateJavaScript("setTimeout(function () { undefined.x = 1; }, 0)");
  ASSERT_TRUE(waitFor([&] { return view->consoleMessages().size() >= 3; }));
  const auto& lines = view->consoleMessages();
  EXPECT_EQ(lines[0], "console.log: hello 42");
  EXPECT_EQ(lines[1], "console.warn: {\"a\":1}");
  EXPECT_EQ(lines[2].rfind("error: TypeError: ", 0), 0u) << lines[2];
  EXPECT_NE(lines[2].find("(https://ads.example/page:"), std::string::npos) << lines[2];
}

TEST_F(WebViewTest, DrawsThePageIntoTheBitmap) {
  ASSERT_TRUE(loadHTML("<body style='margin:0;background:#00f'>"
                       "<div style='position:absolute;left:0;top:0;width:50px;height:40px;background:#f00'></div></body>"));
  uikit::GraphicsContext ctx(200, 120);
  view->renderInContext(ctx);
  EXPECT_EQ(ctx.pixelAt(10, 10), (std::array<std::uint8_t, 4>{255, 0, 0, 255}));
  EXPECT_EQ(ctx.pixelAt(150, 100), (std::array<std::uint8_t, 4>{0, 0, 255, 255}));
  EXPECT_TRUE(view->hasDrawnContent());
}

// The page takes the view's size whichever way it changes: a view turned from portrait to
// landscape is wider and lower, and lower means smaller than it was made.
TEST_F(WebViewTest, ThePageFollowsTheViewsSizeDownAsWellAsUp) {
  ASSERT_TRUE(loadHTML("<body></body>"));
  const struct {
    double width, height;
    const char* inner;
  } sizes[] = {{200, 120, "200x120"}, {300, 60, "300x60"}, {80, 40, "80x40"}, {250, 200, "250x200"}};
  for (const auto& s : sizes) {
    view->setFrame({{0, 0}, {s.width, s.height}});
    EXPECT_TRUE(waitFor([&] { return eval("window.innerWidth + 'x' + window.innerHeight") == s.inner; }))
        << s.inner << ": " << eval("window.innerWidth + 'x' + window.innerHeight");
  }
}

// A view that is not opaque has no page background of the engine's: where the page paints
// nothing, what lies under the view shows; an opaque one shows the engine's white there.
TEST_F(WebViewTest, AViewThatIsNotOpaqueLeavesWhatThePagePaintsNotTransparent) {
  const std::string page = "<body style='margin:0'>"
                           "<div style='position:absolute;left:0;top:0;width:50px;height:40px;background:#f00'></div></body>";
  view->opaque = false;
  ASSERT_TRUE(loadHTML(page));
  uikit::GraphicsContext see(200, 120);
  see.fillRect({{0, 0}, {200, 120}}, uikit::Color::colorWithRedGreenBlueAlpha(0, 1, 0, 1));
  view->renderInContext(see);
  EXPECT_EQ(see.pixelAt(10, 10), (std::array<std::uint8_t, 4>{255, 0, 0, 255}));
  EXPECT_EQ(see.pixelAt(150, 100), (std::array<std::uint8_t, 4>{0, 255, 0, 255}));

  view->opaque = true;
  ASSERT_TRUE(loadHTML(page));
  uikit::GraphicsContext white(200, 120);
  view->renderInContext(white);
  EXPECT_EQ(white.pixelAt(150, 100), (std::array<std::uint8_t, 4>{255, 255, 255, 255}));
}

// A page that never answers: evaluation returns empty at its bound, the watchdog ends
// the page, the owner hears of it, and the view loads again.
TEST_F(WebViewTest, APageThatLoopsForeverIsEndedAndTheViewLoadsAgain) {
  WebViewLimits::current().maxRunSeconds = 0.2;
  ASSERT_TRUE(loadHTML("<body><script>var ready = 'yes';</script></body>"));
  eval("setTimeout(function () { while (true) {} }, 0)");
  dispatch::RunLoop::main().runUntil([] { return false; }, 0.1);
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("ready"), "");
  ASSERT_TRUE(waitFor([&] { return recorder->terminated == 1; }, 15));
  ASSERT_TRUE(loadHTML("<body><script>var again = 'yes';</script></body>"));
  EXPECT_EQ(recorder->events.back(), "finish");
  EXPECT_EQ(eval("again"), "yes");

  // While it loads, an ended process fails the load.
  recorder->events.clear();
  view->loadHTMLStringBaseURL("<body><script>while (true) {}</script></body>", net::URL::fromString("https://ads.example/hang"));
  ASSERT_TRUE(waitEnd(15));
  EXPECT_EQ(recorder->events.back(), "fail");
  EXPECT_EQ(recorder->lastError->code, kErrorWebProcessTerminated);
  EXPECT_EQ(*recorder->lastError->userInfo.at(kURLErrorKey).asString(), "https://ads.example/hang");
}

// A page that eats memory is ended at the engine's bound (or by the watchdog when it stops
// answering first), never by the host running out; the view loads again.
TEST_F(WebViewTest, APageThatEatsMemoryIsEnded) {
  ASSERT_TRUE(loadHTML("<body><script>var hoard = [];"
                       "setTimeout(function grow() {"
                       "  for (var i = 0; i < 16; i++) hoard.push(new Array(1 << 20).fill(hoard.length + 0.5));"
                       "  setTimeout(grow, 0);"
                       "}, 0);</script></body>"));
  ASSERT_TRUE(waitFor([&] { return recorder->terminated == 1; }, 60));
  EXPECT_NE(view->consoleMessages().back().find("the page's web process ended"), std::string::npos);
  ASSERT_TRUE(loadHTML("<body><script>var small = 'yes';</script></body>"));
  EXPECT_EQ(eval("small"), "yes");
}

// The highest resident size a process reached, read from /proc every millisecond while
// it lives (at most 60 s): VmHWM is the kernel's own high-water mark.
class PeakResident {
 public:
  explicit PeakResident(int pid) : thread_([this, pid] { watch(pid); }) {}
  ~PeakResident() {
    if (thread_.joinable()) thread_.join();
  }
  // Waits until the process is gone; its peak in MiB.
  double peakMegabytes() {
    if (thread_.joinable()) thread_.join();
    return static_cast<double>(peakKiB_) / 1024;
  }

 private:
  void watch(int pid) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    while (std::chrono::steady_clock::now() < until) {
      std::ifstream in(path);
      std::string line;
      bool live = false;
      while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) != 0) continue;
        live = true;
        peakKiB_ = std::max(peakKiB_, std::stoll(line.substr(6)));
      }
      if (!live) return;  // gone, or a zombie whose memory is freed
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  long long peakKiB_ = 0;
  std::thread thread_;
};

// A page allocating as fast as it can is ended before its process reaches twice its
// bound, loaded (the owner hears the process ended) and while it loads (the load fails);
// the view loads again afterwards.
TEST_F(WebViewTest, APageAllocatingInATightLoopIsEndedBeforeTwiceItsBound) {
  WebViewLimits::current().memoryLimitMegabytes = 256;
  ASSERT_TRUE(loadHTML("<body><script>var ready = 'yes';</script></body>"));
  ASSERT_TRUE(waitFor([&] { return view->webProcessIdentifier() != 0; }));
  {
    PeakResident peak(view->webProcessIdentifier());
    eval("setTimeout(function () { var k = []; for (;;) k.push(new Array(1 << 20).fill(7)); }, 0)");
    ASSERT_TRUE(waitFor([&] { return recorder->terminated == 1; }, 60));
    EXPECT_LT(peak.peakMegabytes(), 2 * 256);
    EXPECT_GT(peak.peakMegabytes(), 0.5 * 256) << "the page did allocate";
  }
  // Over its bound; on a machine so slow that the page needs over 3 s to reach it, the
  // watchdog ends it first, which holds the bound as well.
  const std::string why = view->consoleMessages().back();
  EXPECT_TRUE(why.find("it went over its memory bound") != std::string::npos ||
              why.find("it stopped answering") != std::string::npos)
      << why;

  recorder->events.clear();
  view->loadHTMLStringBaseURL("<body><script>var k = []; for (;;) k.push(new Array(1 << 20).fill(7));</script></body>",
                              net::URL::fromString("https://ads.example/hoard"));
  ASSERT_TRUE(waitFor([&] { return view->webProcessIdentifier() != 0 || recorder->ended(); }, 60));
  {
    PeakResident peak(view->webProcessIdentifier());
    ASSERT_TRUE(waitEnd());
    EXPECT_LT(peak.peakMegabytes(), 2 * 256);
  }
  EXPECT_EQ(recorder->events.back(), "fail");
  EXPECT_EQ(recorder->lastError->code, kErrorWebProcessTerminated);
  EXPECT_EQ(recorder->terminated, 1);

  ASSERT_TRUE(loadHTML("<body><script>var small = 'yes';</script></body>"));
  EXPECT_EQ(eval("small"), "yes");
}

TEST_F(WebViewTest, DocumentsOverTheSizeBoundFail) {
  WebViewLimits::current().maxDocumentBytes = 1000;
  view->loadHTMLStringBaseURL(std::string(2000, 'x'), net::URL::fromString("https://ads.example/big"));
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(recorder->events.back(), "fail");
  EXPECT_EQ(recorder->lastError->code, kErrorDocumentTooLarge);
}

struct ServedWebViewTest : WebViewTest {
  // Before the server, so the server (and its threads that write them) goes first.
  std::vector<std::string> seen;  // path and Referer of each request
  std::string registryReferer;    // the Referer a protocol of the registry was given
  std::mutex mu;
  net::testing::TestServer server;
  int protocolToken = 0;
  void SetUp() override {
    WebViewTest::SetUp();
    auto record = [this](const httplib::Request& req) {
      std::lock_guard lock(mu);
      seen.push_back(req.path + " " + req.get_header_value("Referer"));
    };
    server.server().Get("/page.html", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_content(R"(<html><head><script src="/a.js"></script><script>order.push('inline');</script>
          <script src="b.js"></script></head><body>page<img id="pic" src="/pic.png">
          <iframe id="frame" src="/frame.html"></iframe></body></html>)",
                      "text/html");
    });
    server.server().Get("/a.js", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_content("var order = ['a']; var ua = '" + req.get_header_value("User-Agent") + "';",
                      "application/javascript");
    });
    server.server().Get("/b.js", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("order.push('b');", "application/javascript");
    });
    server.server().Get("/pic.png", [](const httplib::Request&, httplib::Response& res) {
      // A 1x1 PNG.
      static const unsigned char png[] = {
          0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
          0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00,
          0x0D, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF,
          0x89, 0x99, 0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
      res.set_content(std::string(reinterpret_cast<const char*>(png), sizeof png), "image/png");
    });
    server.server().Get("/frame.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<body><script>var inFrame = 'framed';</script></body>", "text/html");
    });
    server.server().Get("/data.json", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_content("{\"n\": 5}", "application/json");
    });
    // "Café crème" in Latin-1, declared by the answer or by the page's own meta.
    server.server().Get("/latin1-header.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<body><p id=t>Caf\xE9 cr\xE8me</p></body>", "text/html; charset=iso-8859-1");
    });
    server.server().Get("/latin1-meta.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<head><meta charset=\"iso-8859-1\"></head><body><p id=t>Caf\xE9 cr\xE8me</p></body>", "text/html");
    });
    server.server().Get("/missing.html", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("nope", "text/html");
    });
    server.start();
  }
  void TearDown() override {
    if (protocolToken) net::URLProtocolRegistry::unregisterClass(protocolToken);
    WebViewTest::TearDown();
  }
};

// Every request of the page goes through platform/net with a browser's headers; the page
// keeps its own URL and origin.
TEST_F(ServedWebViewTest, LoadsPagesAndTheirResourcesThroughOurStack) {
  // A protocol of ours answers one host that exists nowhere.
  struct Answer : net::URLProtocol {
    std::mutex* mu;
    std::string* referer;
    void startLoading(const net::URLRequest& r, std::shared_ptr<net::URLProtocolClient> client) override {
      {
        std::lock_guard lock(*mu);
        *referer = r.headers.get("Referer").value_or("none");
      }
      auto response = std::make_shared<net::URLResponse>();
      response->url = r.url;
      response->statusCode = 200;
      response->mimeType = "application/javascript";
      client->protocolDidReceiveResponse(response);
      const std::string body = "var fromRegistry = 'registry';";
      client->protocolDidLoadData(net::Bytes(body.begin(), body.end()));
      client->protocolDidFinishLoading();
    }
  };
  protocolToken = net::URLProtocolRegistry::registerClass(
      {[](const net::URLRequest& r) { return r.url.host() == "registry.invalid"; },
       [this] {
         auto answer = std::make_shared<Answer>();
         answer->mu = &mu;
         answer->referer = &registryReferer;
         return answer;
       }});
  recorder->events.clear();
  const std::string page = server.url("/page.html");
  view->loadRequest(net::URLRequest(*net::URL::fromString(page)));
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(recorder->questions.at(0).userAgent, WebView::defaultUserAgent());
  EXPECT_EQ(eval("order.join(',')"), "a,inline,b");
  EXPECT_EQ(eval("ua"), WebView::defaultUserAgent());
  EXPECT_EQ(eval("location.href + ' ' + location.origin"), page + " " + server.url(""));
  EXPECT_EQ(eval("document.getElementById('pic').naturalWidth"), "1");
  EXPECT_EQ(view->request()->url.absoluteString(), page);

  eval("var got = []; fetch('/data.json').then(r => r.json()).then(j => { got.push('fetch' + j.n); });"
       "var x = new XMLHttpRequest(); x.open('GET', '/data.json'); x.onload = () => { got.push('xhr' + JSON.parse(x.responseText).n); }; x.send();"
       "var s = document.createElement('script'); s.src = 'http://registry.invalid/x.js'; document.head.appendChild(s);");
  ASSERT_TRUE(waitFor([&] { return eval("got.length == 2 && typeof fromRegistry") == "string"; }));
  EXPECT_EQ(eval("got.sort().join(' ')"), "fetch5 xhr5");
  EXPECT_EQ(eval("fromRegistry"), "registry");
  std::lock_guard lock(mu);
  ASSERT_GE(seen.size(), 4u);
  EXPECT_EQ(seen[0], "/page.html ");
  EXPECT_EQ(seen[1], "/a.js " + page);
  EXPECT_EQ(seen[2], "/data.json " + page);
  // Another origin hears of the whole page too, as from the phone's web view.
  EXPECT_EQ(registryReferer, page);
}

// A document is read by the charset its answer or its own <meta> declares: the engine is
// handed the text in UTF-8 and keeps to it.
TEST_F(ServedWebViewTest, DocumentsAreReadByTheCharsetTheyDeclare) {
  for (const char* path : {"/latin1-header.html", "/latin1-meta.html"}) {
    SCOPED_TRACE(path);
    recorder->events.clear();
    view->loadRequest(net::URLRequest(*net::URL::fromString(server.url(path))));
    ASSERT_TRUE(waitEnd());
    ASSERT_EQ(recorder->events.back(), "finish");
    EXPECT_EQ(eval("document.getElementById('t').textContent"), "Caf\xC3\xA9 cr\xC3\xA8me");
  }
}

TEST_F(ServedWebViewTest, APageLeavingForAnotherIsLoadedByUsWithItsTrueURL) {
  recorder->events.clear();
  view->loadRequest(net::URLRequest(*net::URL::fromString(server.url("/frame.html"))));
  ASSERT_TRUE(waitEnd());
  recorder->events.clear();
  eval("setTimeout(function () { location.href = '/page.html'; }, 0)");
  ASSERT_TRUE(waitFor([&] { return recorder->ended(); }));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(view->documentURL(), server.url("/page.html"));
  EXPECT_EQ(eval("location.href"), server.url("/page.html"));
  EXPECT_EQ(eval("order.join(',')"), "a,inline,b");
  EXPECT_TRUE(view->canGoBack());
}

TEST_F(ServedWebViewTest, FailuresCarryTheFailingURL) {
  const std::string missing = server.url("/missing.html");
  view->loadRequest(net::URLRequest(*net::URL::fromString(missing)));
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(recorder->events.back(), "fail");
  EXPECT_EQ(*recorder->lastError->userInfo.at(kURLErrorKey).asString(), missing);

  recorder->events.clear();
  const std::string refused = "http://127.0.0.1:1/nothing.html";
  view->loadRequest(net::URLRequest(*net::URL::fromString(refused)));
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(recorder->events.back(), "fail");
  EXPECT_EQ(*recorder->lastError->userInfo.at(kURLErrorKey).asString(), refused);
}

TEST_F(ServedWebViewTest, StoppedAndSupersededLoadsReportNothing) {
  view->loadRequest(net::URLRequest(*net::URL::fromString(server.url("/page.html"))));
  view->stopLoading();
  EXPECT_FALSE(view->isLoading());
  view->loadRequest(net::URLRequest(*net::URL::fromString(server.url("/page.html"))));
  view->loadHTMLStringBaseURL("<body>x</body>", std::nullopt);
  ASSERT_TRUE(waitEnd());
  for (int i = 0; i < 20; ++i) dispatch::RunLoop::main().runOnce(0.01);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(view->documentURL(), "about:blank");
}


using test_pictures::redPixelPNG;

// Pages keep the browser's same-origin rule although every request of theirs comes
// through our scheme: a page reads its own origin, and another origin only where that
// origin's answer allows it (credentials only where it allows credentials). Pictures and
// scripts of any origin still load; one of another origin drawn into a canvas without
// CORS makes the canvas unreadable, one of the page's own origin does not.
struct SameOriginTest : ServedWebViewTest {
  // Another local service: it sends CORS headers only on the paths that say so.
  net::testing::TestServer other;
  std::vector<std::string> otherSeen;  // method, path and Origin of each request it got
  void SetUp() override {
    ServedWebViewTest::SetUp();
    auto record = [this](const httplib::Request& req) {
      std::lock_guard lock(mu);
      otherSeen.push_back(req.method + " " + req.path + " " + req.get_header_value("Origin"));
    };
    other.server().Get("/secret.json", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_content("{\"secret\": 1}", "application/json");
    });
    other.server().Get("/star.json", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_header("Access-Control-Allow-Origin", "*");
      res.set_content("{\"star\": 2}", "application/json");
    });
    other.server().Get("/echo.json", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.set_header("Access-Control-Allow-Origin", req.get_header_value("Origin"));
      res.set_header("Access-Control-Allow-Credentials", "true");
      res.set_content("{\"echo\": 3}", "application/json");
    });
    other.server().Get("/red.png", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      if (req.has_header("Origin")) res.set_header("Access-Control-Allow-Origin", "*");
      res.set_content(redPixelPNG(), "image/png");
    });
    // PUT with a header of the page's own: /put.json never agrees to it, /agreed.json does.
    for (const char* path : {"/put.json", "/agreed.json"}) {
      other.server().Put(path, [record](const httplib::Request& req, httplib::Response& res) {
        record(req);
        res.set_header("Access-Control-Allow-Origin", "*");
        res.set_content("{\"put\": \"" + req.body + "\"}", "application/json");
      });
    }
    other.server().Options("/put.json", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.status = 204;
    });
    other.server().Options("/agreed.json", [record](const httplib::Request& req, httplib::Response& res) {
      record(req);
      res.status = 204;
      res.set_header("Access-Control-Allow-Origin", req.get_header_value("Origin"));
      res.set_header("Access-Control-Allow-Methods", "GET, " + req.get_header_value("Access-Control-Request-Method"));
      res.set_header("Access-Control-Allow-Headers", req.get_header_value("Access-Control-Request-Headers"));
    });
    other.server().Get("/lib.js", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("var otherScript = 'ran';", "application/javascript");
    });
    other.start();
    server.server().Get("/red.png", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(redPixelPNG(), "image/png");
    });
    // A frame of the page's origin reads as its own document does, and tells its parent.
    server.server().Get("/reader.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"(<script>
          var other = decodeURIComponent(location.search.slice(7));
          function read(url) { return fetch(url).then(function (r) { return r.text(); }, function () { return 'refused'; }); }
          Promise.all([read('/data.json'), read(other + '/secret.json'), read(other + '/star.json')]).then(function (got) {
            parent.postMessage({frameOwn: got[0], frameOther: got[1], frameStar: got[2]}, '*');
          });
        </script>)",
                      "text/html");
    });
    // The page's own server sends it on to the other service.
    server.server().Get("/bounce", [this](const httplib::Request&, httplib::Response& res) {
      res.set_redirect(other.url("/secret.json"));
    });
    server.server().Post("/submit", [this](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard lock(mu);
        seen.push_back("POST /submit " + req.body);
      }
      res.set_content("{\"posted\": true}", "application/json");
    });
    server.server().Options("/submit", [this](const httplib::Request&, httplib::Response& res) {
      {
        std::lock_guard lock(mu);
        seen.push_back("OPTIONS /submit");
      }
      res.status = 405;
    });
  }
};

TEST_F(SameOriginTest, PagesReadOnlyWhatTheirOriginMayRead) {
  const std::string page = server.url("/page.html");
  view->loadRequest(net::URLRequest(*net::URL::fromString(page)));
  ASSERT_TRUE(waitEnd());
  ASSERT_EQ(recorder->events.back(), "finish");
  const std::string o = other.url("");
  eval(R"(
    var results = {};
    var pending = 0;
    function note(name, p) {
      pending++;
      p.then(function (v) { results[name] = v; }, function (e) { results[name] = 'refused'; })
       .then(function () { pending--; });
    }
    function viaFetch(url, init) { return fetch(url, init).then(function (r) { return r.text(); }); }
    function viaXHR(url, withCredentials) {
      return new Promise(function (resolve, reject) {
        var x = new XMLHttpRequest();
        x.open('GET', url);
        x.withCredentials = !!withCredentials;
        x.onload = function () { resolve(x.responseText); };
        x.onerror = function () { reject(new Error('xhr')); };
        x.send();
      });
    }
    function canvasRead(src, crossOrigin) {
      return new Promise(function (resolve, reject) {
        var img = new Image();
        if (crossOrigin) img.crossOrigin = crossOrigin;
        img.onload = function () {
          var c = document.createElement('canvas');
          c.width = c.height = 1;
          var g = c.getContext('2d');
          g.drawImage(img, 0, 0);
          try { resolve('pixel ' + Array.prototype.join.call(g.getImageData(0, 0, 1, 1).data, ',')); }
          catch (e) { resolve('tainted ' + e.name); }
        };
        img.onerror = function () { reject(new Error('img')); };
        img.src = src;
      });
    }
    var other = ')" + o + R"(';
    note('ownFetch', viaFetch('/data.json'));
    note('ownXHR', viaXHR('/data.json'));
    note('ownFetchWithCredentials', viaFetch('/data.json', {credentials: 'include'}));
    note('ownPostJSON', viaFetch('/submit', {method: 'POST', headers: {'Content-Type': 'application/json', 'X-Ours': '1'}, body: '{"a":1}'}));
    note('otherFetch', viaFetch(other + '/secret.json'));
    note('otherXHR', viaXHR(other + '/secret.json'));
    note('otherStar', viaFetch(other + '/star.json'));
    note('otherStarXHR', viaXHR(other + '/star.json'));
    note('otherStarWithCredentials', viaFetch(other + '/star.json', {credentials: 'include'}));
    note('otherEchoWithCredentials', viaFetch(other + '/echo.json', {credentials: 'include'}));
    note('otherEchoXHRWithCredentials', viaXHR(other + '/echo.json', true));
    note('otherPut', viaFetch(other + '/put.json', {method: 'PUT', headers: {'X-Custom': '1'}, body: 'x'}));
    note('otherPutAgreed', viaFetch(other + '/agreed.json', {method: 'PUT', headers: {'X-Custom': '1'}, body: 'y'}));
    note('ownRedirectedToOther', viaFetch('/bounce'));
    note('ownCanvas', canvasRead('/red.png'));
    note('otherCanvas', canvasRead(other + '/red.png'));
    note('otherCanvasCORS', canvasRead(other + '/red.png', 'anonymous'));
    var s = document.createElement('script'); s.src = other + '/lib.js'; document.head.appendChild(s);
    pending++;
    window.addEventListener('message', function (e) {
      for (var k in e.data) results[k] = e.data[k];
      pending--;
    });
    var f = document.createElement('iframe'); f.src = '/reader.html?other=' + encodeURIComponent(other);
    document.body.appendChild(f);
  )");
  ASSERT_TRUE(waitFor([&] { return eval("pending === 0 && typeof otherScript") == "string"; }, 20))
      << eval("JSON.stringify(results)");
  EXPECT_EQ(eval("results.ownFetch"), "{\"n\": 5}");
  EXPECT_EQ(eval("results.ownXHR"), "{\"n\": 5}");
  EXPECT_EQ(eval("results.ownFetchWithCredentials"), "{\"n\": 5}");
  EXPECT_EQ(eval("results.ownPostJSON"), "{\"posted\": true}");
  EXPECT_EQ(eval("results.otherFetch"), "refused");
  EXPECT_EQ(eval("results.otherXHR"), "refused");
  EXPECT_EQ(eval("results.otherStar"), "{\"star\": 2}");
  EXPECT_EQ(eval("results.otherStarXHR"), "{\"star\": 2}");
  EXPECT_EQ(eval("results.otherStarWithCredentials"), "refused");
  EXPECT_EQ(eval("results.otherEchoWithCredentials"), "{\"echo\": 3}");
  EXPECT_EQ(eval("results.otherEchoXHRWithCredentials"), "{\"echo\": 3}");
  EXPECT_EQ(eval("results.ownCanvas"), "pixel 255,0,0,255");
  EXPECT_EQ(eval("results.otherCanvas"), "tainted SecurityError");
  EXPECT_EQ(eval("results.otherCanvasCORS"), "pixel 255,0,0,255");
  EXPECT_EQ(eval("otherScript"), "ran");
  EXPECT_EQ(eval("results.frameOwn"), "{\"n\": 5}");
  EXPECT_EQ(eval("results.frameOther"), "refused");
  EXPECT_EQ(eval("results.frameStar"), "{\"star\": 2}");
  EXPECT_EQ(eval("results.otherPut"), "refused");
  EXPECT_EQ(eval("results.otherPutAgreed"), "{\"put\": \"y\"}");
  EXPECT_EQ(eval("results.ownRedirectedToOther"), "refused");
  std::lock_guard lock(mu);
  // A request another origin did not agree to never reaches it: only its preflight does.
  const std::string pageOrigin = server.url("");
  EXPECT_NE(std::find(otherSeen.begin(), otherSeen.end(), "OPTIONS /put.json " + pageOrigin), otherSeen.end());
  EXPECT_EQ(std::find(otherSeen.begin(), otherSeen.end(), "PUT /put.json " + pageOrigin), otherSeen.end());
  EXPECT_NE(std::find(otherSeen.begin(), otherSeen.end(), "OPTIONS /agreed.json " + pageOrigin), otherSeen.end());
  EXPECT_NE(std::find(otherSeen.begin(), otherSeen.end(), "PUT /agreed.json " + pageOrigin), otherSeen.end());
  // The other service hears the page's true origin; a same-origin request never costs
  // the page's own server a preflight.
  EXPECT_NE(std::find(otherSeen.begin(), otherSeen.end(), "GET /echo.json " + server.url("")), otherSeen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), "POST /submit {\"a\":1}"), seen.end());
  EXPECT_EQ(std::find(seen.begin(), seen.end(), "OPTIONS /submit"), seen.end());
}

}  // namespace
}  // namespace webkit
