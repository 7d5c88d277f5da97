#include "ads/services/cached_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "ads/services/test_support.h"
#include "platform/foundation/device_path.h"
#include "platform/net/http_date.h"
#include "platform/net/test_server.h"

namespace {

struct Recorder : QMACachedFileDelegate {
  std::vector<std::string> events;
  bool refuseRedirects = false;
  bool done = false;
  std::optional<foundation::Error> failure;
  std::optional<double> stampAtEnd;  // the file's modification time when the end is heard
  std::optional<foundation::Error> cachedFileShouldRedirectToURL(QMACachedFile&, const net::URL& u) override {
    events.push_back("redirect? " + u.path());
    if (refuseRedirects) return foundation::Error{"tracker", 1, {}};
    return std::nullopt;
  }
  void cachedFileDownloadDidEnd(QMACachedFile& file) override {
    events.push_back("end");
    struct stat st {};
    if (stat(file.filePath().c_str(), &st) == 0) stampAtEnd = static_cast<double>(st.st_mtim.tv_sec);
    done = true;
  }
  void cachedFileDownloadDidFail(QMACachedFile&, const std::optional<foundation::Error>& e) override {
    events.push_back(e ? "fail " + e->domain : "fail");
    failure = e;
    done = true;
  }
};

constexpr double kStamp = 1420070400;  // Thu, 01 Jan 2015 00:00:00 GMT

struct CachedFileTest : qma_test::DeviceRootTest {
  std::mutex mu;
  std::vector<std::string> ifModifiedSince;
  std::vector<std::string> targets;
  net::testing::TestServer server;  // after what its handlers touch, so it stops first
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();

  void SetUp() override {
    DeviceRootTest::SetUp();
    auto& s = server.server();
    s.Get("/creative", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard lock(mu);
      ifModifiedSince.push_back(req.get_header_value("If-Modified-Since"));
      targets.push_back(req.target);
      if (req.has_header("If-Modified-Since")) {
        res.status = 304;
        return;
      }
      res.set_header("Last-Modified", "Thu, 01 Jan 2015 00:00:00 GMT");
      res.set_content("<html>creative</html>", "text/html");
    });
    s.Get("/missing", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    s.Get("/jump", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/creative", 302); });
    server.start();
  }
  std::shared_ptr<QMACachedFile> file(const std::string& path) {
    auto f = QMACachedFile::initWithURL(net::URL::fromString(server.url(path)));
    f->setDelegate(recorder);
    return f;
  }
  void run(const std::shared_ptr<QMACachedFile>& f, bool buster = false) {
    recorder->done = false;
    buster ? f->validateWithCacheBuster() : f->validate();
    ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return recorder->done && !f->connection(); }, 10));
  }
  static double mtime(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return static_cast<double>(st.st_mtim.tv_sec);
  }
};

TEST_F(CachedFileTest, DownloadsOnceAndThenRevalidatesWithTheFileStamp) {
  auto f = file("/creative");
  EXPECT_FALSE(f->fileExists());
  run(f);
  EXPECT_EQ(recorder->events, std::vector<std::string>{"end"});
  EXPECT_EQ(f->contentAsString(), "<html>creative</html>");
  EXPECT_EQ(recorder->stampAtEnd, kStamp) << "the file carries the server's time by the time anyone hears of it";
  EXPECT_EQ(mtime(f->filePath()), kStamp);
  EXPECT_EQ(f->HTTPStatusCode(), 200);

  run(f);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"end", "end"}));
  EXPECT_EQ(f->HTTPStatusCode(), 304);
  EXPECT_EQ(f->contentAsString(), "<html>creative</html>");
  std::lock_guard lock(mu);
  EXPECT_EQ(ifModifiedSince, (std::vector<std::string>{"", "Thu, 01 Jan 2015 00:00:00"}));
}

TEST_F(CachedFileTest, TheCacheBusterChangesTheRequestButNotTheFile) {
  auto f = file("/creative");
  auto path = f->filePath();
  run(f, true);
  // The hand-driven clock reads 1.5e9 s since 1970: 521692800 s since 2001.
  EXPECT_EQ(f->HTTPDestinationURL().absoluteString(), server.url("/creative?unique=521692800"));
  EXPECT_EQ(f->cachePolicy(), net::CachePolicy::ReloadIgnoringLocalCacheData);
  EXPECT_EQ(f->filePath(), path);
  EXPECT_TRUE(f->fileExists());
  std::lock_guard lock(mu);
  EXPECT_EQ(targets, std::vector<std::string>{"/creative?unique=521692800"});
}

TEST_F(CachedFileTest, FailuresLeaveTheFileAlone) {
  auto f = file("/missing");
  run(f);
  EXPECT_EQ(recorder->events, std::vector<std::string>{"fail"});
  EXPECT_FALSE(f->fileExists());

  recorder->events.clear();
  recorder->refuseRedirects = true;
  auto jumping = file("/jump");
  run(jumping);
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"redirect? /creative", "fail tracker"}));
  EXPECT_EQ(jumping->HTTPDestinationURL().absoluteString(), server.url("/creative"));
  EXPECT_EQ(jumping->HTTPHeaders().get("Location"), "/creative");
  EXPECT_FALSE(jumping->fileExists());

  auto kept = file("/creative");
  run(kept);
  kept->invalidate();
  EXPECT_FALSE(kept->fileExists());
}

TEST_F(CachedFileTest, AFileThatCannotBeSavedFailsWithItsOwnErrorAndLeavesWhatIsThere) {
  auto f = file("/creative");
  // Something else occupies the file's place: a folder with a file in it.
  std::filesystem::create_directories(f->filePath());
  std::ofstream(f->filePath() + "/keep") << "kept";
  run(f);
  EXPECT_EQ(recorder->events, std::vector<std::string>{"fail file"});
  ASSERT_TRUE(recorder->failure);
  EXPECT_EQ(recorder->failure->code, EISDIR);
  EXPECT_EQ(recorder->failure->localizedDescription(), std::string("The file could not be saved: ") + std::strerror(EISDIR));
  std::string kept;
  std::ifstream(f->filePath() + "/keep") >> kept;
  EXPECT_EQ(kept, "kept");
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(std::filesystem::path(f->filePath()).parent_path()))
    ++entries;
  EXPECT_EQ(entries, 1u) << "no half-written file is left beside it";
}

TEST_F(CachedFileTest, FilesStayInsideTheCachesFolderWhateverTheHost) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://ads.example:8080/x", "ads.example"},
      {"http://../x", "@local"},
      {"http://./x", "@local"},
      {"http://a%2F..%2Fb/x", "@local"},
      {"file:///tmp/x", "@local"},
      {"about:blank", "@local"},
  };
  for (const auto& [text, folder] : cases) {
    auto f = QMACachedFile::initWithURL(net::URL::fromString(text));
    EXPECT_EQ(QMACachedFileFolderNameForURL(f->sourceURL()), folder) << text;
    auto expectedPrefix = foundation::cachesDirectory() + "/" + folder + "/";
    EXPECT_EQ(f->filePath().rfind(expectedPrefix, 0), 0u) << text;
    EXPECT_EQ(f->filePath().find('/', expectedPrefix.size()), std::string::npos) << text;
  }
  // Stable across launches: the same URL always names the same file.
  EXPECT_EQ(QMACachedFile::initWithURL(net::URL::fromString("http://h/a"))->filePath(),
            foundation::cachesDirectory() + "/h/" + "7f38af7237affd3f");
  EXPECT_FALSE(QMACachedFile::initWithURL(std::nullopt));
}

}  // namespace
