// Bodies a page's resources bring: streamed to the engine as they arrive, and cut at their
// bound as a network error in the page.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/dispatch/run_loop.h"
#include "platform/net/test_server.h"
#include "platform/webkit/page_answer_test_support.h"
#include "platform/webkit/web_view.h"

namespace webkit {
namespace {

// A page taking in two endless bodies keeps its process busy, and on a loaded machine (or
// under ThreadSanitizer, which slows our side of a 32 MiB stream many times) that process
// may wait for a core long enough to leave the watchdog's ping unanswered for its usual
// 3 s, and be ended as a hung page. No page here hangs: the watchdog only bounds a fault,
// so it is generous. This program runs apart from the watchdog's own tests, since the
// engine reads the bound once, when this program's engine starts.
const bool kLaxWatchdog = [] {
  webkit::WebViewLimits::current().watchdogSeconds = 60;
  return true;
}();

struct BodiesRecorder : WebViewDelegate {
  std::vector<std::string> events;
  std::optional<foundation::Error> error;
  void webViewDidStartLoad(WebView&) override { events.push_back("start"); }
  void webViewDidFinishLoad(WebView&) override { events.push_back("finish"); }
  void webViewDidFailLoadWithError(WebView&, const foundation::Error& e) override {
    events.push_back("fail");
    error = e;
  }
  bool ended() const { return !events.empty() && (events.back() == "finish" || events.back() == "fail"); }
};

// What one endpoint of the server saw of its client.
struct Feed {
  std::atomic<std::uint64_t> written{0};
  std::atomic<int> requests{0};
  std::atomic<bool> cut{false};  // a write failed: the client hung up
};

// A 24-bit picture of `width` x `height`, each row blue to red, as an uncompressed BMP:
// megabytes a browser shows as they are.
std::string bmp(int width, int height) {
  const int row = (width * 3 + 3) & ~3;
  const std::uint32_t size = 54 + static_cast<std::uint32_t>(row * height);
  std::string out(size, '\0');
  auto put = [&out](std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
  };
  out[0] = 'B';
  out[1] = 'M';
  put(2, size, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, static_cast<std::uint32_t>(width), 4);
  put(22, static_cast<std::uint32_t>(height), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::size_t at = 54 + static_cast<std::size_t>(y * row + x * 3);
      out[at] = static_cast<char>(255 - x * 255 / width);  // blue
      out[at + 2] = static_cast<char>(x * 255 / width);    // red
    }
  return out;
}

struct BodiesWebViewTest : ::testing::Test {
  std::shared_ptr<WebView> view = WebView::create({{0, 0}, {200, 120}});
  std::shared_ptr<BodiesRecorder> recorder = std::make_shared<BodiesRecorder>();
  std::shared_ptr<Feed> endless = std::make_shared<Feed>();
  std::shared_ptr<net::testing::Gate> held = std::make_shared<net::testing::Gate>();
  std::shared_ptr<const std::string> picture = std::make_shared<const std::string>(bmp(1024, 1024));
  net::testing::TestServer server;  // last: it stops before what its handlers use goes

  void SetUp() override {
    view->setDelegate(recorder);
    auto& s = server.server();
    s.Get("/page.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(R"(<html><body>
          <img id="endless" src="/endless.bin" onload="endlessState = 'load'" onerror="endlessState = 'error'">
          <img id="big" src="/big.bmp" onload="bigState = 'load ' + this.naturalWidth + 'x' + this.naturalHeight"
               onerror="bigState = 'error'">
          <script>
            var endlessState = 'waiting', bigState = 'waiting', fetchState = 'waiting', ticks = 0;
            fetch('/endless.bin').then(r => r.arrayBuffer()).then(b => { fetchState = 'got ' + b.byteLength; },
                                                                    e => { fetchState = e.name; });
            setInterval(() => { ticks++; }, 20);
          </script></body></html>)",
                      "text/html");
    });
    s.Get("/endless.bin", [feed = endless](const httplib::Request&, httplib::Response& res) {
      ++feed->requests;
      res.set_chunked_content_provider("application/octet-stream", [feed](std::size_t, httplib::DataSink& sink) {
        static const std::string piece(64 << 10, 'x');
        // Endless for the client: it stops only when the client hangs up, or long after
        // the client should have (the test fails then), however slowly the client reads.
        for (std::uint64_t sent = 0; sent < (std::uint64_t{256} << 20); sent += piece.size()) {
          if (!sink.write(piece.data(), piece.size())) {
            feed->cut = true;
            return false;
          }
          feed->written += piece.size();
        }
        return false;
      });
    });
    s.Get("/big.bmp", [picture = picture](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("image/bmp", [picture](std::size_t offset, httplib::DataSink& sink) {
        const std::size_t n = std::min<std::size_t>(100000, picture->size() - offset);
        if (!sink.write(picture->data() + offset, n)) return false;
        if (offset + n == picture->size()) sink.done();
        return true;
      });
    });
    s.Get("/held.bin", [gate = held](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/octet-stream", [gate](std::size_t offset, httplib::DataSink& sink) {
        static const std::string piece(4096, 'h');
        if (offset == 0) return sink.write(piece.data(), piece.size());
        gate->pass();  // the rest only once the test opens the gate
        sink.write(piece.data(), piece.size());
        sink.done();
        return true;
      });
    });
    s.Get("/blank.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<body>blank</body>", "text/html");
    });
    server.start();
  }
  void TearDown() override { held->setOpen(true); }

  bool load(const std::string& path) {
    recorder->events.clear();
    view->loadRequest(net::URLRequest(*net::URL::fromString(server.url(path))));
    return waitFor([&] { return recorder->ended(); }, 60);
  }
  bool waitFor(const std::function<bool()>& done, double seconds = 20) {
    return dispatch::RunLoop::main().runUntil(done, seconds);
  }
  // The page's answer, however late a busy machine brings it.
  std::string eval(const std::string& script) { return webkit::testing::answerOf(*view, script); }
  // Polls what the server saw: its writes fail as soon as the client has hung up; the
  // bound is against a client that never does.
  static bool waitOnServer(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
  }
};

// An endless picture and an endless fetch fail in the page as network errors do, once
// their bound is met, while the page goes on and a large picture beside them shows.
TEST_F(BodiesWebViewTest, AnEndlessResourceFailsInThePageWhileThePageGoesOn) {
  ASSERT_TRUE(load("/page.html"));
  EXPECT_EQ(recorder->events.back(), "finish");
  ASSERT_TRUE(waitFor([&] { return eval("endlessState") != "waiting" && eval("fetchState") != "waiting"; }));
  EXPECT_EQ(eval("endlessState"), "error");
  EXPECT_EQ(eval("fetchState"), "TypeError");
  EXPECT_EQ(eval("bigState"), "load 1024x1024");
  const std::string ticks = eval("ticks");
  ASSERT_TRUE(waitFor([&] { return eval("ticks") != ticks; }));
  // Both transfers were cut, not read to the server's own end.
  EXPECT_TRUE(waitOnServer([&] { return endless->cut.load(); }));
  EXPECT_GE(endless->requests.load(), 1);
  EXPECT_LT(endless->written.load(), std::uint64_t{200} << 20);
}

// The page reads the first piece of a body while the rest is still on its way.
TEST_F(BodiesWebViewTest, ABodyReachesThePageAsItArrives) {
  ASSERT_TRUE(load("/blank.html"));
  EXPECT_EQ(recorder->events.back(), "finish");
  eval("var first = 0, total = 0;"
       "fetch('/held.bin').then(async r => { const reader = r.body.getReader();"
       "  for (;;) { const { done, value } = await reader.read(); if (done) break;"
       "    if (!first) first = value.length; total += value.length; } total = 'all ' + total; });");
  ASSERT_TRUE(waitFor([&] { return held->arrivals() >= 1; }));
  ASSERT_TRUE(waitFor([&] { return eval("first") != "0"; }));
  EXPECT_EQ(eval("first"), "4096");
  held->setOpen(true);
  ASSERT_TRUE(waitFor([&] { return eval("total") == "all 8192"; }));
}

// An endless document fails as too large, as one over the bound always did, and its
// transfer is cut.
TEST_F(BodiesWebViewTest, AnEndlessDocumentFailsAsTooLarge) {
  ASSERT_TRUE(load("/endless.bin"));
  EXPECT_EQ(recorder->events.back(), "fail");
  ASSERT_TRUE(recorder->error);
  EXPECT_EQ(recorder->error->code, kErrorDocumentTooLarge);
  EXPECT_TRUE(waitOnServer([&] { return endless->cut.load(); }));
  EXPECT_LT(endless->written.load(), std::uint64_t{64} << 20);
}

}  // namespace
}  // namespace webkit
