// A page's requests take their turn as in a browser, and end with the page.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/run_loop.h"
#include "platform/net/connection.h"
#include "platform/net/test_server.h"
#include "platform/webkit/web_view.h"

namespace webkit {
namespace {

struct LoadRecorder : WebViewDelegate {
  std::vector<std::string> events;
  void webViewDidFinishLoad(WebView&) override { events.push_back("finish"); }
  void webViewDidFailLoadWithError(WebView&, const foundation::Error&) override { events.push_back("fail"); }
  bool ended() const { return !events.empty(); }
};

struct PageRequestsTest : ::testing::Test {
  net::testing::SilentServer silent;
  net::testing::TestServer server;

  void SetUp() override {
    auto& s = server.server();
    // A creative's burst: one request whose answer's body never ends, then thousands to a
    // host that takes connections and never answers.
    s.Get("/burst.html", [silent = silent.url("")](const httplib::Request& req, httplib::Response& res) {
      res.set_content("<body>burst<script>"
                      "fetch('" + silent + "/head/streams').then(r => r.text()).catch(() => {});"
                      "for (let i = 0; i < " + req.get_param_value("n") + "; i++)"
                      "  fetch('" + silent + "/' + i).catch(() => {});"
                      "</script></body>",
                      "text/html");
    });
    s.Get("/blank.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<body>blank</body>", "text/html");
    });
    server.start();
  }

  static bool waitFor(const std::function<bool()>& done, double seconds = 60) {
    return dispatch::RunLoop::main().runUntil(done, seconds);
  }
  static std::size_t inLine() {
    const auto state = net::pagesLineState();
    return state.running + state.waiting;
  }
  std::pair<std::shared_ptr<WebView>, std::shared_ptr<LoadRecorder>> open(const std::string& path) {
    auto view = WebView::create({{0, 0}, {200, 120}});
    auto recorder = std::make_shared<LoadRecorder>();
    view->setDelegate(recorder);
    view->loadRequest(net::URLRequest(*net::URL::fromString(server.url(path))));
    return {view, recorder};
  }
};

// Thousands of requests to a host that never answers hold six connections; another
// page loads meanwhile; and whichever way the page goes away, every one of its requests
// ends at once, those in line, those waiting for their answer's head and the one whose
// body streams.
TEST_F(PageRequestsTest, ABurstHoldsSixConnectionsAndEndsWithItsPage) {
  struct Case {
    const char* way;
    std::function<void(std::shared_ptr<WebView>&, PageRequestsTest&)> goAway;
  };
  const Case cases[] = {
      {"navigated",
       [](std::shared_ptr<WebView>& view, PageRequestsTest& test) {
         view->loadRequest(net::URLRequest(*net::URL::fromString(test.server.url("/blank.html"))));
       }},
      {"its view released", [](std::shared_ptr<WebView>& view, PageRequestsTest&) { view.reset(); }},
      {"its web process ended", [](std::shared_ptr<WebView>& view, PageRequestsTest&) { view->terminateWebProcess(); }},
  };
  constexpr int kBurst = 1000;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.way);
    // Pages of earlier tests went with their views, and their requests with them.
    ASSERT_TRUE(waitFor([] { return inLine() == 0; }, 20)) << inLine() << " in line";
    auto [view, recorder] = open("/burst.html?n=" + std::to_string(kBurst));
    ASSERT_TRUE(waitFor([&] { return inLine() == kBurst + 1; }));
    EXPECT_EQ(net::pagesLineState().running, net::kPageConnectionsPerHost);
    EXPECT_LE(silent.openConnections(), static_cast<int>(net::kPageConnectionsPerHost));
    ASSERT_TRUE(waitFor([&] { return recorder->ended(); }));
    EXPECT_EQ(recorder->events, std::vector<std::string>{"finish"});

    auto [other, otherRecorder] = open("/blank.html");
    ASSERT_TRUE(waitFor([&] { return otherRecorder->ended(); }));
    EXPECT_EQ(otherRecorder->events, std::vector<std::string>{"finish"});

    c.goAway(view, *this);
    ASSERT_TRUE(waitFor([&] { return inLine() == 0 && silent.openConnections() == 0; }, 20))
        << inLine() << " in line, " << silent.openConnections() << " open";
  }
}

}  // namespace
}  // namespace webkit
