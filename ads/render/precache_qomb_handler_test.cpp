// A creative's precached media: the download followed to its end in the page's reports,
// its stop, and a server-chosen file name that never leaves the download's own folder.
#include "ads/render/precache_qomb_handler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ads/render/ad_view.h"
#include "ads/services/test_support.h"
#include "platform/net/test_server.h"

namespace {

TEST(PrecacheFileName, AServersNameStaysInsideTheDownloadsFolder) {
  struct Case {
    const char* suggested;
    const char* used;
  } cases[] = {
      {"movie.mp4", "movie.mp4"}, {"../../etc/passwd", "passwd"}, {"a/b\\c.mp4", "c.mp4"},
      {"..", "precache"},         {".", "precache"},             {"", "precache"},
      {"dir/", "precache"},
  };
  for (const auto& c : cases) EXPECT_EQ(QMAPrecacheQOMBHandler::safeFileName(c.suggested), c.used) << c.suggested;
  net::URLResponse r;
  r.url = *net::URL::fromString("http://127.0.0.1/media/clip.mp4?x=1");
  EXPECT_EQ(QMAPrecacheQOMBHandler::suggestedFilename(r), "clip.mp4");
  r.headers.set("Content-Disposition", "attachment; filename=\"../../escape.mp4\"");
  EXPECT_EQ(QMAPrecacheQOMBHandler::safeFileName(QMAPrecacheQOMBHandler::suggestedFilename(r)), "escape.mp4");
}

struct Precache : qma_test::DeviceRootTest {
  net::testing::TestServer server;
  std::shared_ptr<QMAAdView> view;
  std::shared_ptr<QMAPrecacheQOMBHandler> handler = std::make_shared<QMAPrecacheQOMBHandler>();
  const std::string media = std::string(3000, 'm');

  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    const std::string body = media;
    // Three pieces of 1000 bytes under a known length; the same without a length.
    server.server().Get("/clip.mp4", [body](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(body.size(), "video/mp4", [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
        sink.write(body.data() + offset, 1000);
        return true;
      });
    });
    server.server().Get("/unsized.mp4", [body](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("video/mp4", [body](std::size_t offset, httplib::DataSink& sink) {
        if (offset >= body.size()) {
          sink.done();
          return true;
        }
        sink.write(body.data() + offset, 1000);
        return true;
      });
    });
    server.server().Get("/escape", [body](const httplib::Request&, httplib::Response& res) {
      res.set_header("Content-Disposition", "attachment; filename=\"../../../escaped.mp4\"");
      res.set_content(body, "video/mp4");
    });
    server.start();
    view = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
    view->loadHTMLStringBaseURL(
        "<body><script>var got = []; function QVRA_ReceiveMessage(n, m) {"
        " got.push([m.event, m.bytesLoaded, m.totalBytes, m.src, m.cachedSrc].join(' ')); }</script></body>",
        net::URL::fromString("https://ads.example/creative"));
    ASSERT_TRUE(qma_test::pumpMainLoop([&] { return view->stringByEvaluatingJavaScriptFromString("typeof got") == "object"; }));
  }
  void TearDown() override {
    // The last report of a download may still hold the handler on its queue for a moment:
    // clean up here, on the main thread, so nothing is left for it to delete there.
    handler->lastBytesAfterCleanUp();
    std::weak_ptr<QMAPrecacheQOMBHandler> gone = handler;
    handler.reset();
    EXPECT_TRUE(qma_test::pumpMainLoop([&] { return gone.expired(); }));
    view.reset();
    DeviceRootTest::TearDown();
  }
  void send(const std::string& query) {
    handler->handleNotificationAdView(
        QMANotification::initWithNotificationURL(net::URL::fromString("qomb://x/precache?" + query)), view);
  }
  // Every report so far, once the last one begins with `last`.
  std::vector<std::string> reportsUntil(const std::string& last) {
    EXPECT_TRUE(qma_test::pumpMainLoop([&] {
      return view->stringByEvaluatingJavaScriptFromString("got.length ? got[got.length - 1].indexOf('" + last +
                                                          "') === 0 : false") == "true";
    }));
    std::vector<std::string> out;
    const int n = std::stoi(view->stringByEvaluatingJavaScriptFromString("got.length"));
    for (int i = 0; i < n; ++i) out.push_back(view->stringByEvaluatingJavaScriptFromString("got[" + std::to_string(i) + "]"));
    view->stringByEvaluatingJavaScriptFromString("got = []");
    return out;
  }
  static std::string pathOf(const std::string& fileURL) { return fileURL.substr(std::string("file://").size()); }
};

TEST_F(Precache, ADownloadIsFollowedToItsEndAndItsCopyGoesWithAnAbort) {
  const std::string src = server.url("/clip.mp4");
  send("src=" + src);
  send("src=" + src);  // a second one does not start a second download
  auto got = reportsUntil("precacheComplete");
  const std::string cached = *handler->cachedURL();
  // First the empty copy, then one report per piece that arrived, growing, then the end.
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(got.front(), "precacheProgress 0 3000 " + src + " " + cached);
  EXPECT_EQ(got[got.size() - 2], "precacheProgress 3000 3000 " + src + " " + cached);
  EXPECT_EQ(got.back(), "precacheComplete 3000 3000 " + src + " " + cached);
  for (std::size_t i = 1; i + 1 < got.size(); ++i) EXPECT_EQ(got[i].rfind("precacheProgress ", 0), 0u) << got[i];
  const std::filesystem::path file = pathOf(cached);
  EXPECT_EQ(file.filename(), "clip.mp4");
  EXPECT_EQ(file.parent_path().parent_path().filename(), "PelmarkTemp");
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), media);

  send("abort=1");
  got = reportsUntil("precacheCanceled");
  EXPECT_EQ(got, std::vector<std::string>{"precacheCanceled 0 3000 " + src + " " + cached})
      << "the copy was complete and closed: no bytes were still being written";
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(std::filesystem::exists(file.parent_path())) << "the download's folder goes too";
  // A new source starts afresh, in a new folder.
  send("src=" + server.url("/unsized.mp4"));
  got = reportsUntil("precacheComplete");
  EXPECT_EQ(got.front().substr(0, 22), "precacheProgress 0 -1 ") << "no length from the server";
  EXPECT_EQ(got.back().substr(0, 25), "precacheComplete 3000 -1 ");
  EXPECT_NE(*handler->cachedURL(), cached);
}

TEST_F(Precache, AnAbortWithNothingRunningAndAnEscapingNameAreHarmless) {
  send("abort=");
  EXPECT_EQ(reportsUntil("precacheCanceled"), std::vector<std::string>{"precacheCanceled 0 -1  "});
  send("src=" + server.url("/escape"));
  reportsUntil("precacheComplete");
  const std::filesystem::path file = pathOf(*handler->cachedURL());
  EXPECT_EQ(file.filename(), "escaped.mp4");
  EXPECT_EQ(file.parent_path().parent_path().filename(), "PelmarkTemp");
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_FALSE(std::filesystem::exists(file.parent_path().parent_path().parent_path() / "escaped.mp4"));
  send("src=not a url");
  EXPECT_EQ(handler->sourceURL()->absoluteString(), server.url("/escape"));
}

}  // namespace
