#include "platform/webkit/web_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/net/test_server.h"
#include "platform/uikit/graphics_context.h"

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
    return scheme != "qomb" && scheme != "mailto";
  };
  std::optional<foundation::Error> lastError;

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
  bool ended() const { return !events.empty() && (events.back() == "finish" || events.back() == "fail"); }
};

struct WebViewTest : ::testing::Test {
  std::shared_ptr<WebView> view = WebView::create({{0, 0}, {100, 60}});
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  void SetUp() override { view->setDelegate(recorder); }
  void TearDown() override { WebViewLimits::current() = WebViewLimits{}; }
  bool loadHTML(const std::string& html, const std::string& base = "https://ads.example/page") {
    recorder->events.clear();
    view->loadHTMLStringBaseURL(html, net::URL::fromString(base));
    return waitEnd();
  }
  bool waitEnd(double seconds = 10) {
    return dispatch::RunLoop::main().runUntil([&] { return recorder->ended(); }, seconds);
  }
  std::vector<std::string> urlsAsked() const {
    std::vector<std::string> out;
    for (auto& q : recorder->questions) out.push_back(q.url);
    return out;
  }
};

TEST_F(WebViewTest, ScriptNavigationsReachTheDelegateOneAtATimeInOrderWithTheirType) {
  ASSERT_TRUE(loadHTML(R"(<html><body>hi<script>
      location.href = 'qomb://x/first?a=1';
      window.location.href = 'QOMB://x/second';
      document.location = 'mailto:someone@example.com';
      var after = 'still here';
    </script></body></html>)"));
  ASSERT_EQ(recorder->questions.size(), 4u);
  EXPECT_EQ(recorder->questions[0].url, "https://ads.example/page");
  EXPECT_EQ(recorder->questions[1].url, "qomb://x/first?a=1");
  EXPECT_EQ(recorder->questions[2].url, "QOMB://x/second");
  EXPECT_EQ(recorder->questions[3].url, "mailto:someone@example.com");
  for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(recorder->questions[i].type, NavigationType::Other);
  // A refused navigation leaves the document and its scripts as they were.
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("after"), "still here");
  EXPECT_EQ(view->documentURL(), "https://ads.example/page");
  EXPECT_FALSE(view->canGoBack());
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
}

TEST_F(WebViewTest, EvaluationNavigationsAreOfferedWhenTheTurnEnds) {
  ASSERT_TRUE(loadHTML("<body></body>"));
  recorder->questions.clear();
  view->stringByEvaluatingJavaScriptFromString(
      "for (var i = 0; i < 5; i++) location.href = 'qomb://h/m?i=' + i + '&s=' + encodeURIComponent('a b;c');");
  ASSERT_EQ(recorder->questions.size(), 5u);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(recorder->questions[static_cast<std::size_t>(i)].url,
              "qomb://h/m?i=" + std::to_string(i) + "&s=a%20b%3Bc");
}

TEST_F(WebViewTest, IllegalCharactersInScriptURLsAreEscapedAndRelativeURLsResolved) {
  ASSERT_TRUE(loadHTML("<body></body>", "https://ads.example/dir/page.html"));
  recorder->questions.clear();
  recorder->allow = [](const std::string&) { return false; };
  view->stringByEvaluatingJavaScriptFromString("location.href = 'qomb://h/log?string=a b\\u00e9'; location.href='next.html#x';");
  ASSERT_EQ(recorder->questions.size(), 2u);
  EXPECT_EQ(recorder->questions[0].url, "qomb://h/log?string=a%20b%C3%A9");
  EXPECT_EQ(recorder->questions[1].url, "https://ads.example/dir/next.html#x");
}

TEST_F(WebViewTest, LinkTapsAndFormSubmitsCarryTheirNavigationTypes) {
  ASSERT_TRUE(loadHTML(R"(<body><a href="other.html">x</a><a href="tel:123">call</a>
      <form action="https://ads.example/submit" method="get"><input name="q" value="a b"></form></body>)"));
  recorder->questions.clear();
  recorder->allow = [](const std::string&) { return false; };
  ASSERT_TRUE(view->tapLink(1));
  ASSERT_TRUE(view->tapLink(0));
  ASSERT_TRUE(view->submitForm(0));
  EXPECT_FALSE(view->tapLink(7));
  ASSERT_EQ(recorder->questions.size(), 3u);
  EXPECT_EQ(recorder->questions[0].url, "tel:123");
  EXPECT_EQ(recorder->questions[0].type, NavigationType::LinkClicked);
  EXPECT_EQ(recorder->questions[1].url, "https://ads.example/other.html");
  EXPECT_EQ(recorder->questions[2].url, "https://ads.example/submit?q=a%20b");
  EXPECT_EQ(recorder->questions[2].type, NavigationType::FormSubmitted);
}

TEST_F(WebViewTest, AllowedNavigationReplacesTheDocumentAndBuildsHistory) {
  ASSERT_TRUE(loadHTML("<body><script>var which = 'first';</script></body>", "about:blank"));
  recorder->events.clear();
  view->loadHTMLStringBaseURL("<body><script>var which = 'second';</script></body>",
                              net::URL::fromString("https://ads.example/two"));
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("which"), "second");
  EXPECT_TRUE(view->canGoBack());
  recorder->events.clear();
  view->goBack();
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(recorder->questions.back().type, NavigationType::BackForward);
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("which"), "first");
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
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("v"), "1");
}

TEST_F(WebViewTest, EnvironmentEventsTimersAndEvaluationResults) {
  ASSERT_TRUE(loadHTML(R"(<body><script>
      var log = [];
      document.addEventListener('DOMContentLoaded', function () { log.push('dom:' + document.readyState); });
      window.onload = function () { log.push('load:' + document.readyState); };
      window.__defineGetter__('orientation', function () { return -90; });
      window.addEventListener('load', function () { setTimeout(function () { log.push('timer'); }, 0); });
    </script></body>)"));
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("log.slice(0, 2).join(',')"), "dom:interactive,load:complete");
  dispatch::RunLoop::main().runUntil([&] { return view->stringByEvaluatingJavaScriptFromString("log.length") == "3"; }, 5);
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("log[2]"), "timer");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("window.orientation"), "-90");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("undefined"), "");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("null"), "");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("throw new Error('x')"), "");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("location.host + location.pathname"), "ads.example/page");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("navigator.userAgent"), WebView::defaultUserAgent());
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("typeof __wv_navigate"), "undefined");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("typeof __wv_keepAttach"), "undefined");

  std::optional<std::string> async;
  view->evaluateJavaScript("1 + 2", [&](std::optional<std::string> r, std::optional<std::string>) { async = r; });
  EXPECT_FALSE(async);  // never before the caller returns
  dispatch::RunLoop::main().runUntil([&] { return async.has_value(); }, 5);
  EXPECT_EQ(async, "3");
}

TEST_F(WebViewTest, IntervalsRepeatUntilCleared) {
  ASSERT_TRUE(loadHTML("<body><script>var n = 0; var id = setInterval(function(){ if (++n == 3) clearInterval(id); }, 1);</script></body>"));
  dispatch::RunLoop::main().runUntil([&] { return view->stringByEvaluatingJavaScriptFromString("n") == "3"; }, 5);
  for (int i = 0; i < 5; ++i) dispatch::RunLoop::main().runOnce(0.01);
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("n"), "3");
}

TEST_F(WebViewTest, HostilePagesAreBounded) {
  WebViewLimits::current().maxRunSeconds = 0.05;
  WebViewLimits::current().maxHeapBytes = 8u << 20;
  ASSERT_TRUE(loadHTML("<body><script>while (true) { try { while (true) {} } catch (e) {} }</script>"
                       "<script>var reached = 'yes';</script></body>"));
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("reached"), "yes");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("var a = []; while (true) a.push(new Array(100000).join('x') + a.length); 1"), "");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("(function f(){ return f(); })()"), "");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("'alive'"), "alive");

  WebViewLimits::current().maxDocumentBytes = 1000;
  recorder->events.clear();
  view->loadHTMLStringBaseURL(std::string(2000, 'x'), net::URL::fromString("https://ads.example/big"));
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(recorder->events.back(), "fail");
  EXPECT_EQ(recorder->lastError->code, kErrorDocumentTooLarge);
}

// Heaps are made ahead and destroyed off the main thread; each document still gets its own
// URL, user agent and the limits in force when it commits, and what a page runs while its
// heap goes (finalizers) reaches nothing of the view.
TEST_F(WebViewTest, EachDocumentGetsAFreshHeapWithItsOwnURLAndTheLimitsInForce) {
  ASSERT_TRUE(loadHTML("<body><script>var mark = 'first';"
                       "Duktape.fin(window.kept = {}, function () { location.href = 'qomb://x/finalizer'; });"
                       "</script></body>",
                       "https://one.example/a"));
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("location.href"), "https://one.example/a");
  WebViewLimits::current().maxRunSeconds = 0.05;
  recorder->questions.clear();
  ASSERT_TRUE(loadHTML("<body><script>var t0 = Date.now(); while (true) {}</script>"
                       "<script>var spent = Date.now() - t0;</script></body>",
                       "https://two.example/b"));
  WebView::documentHeaps().waitUntilIdle();
  dispatch::RunLoop::main().drain();
  EXPECT_EQ(urlsAsked(), (std::vector<std::string>{"https://two.example/b"}));
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("typeof mark"), "undefined");
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("document.URL + ' ' + location.hostname"),
            "https://two.example/b two.example");
  // Stopped at the narrowed run time, not the default second.
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("spent < 500"), "true");
}

TEST_F(WebViewTest, DrawsBackgroundAndThenContent) {
  view->setBackgroundColor(uikit::Color{0, 0, 1, 1});
  ASSERT_TRUE(loadHTML("<body></body>"));
  auto countNonBackground = [&] {
    uikit::GraphicsContext ctx(100, 60);
    view->renderInContext(ctx);
    int n = 0;
    for (std::uint32_t y = 0; y < 60; ++y)
      for (std::uint32_t x = 0; x < 100; ++x) {
        auto p = ctx.pixelAt(x, y);
        if (!(p[0] == 0 && p[1] == 0 && p[2] == 255 && p[3] == 255)) ++n;
      }
    return n;
  };
  EXPECT_EQ(countNonBackground(), 0);
  EXPECT_FALSE(view->hasDrawnContent());
  view->stringByEvaluatingJavaScriptFromString("document.body.innerHTML = '<p>Buy now</p>';");
  EXPECT_TRUE(view->hasDrawnContent());
  EXPECT_GT(countNonBackground(), 0);
}

struct ServedWebViewTest : WebViewTest {
  net::testing::TestServer server;
  std::vector<std::string> referers;
  std::mutex mu;
  void SetUp() override {
    WebViewTest::SetUp();
    server.server().Get("/page.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html><head><script src=\"/a.js\"></script><script>order.push('inline');</script>"
                      "<script src=\"b.js\"></script></head><body>page</body></html>",
                      "text/html");
    });
    server.server().Get("/a.js", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard lock(mu);
      referers.push_back(req.get_header_value("Referer"));
      res.set_content("var order = ['a'];", "application/javascript");
    });
    server.server().Get("/b.js", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("order.push('b');", "application/javascript");
    });
    server.server().Get("/missing.html", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("nope", "text/html");
    });
    server.start();
  }
};

TEST_F(ServedWebViewTest, LoadsFromURLsRunningScriptsInDocumentOrder) {
  recorder->events.clear();
  view->loadRequest(net::URLRequest(*net::URL::fromString(server.url("/page.html"))));
  ASSERT_TRUE(waitEnd());
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(recorder->questions.at(0).userAgent, WebView::defaultUserAgent());
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("order.join(',')"), "a,inline,b");
  std::lock_guard lock(mu);
  EXPECT_EQ(referers, std::vector<std::string>{server.url("/page.html")});
  EXPECT_EQ(view->request()->url.absoluteString(), server.url("/page.html"));
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

}  // namespace
}  // namespace webkit
