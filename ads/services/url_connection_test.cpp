#include "ads/services/url_connection.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "ads/services/test_support.h"
#include "platform/net/http_date.h"
#include "platform/net/test_server.h"

namespace {

using foundation::Clock;
using foundation::Date;

net::URL url(const std::string& text) { return *net::URL::fromString(text); }

constexpr double kNow = 1'500'000'000;  // the fixture's hand-driven wall clock

std::string httpDate(double t) { return net::formatHTTPDateWithoutZone(t) + " GMT"; }

// "Café" as UTF-8 and as Latin-1 bytes (which are not UTF-8), and the start of a picture.
const std::string kCafeUTF8 = "Caf\xC3\xA9";
const std::string kCafeLatin1 = "Caf\xE9";
const std::string kPicture("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\xFF", 17);

struct TextCase {
  const char* what;
  const char* contentType;  // none: the answer has no Content-Type
  std::string bytes;
  std::optional<std::string> text;
};
const TextCase kTextCases[] = {
    {"untyped UTF-8", nullptr, kCafeUTF8, kCafeUTF8},
    {"untyped, not UTF-8", nullptr, kCafeLatin1, std::nullopt},
    {"untyped picture bytes", nullptr, kPicture, std::nullopt},
    {"no charset, UTF-8", "text/html", kCafeUTF8, kCafeUTF8},
    {"no charset, not UTF-8", "text/html", kCafeLatin1, std::nullopt},
    {"UTF-8 declared, UTF-8", "text/html; charset=utf-8", kCafeUTF8, kCafeUTF8},
    {"UTF-8 declared, not UTF-8", "text/html; charset=UTF-8", kCafeLatin1, std::nullopt},
    {"UTF-8 by its byte order mark, not UTF-8", "text/html", "\xEF\xBB\xBF" + kCafeLatin1, std::nullopt},
    {"Latin-1 declared, Latin-1", "text/html; charset=ISO-8859-1", kCafeLatin1, kCafeUTF8},
    {"Latin-1 declared, UTF-8 bytes", "text/html; charset=latin1", kCafeUTF8, "Caf\xC3\x83\xC2\xA9"},
    {"Latin-1 by the page's meta", "text/html", "<meta charset=latin1>" + kCafeLatin1,
     "<meta charset=latin1>" + kCafeUTF8},
    {"untyped, Latin-1 by the page's meta", nullptr, "<meta charset=latin1>" + kCafeLatin1,
     "<meta charset=latin1>" + kCafeUTF8},
    {"bogus charset, UTF-8", "text/html; charset=no-such-thing", kCafeUTF8, kCafeUTF8},
    {"bogus charset, not UTF-8", "text/html; charset=no-such-thing", kCafeLatin1, std::nullopt},
    {"UTF-7 is never honoured: UTF-8 rules", "text/html; charset=utf-7", kCafeLatin1, std::nullopt},
    {"typed binary, not UTF-8", "application/octet-stream", "\xFF\xFE", std::nullopt},
    {"typed binary, UTF-8", "application/octet-stream", kCafeUTF8, kCafeUTF8},
    {"empty", nullptr, "", ""},
};

TEST(ResponseExpiry, FollowsPragmaCacheControlAndExpiresAgainstTheServerDate) {
  qma_test::ScopedManualClock clock(kNow);
  struct Case {
    const char* name;
    net::HTTPHeaders headers;
    std::optional<double> expiry;  // seconds from now
  };
  const Case cases[] = {
      {"max-age counts from the server's Date", {{"Date", httpDate(kNow - 10)}, {"Cache-Control", "max-age=300"}}, 290},
      {"no Date: from now", {{"Cache-Control", "public, max-age=60"}}, 60},
      {"no-store wins", {{"Cache-Control", "private, no-store, max-age=300"}}, std::nullopt},
      {"max-age=0", {{"Cache-Control", "max-age=0"}, {"Expires", httpDate(kNow + 100)}}, std::nullopt},
      {"unreadable max-age falls to Expires",
       {{"Date", httpDate(kNow)}, {"Cache-Control", "max-age=abc"}, {"Expires", httpDate(kNow + 3600)}},
       3600},
      {"Pragma no-cache", {{"Pragma", "no-cache"}, {"Expires", httpDate(kNow + 3600)}}, std::nullopt},
      {"Expires equal to Date", {{"Date", httpDate(kNow)}, {"Expires", httpDate(kNow)}}, std::nullopt},
      {"server lifetime on the local clock",
       {{"Date", httpDate(kNow - 86400)}, {"Expires", httpDate(kNow - 86400 + 3600)}},
       3600},
      {"asctime and RFC 850 dates",
       {{"Date", "Fri Jul 14 02:40:00 2017"}, {"Expires", "Friday, 14-Jul-17 03:40:00 GMT"}},
       3600},
      {"unreadable Date counts as now", {{"Date", "yesterday"}, {"Cache-Control", "max-age=60"}}, 60},
      {"nothing to go by", {{"Date", httpDate(kNow)}}, std::nullopt},
      {"unreadable Expires", {{"Expires", "0"}}, std::nullopt},
  };
  for (const auto& c : cases) {
    net::URLResponse response{url("http://h/"), true, 200, c.headers, "", -1};
    auto expiry = qma_expirationDate(response);
    if (c.expiry) {
      ASSERT_TRUE(expiry) << c.name;
      EXPECT_EQ(expiry->timeIntervalSince1970, kNow + *c.expiry) << c.name;
    } else {
      EXPECT_FALSE(expiry) << c.name;
    }
  }
}

TEST(ResponseCacheKey, AdURLsOfOneSlotShareAnEntry) {
  auto key = &QMAURLConnection::cacheKeyForURL;
  EXPECT_EQ(key(url("http://ads/get?slotname=s1&seq=1")), key(url("http://ads/get?seq=2&slotname=s1")));
  EXPECT_NE(key(url("http://ads/get?slotname=s1")), key(url("http://ads/get?slotname=s2")));
  EXPECT_NE(key(url("http://ads/get?slotname=s1")), key(url("http://ads/other?slotname=s1")));
  EXPECT_NE(key(url("http://ads/get?a=1")), key(url("http://ads/get?a=2")));
  EXPECT_EQ(key(url("http://ads/get?a=1")).size(), 16u);
}

struct Recorder : QMAURLConnectionDelegate {
  std::vector<std::string> events;
  std::optional<std::string> body;
  std::optional<net::URL> baseURL;
  std::optional<foundation::Error> error;
  bool allowCache = false;
  bool vetoRedirects = false;
  bool done = false;

  std::optional<foundation::Error> connectionShouldRedirectToURL(QMAURLConnection&, const net::URL& u) override {
    events.push_back("should redirect " + u.path());
    if (vetoRedirects) return foundation::Error{"test", 7, {}};
    return std::nullopt;
  }
  void connectionLoadDidReceiveRedirectResponse(QMAURLConnection&, const net::URLResponsePtr& r) override {
    events.push_back("redirect " + std::to_string(r->statusCode));
  }
  bool connectionLoadShouldUseCachedResponse(QMAURLConnection&, const net::URLResponsePtr& r) override {
    events.push_back("response " + std::to_string(r->statusCode));
    return allowCache;
  }
  void connectionLoadDidReceiveCachedResponse(QMAURLConnection&, const net::URLResponsePtr&) override {
    events.push_back("cached");
  }
  void connectionLoadDidFinishBaseURL(QMAURLConnection&, const std::optional<std::string>& b,
                                      const std::optional<net::URL>& base) override {
    events.push_back("finish " + b.value_or("<not text>"));
    body = b;
    baseURL = base;
    done = true;
  }
  void connectionLoadDidFailHttpStatusCode(QMAURLConnection&, const std::optional<foundation::Error>& e,
                                           long status) override {
    events.push_back("fail " + std::to_string(status) + (e ? " " + e->domain : ""));
    error = e;
    done = true;
  }
};

// A bare HTTP/1.1 server on 127.0.0.1 that answers "/text/N" with the Nth case of the text
// table exactly as the case says, with no Content-Type at all when it has none (which
// httplib would add), one request per connection, then closes it.
class TextServer {
 public:
  TextServer() {
    listen_ = net::testing::listenOnLoopback(16, port_);
    thread_ = std::thread([this] { serve(); });
  }
  ~TextServer() {
    shutdown(listen_, SHUT_RDWR);
    thread_.join();
    close(listen_);
  }
  TextServer(const TextServer&) = delete;
  TextServer& operator=(const TextServer&) = delete;
  std::string url(std::size_t n) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/text/" + std::to_string(n);
  }

 private:
  void serve() {
    for (;;) {
      const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
      }
      const auto at = request.find("/text/");
      const std::size_t index = at == std::string::npos ? SIZE_MAX : std::strtoul(request.c_str() + at + 6, nullptr, 10);
      std::string answer;
      if (index < std::size(kTextCases)) {
        const auto& c = kTextCases[index];
        answer = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + std::to_string(c.bytes.size()) + "\r\n";
        if (c.contentType) answer += std::string("Content-Type: ") + c.contentType + "\r\n";
        answer += "\r\n" + c.bytes;
      } else {
        answer = "HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
      }
      for (std::size_t done = 0; done < answer.size();) {
        const ssize_t n = write(fd, answer.data() + done, answer.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      close(fd);
    }
  }

  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
};

struct URLConnectionTest : qma_test::DeviceRootTest {
  net::testing::TestServer server;
  std::atomic<int> hits{0};
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();

  void SetUp() override {
    DeviceRootTest::SetUp();
    QMAURLConnection::clearCache();
    auto& s = server.server();
    s.Get("/start", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/ad", 302); });
    s.Get("/ad", [this](const httplib::Request&, httplib::Response& res) {
      res.set_header("Cache-Control", "max-age=60");
      res.set_content("ad " + std::to_string(++hits), "text/html");
    });
    s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("gone", "text/plain");
    });
    s.Get("/binary", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string("\xff\xfe", 2), "application/octet-stream");
    });
    s.Get("/broken", [](const httplib::Request&, httplib::Response& res) {
      res.status = 503;
      res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        if (offset == 0) sink.write("part", 4);
        return offset == 0;  // the second call gives up mid-body
      });
    });
    server.start();
  }

  bool start(const std::shared_ptr<QMAURLConnection>& c, const std::string& path,
             foundation::Error* error = nullptr) {
    recorder->done = false;
    return c->startWithRequestURLDelegateError(net::URLRequest(url(server.url(path))), recorder, error);
  }
  void runUntilDone() {
    ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return recorder->done; }, 10));
  }
};

TEST_F(URLConnectionTest, LoadsFollowingRedirectsAndReportsTheBodyWithItsBaseURL) {
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/start"));
  EXPECT_TRUE(c->isInProgress());
  runUntilDone();
  EXPECT_EQ(recorder->events,
            (std::vector<std::string>{"should redirect /ad", "redirect 302", "response 200", "finish ad 1"}));
  EXPECT_EQ(recorder->baseURL->absoluteString(), server.url("/ad"));
  EXPECT_FALSE(c->isInProgress());
  EXPECT_FALSE(c->sourceURL());
  EXPECT_EQ(QMAURLConnection::memoryCache().count(), 0u);  // the delegate did not allow the cache
}

TEST_F(URLConnectionTest, AnAllowedCacheAnswersLaterStartsUntilTheEntryGoesStale) {
  recorder->allowCache = true;
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/ad"));
  runUntilDone();
  EXPECT_EQ(QMAURLConnection::memoryCache().count(), 1u);

  // The same object now asks the cache before the network, at once.
  recorder->events.clear();
  ASSERT_TRUE(start(c, "/ad"));
  EXPECT_FALSE(c->isInProgress());
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"cached", "finish ad 1"}));
  EXPECT_EQ(hits, 1);

  // Another object hears the network's response first, then takes the cached body.
  auto other = QMAURLConnection::create();
  recorder->events.clear();
  ASSERT_TRUE(start(other, "/ad"));
  runUntilDone();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200", "cached", "finish ad 1"}));
  EXPECT_FALSE(other->isInProgress());

  Clock::advance(61);
  recorder->events.clear();
  ASSERT_TRUE(start(c, "/ad"));
  runUntilDone();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200", "finish ad 3"}));
}

TEST_F(URLConnectionTest, AStartWhileLoadingIsRefusedAndKeepsTheRunningLoad) {
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/ad"));
  auto intruder = std::make_shared<Recorder>();
  foundation::Error error;
  EXPECT_FALSE(c->startWithRequestURLDelegateError(net::URLRequest(url(server.url("/missing"))), intruder, &error));
  EXPECT_EQ(error.domain, "com.quillon.ads");
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.localizedDescription(), "Ignoring -- Currently loading " + server.url("/ad"));
  runUntilDone();
  EXPECT_EQ(recorder->body, "ad 1");
  EXPECT_TRUE(intruder->events.empty());
}

TEST_F(URLConnectionTest, AVetoedRedirectFailsWithTheDelegatesErrorBeforeTheRedirectNotice) {
  recorder->vetoRedirects = true;
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/start"));
  runUntilDone();
  // A second load flushes anything the vetoed one could still have sent.
  auto probe = std::make_shared<Recorder>();
  auto p = QMAURLConnection::create();
  p->startWithRequestURLDelegateError(net::URLRequest(url(server.url("/missing"))), probe);
  ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return probe->done; }, 10));
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"should redirect /ad", "fail -1 test", "redirect 302"}));
  EXPECT_FALSE(c->isInProgress());
  EXPECT_EQ(c->destinationURL()->absoluteString(), server.url("/ad"));
  EXPECT_EQ(hits, 0);
}

TEST_F(URLConnectionTest, ARequestNoConnectionCanCarryFailsAndLeavesTheObjectFree) {
  auto c = QMAURLConnection::create();
  foundation::Error error;
  recorder->done = false;
  EXPECT_FALSE(c->startWithRequestURLDelegateError(net::URLRequest(url("ftp://127.0.0.1/x")), recorder, &error));
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(recorder->events, std::vector<std::string>{"fail -1"});
  EXPECT_FALSE(c->isInProgress());
  ASSERT_TRUE(start(c, "/ad"));
  runUntilDone();
  EXPECT_EQ(recorder->body, "ad 1");
}

TEST_F(URLConnectionTest, StatusesBodiesAndBrokenTransfers) {
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/missing"));
  runUntilDone();
  EXPECT_EQ(recorder->events.back(), "finish gone");  // the delegate judges the status

  ASSERT_TRUE(start(c, "/binary"));
  runUntilDone();
  EXPECT_FALSE(recorder->body);

  ASSERT_TRUE(start(c, "/broken"));
  runUntilDone();
  EXPECT_EQ(recorder->events.back(), "fail 503 net.load");

  net::testing::TestServer closed;
  closed.start();
  auto dead = closed.url("/x");
  closed.stop();
  recorder->done = false;
  ASSERT_TRUE(c->startWithRequestURLDelegateError(net::URLRequest(url(dead)), recorder));
  runUntilDone();
  EXPECT_EQ(recorder->events.back(), "fail -1 net.load");
}

// A text answer is read by the charset it declares; bytes not valid there never cost it
// its text. A binary answer has text only when its bytes are UTF-8.
// An answer that declares no charset is UTF-8, and bytes that are not give no text (binary
// bytes served untyped are no ad); so is one that declares UTF-8 or a charset no browser
// knows. Another declared charset is read as a browser reads it.
TEST_F(URLConnectionTest, TextIsUTF8UnlessTheAnswerDeclaresAnotherCharset) {
  TextServer texts;
  for (std::size_t i = 0; i < std::size(kTextCases); ++i) {
    const auto& c = kTextCases[i];
    auto connection = QMAURLConnection::create();
    recorder->done = false;
    ASSERT_TRUE(connection->startWithRequestURLDelegateError(net::URLRequest(url(texts.url(i))), recorder));
    runUntilDone();
    EXPECT_EQ(recorder->body, c.text) << c.what;
  }
}

TEST_F(URLConnectionTest, CancelSilencesTheDelegateAndStopKeepsIt) {
  auto c = QMAURLConnection::create();
  ASSERT_TRUE(start(c, "/ad"));
  c->cancel();
  EXPECT_FALSE(c->delegate());
  EXPECT_FALSE(c->isInProgress());
  ASSERT_TRUE(start(c, "/ad"));
  c->stop();
  EXPECT_EQ(c->delegate(), recorder);
  ASSERT_TRUE(start(c, "/missing"));
  runUntilDone();
  EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 404", "finish gone"}));
}

}  // namespace
