#include "platform/net/request_line.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <map>
#include <random>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/clock.h"
#include "platform/net/connection.h"
#include "platform/net/test_server.h"

namespace net {
namespace {

using Ticket = RequestLine::Ticket;

// Steps of a case: "+h" adds a request for host h, "-n" ends the n-th added (from 1).
struct LineCase {
  const char* name;
  RequestLine::Limits limits;
  std::vector<std::string> steps;
  // After the last step: which of the added requests (from 1) hold a slot, and which
  // started later, in the order they were let go.
  std::vector<int> runningAtEnd;
  std::vector<int> startedLater;
};

TEST(RequestLine, HoldsTheLimitsAndLetsTheWaitingGoInOrder) {
  const LineCase cases[] = {
      {"a host's seventh request waits", {6, 128}, {"+a", "+a", "+a", "+a", "+a", "+a", "+a"}, {1, 2, 3, 4, 5, 6}, {}},
      {"the seventh goes when one of the six ends",
       {6, 128},
       {"+a", "+a", "+a", "+a", "+a", "+a", "+a", "+a", "-3"},
       {1, 2, 4, 5, 6, 7},
       {7}},
      {"a full host does not hold another back", {2, 128}, {"+a", "+a", "+a", "+b"}, {1, 2, 4}, {}},
      {"the process bound holds across hosts", {6, 3}, {"+a", "+b", "+c", "+d", "+a"}, {1, 2, 3}, {}},
      {"a freed slot goes to the earliest waiting request that has room",
       {1, 2},
       {"+a", "+b", "+a", "+c", "+b", "-1"},
       {2, 3},
       {3}},
      {"the earliest of another host when the freeing host has nobody waiting",
       {1, 2},
       {"+a", "+b", "+b", "+c", "-1"},
       {2, 4},
       {4}},
      {"a cancelled waiting request frees nothing and is never started",
       {1, 128},
       {"+a", "+a", "+a", "-2", "-1"},
       {3},
       {3}},
      {"ending every running request lets the waiting go in order",
       {1, 1},
       {"+a", "+b", "+c", "-1", "-2"},
       {3},
       {2, 3}},
      {"a host forgotten when idle starts afresh", {1, 128}, {"+a", "-1", "+a", "+a"}, {2}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RequestLine line(c.limits);
    std::vector<Ticket> added;
    std::vector<Ticket> started;
    for (const auto& step : c.steps) {
      if (step[0] == '+') {
        added.push_back(line.add(step.substr(1)).first);
      } else {
        line.remove(added.at(std::stoul(step.substr(1)) - 1), started);
      }
    }
    std::vector<int> running;
    for (std::size_t i = 0; i < added.size(); ++i)
      if (line.isRunning(added[i])) running.push_back(static_cast<int>(i + 1));
    std::vector<int> later;
    for (Ticket t : started) later.push_back(static_cast<int>(std::find(added.begin(), added.end(), t) - added.begin() + 1));
    EXPECT_EQ(running, c.runningAtEnd);
    EXPECT_EQ(later, c.startedLater);
    EXPECT_EQ(line.running(), c.runningAtEnd.size());
  }
}

TEST(RequestLine, AnUnknownOrEndedTicketChangesNothing) {
  RequestLine line({1, 1});
  auto [first, now] = line.add("a");
  ASSERT_TRUE(now);
  auto [second, secondNow] = line.add("a");
  EXPECT_FALSE(secondNow);
  std::vector<Ticket> started;
  line.remove(12345, started);
  line.remove(0, started);
  EXPECT_TRUE(started.empty());
  line.remove(first, started);
  EXPECT_EQ(started, std::vector<Ticket>{second});
  line.remove(first, started);  // twice
  EXPECT_EQ(started.size(), 1u);
  EXPECT_EQ(line.running(), 1u);
  EXPECT_EQ(line.waiting(), 0u);
}

// The rules written the slow, obvious way: after every change, while there is room, the
// earliest waiting request whose host has room goes.
struct Model {
  RequestLine::Limits limits;
  std::map<Ticket, std::pair<std::string, bool>> entries;  // ticket -> host, running

  std::size_t runningOf(const std::string& host) const {
    std::size_t n = 0;
    for (const auto& [t, e] : entries) n += e.first == host && e.second;
    return n;
  }
  std::size_t running() const {
    std::size_t n = 0;
    for (const auto& [t, e] : entries) n += e.second;
    return n;
  }
  std::vector<Ticket> settle() {
    std::vector<Ticket> started;
    for (bool moved = true; moved;) {
      moved = false;
      if (running() >= limits.total) break;
      for (auto& [t, e] : entries) {
        if (e.second || runningOf(e.first) >= limits.perHost) continue;
        e.second = true;
        started.push_back(t);
        moved = true;
        break;
      }
    }
    return started;
  }
};

// Random adds and ends (of waiting and running requests alike) against the model: the
// same requests run, the same start, in the same order, and the limits always hold.
TEST(RequestLine, RandomSequencesFollowTheRules) {
  for (std::uint32_t seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const RequestLine::Limits limits{1 + random() % 4, 1 + random() % 9};
    RequestLine line(limits);
    Model model{limits, {}};
    std::vector<Ticket> live;
    for (int step = 0; step < 400; ++step) {
      if (live.empty() || random() % 100 < 55) {
        const std::string host(1, static_cast<char>('a' + random() % 5));
        auto [ticket, now] = line.add(host);
        model.entries[ticket] = {host, false};
        const auto expected = model.settle();
        ASSERT_EQ(now, expected == std::vector<Ticket>{ticket});
        live.push_back(ticket);
      } else {
        const std::size_t pick = random() % live.size();
        const Ticket ticket = live[pick];
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(pick));
        std::vector<Ticket> started;
        line.remove(ticket, started);
        model.entries.erase(ticket);
        ASSERT_EQ(started, model.settle());
      }
      ASSERT_EQ(line.running(), model.running());
      ASSERT_EQ(line.added() - line.ended(), model.entries.size());
      ASSERT_LE(line.running(), limits.total);
      ASSERT_EQ(line.waiting(), model.entries.size() - model.running());
      for (const auto& [t, e] : model.entries) {
        ASSERT_EQ(line.isRunning(t), e.second);
        ASSERT_LE(model.runningOf(e.first), limits.perHost);
      }
    }
  }
}

// This process's connections to `port` on 127.0.0.1.
std::vector<int> socketsTo(int port) {
  std::vector<int> out;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return out;
  while (dirent* entry = readdir(dir)) {
    const int fd = std::atoi(entry->d_name);
    if (fd <= 2 || fd == dirfd(dir)) continue;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 && peer.sin_family == AF_INET &&
        ntohs(peer.sin_port) == port)
      out.push_back(fd);
  }
  closedir(dir);
  return out;
}

struct Listener : URLConnectionDelegate {
  std::vector<std::string> events;
  void connectionDidReceiveResponse(URLConnection&, const URLResponsePtr& r) override {
    events.push_back("response " + std::to_string(r->statusCode));
  }
  void connectionDidFinishLoading(URLConnection&) override { events.push_back("finish"); }
  void connectionDidFailWithError(URLConnection&, const Error& e) override {
    events.push_back("fail " + std::to_string(e.code));
  }
  bool ended() const {
    return !events.empty() && (events.back() == "finish" || events.back().rfind("fail", 0) == 0);
  }
};

// Page loads of one test, all cancelled when it ends so the line is empty for the next.
struct PagesLine : ::testing::Test {
  dispatch::RunLoop loop;
  std::vector<std::shared_ptr<Listener>> listeners;
  std::vector<std::shared_ptr<URLConnection>> loads;

  std::size_t load(const std::string& url, bool page = true, double timeout = 60, double whole = 300) {
    URLRequest r(*URL::fromString(url));
    r.waitsInPagesLine = page;
    r.timeoutInterval = timeout;
    r.resourceTimeoutInterval = whole;
    listeners.push_back(std::make_shared<Listener>());
    loads.push_back(URLConnection::create(std::move(r), listeners.back(), deliverOnRunLoop(loop)));
    loads.back()->startImmediately();
    return loads.size() - 1;
  }
  void TearDown() override {
    for (auto& c : loads) c->cancel();
    loop.drain();
    const auto state = pagesLineState();
    EXPECT_EQ(state.running + state.waiting, 0u);
  }
  static std::vector<std::string> numbered(int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i < to; ++i) out.push_back("/" + std::to_string(i));
    return out;
  }
};

TEST_F(PagesLine, AHostThatNeverAnswersHoldsItsSixConnectionsAndTheRestWaitInOrder) {
  testing::SilentServer silent;
  testing::TestServer other;
  other.server().Get("/hello", [](const httplib::Request&, httplib::Response& res) { res.set_content("hi", "text/plain"); });
  other.start();

  for (int i = 0; i < 20; ++i) load(silent.url("/" + std::to_string(i)));
  ASSERT_TRUE(silent.waitFor([](int open, const auto& paths) { return open == 6 && paths.size() == 6; }));
  auto first = silent.paths();
  std::sort(first.begin(), first.end());
  EXPECT_EQ(first, (std::vector<std::string>{"/0", "/1", "/2", "/3", "/4", "/5"}));
  EXPECT_EQ(pagesLineState().running, 6u);
  EXPECT_EQ(pagesLineState().waiting, 14u);
  // A process started now (a web process, say) inherits none of them.
  const auto mine = socketsTo(silent.port());
  EXPECT_EQ(mine.size(), 6u);
  for (int fd : mine) EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << fd;

  // Another host's page request passes them; the component's own request to the silent
  // host takes no place in the line.
  const auto passing = load(other.url("/hello"));
  ASSERT_TRUE(loop.runUntil([&] { return listeners[passing]->ended(); }, 10));
  EXPECT_EQ(listeners[passing]->events, (std::vector<std::string>{"response 200", "finish"}));
  load(silent.url("/own"), false);
  ASSERT_TRUE(silent.waitFor([](int open, const auto& paths) { return open == 7 && paths.size() == 7; }));

  // Leaving the line frees nothing; leaving a connection lets the earliest waiting go.
  loads[6]->cancel();
  loads[7]->cancel();
  EXPECT_EQ(pagesLineState().waiting, 12u);
  loads[0]->cancel();
  loads[3]->cancel();
  ASSERT_TRUE(silent.waitFor([](int open, const auto& paths) { return open == 7 && paths.size() == 9; }));
  const auto paths = silent.paths();
  EXPECT_EQ(std::vector<std::string>(paths.begin() + 7, paths.end()), (std::vector<std::string>{"/8", "/9"}));

  // A page that goes away cancels its newest first: those in line leave before a
  // connection frees, so none of them goes out only to be cut.
  for (int i = 19; i >= 0; --i) loads[static_cast<std::size_t>(i)]->cancel();
  EXPECT_EQ(pagesLineState().running + pagesLineState().waiting, 0u);
  ASSERT_TRUE(silent.waitFor([](int open, const auto&) { return open == 1; }));  // the component's own
  EXPECT_EQ(silent.paths().size(), 9u);
  for (const auto& l : listeners) EXPECT_TRUE(l->events.empty() || l == listeners[passing]);
}

// A page load cancelled wherever it is closes its connection at once, and one cancelled
// in line never goes out.
TEST_F(PagesLine, ACancelledLoadEndsWhereverItIs) {
  testing::SilentServer silent;
  for (int i = 0; i < 5; ++i) load(silent.url("/hold" + std::to_string(i)));
  const auto head = load(silent.url("/head/a"));
  const auto waiting = load(silent.url("/never"));
  const auto after = load(silent.url("/after"));
  ASSERT_TRUE(silent.waitFor([](int open, const auto& paths) { return open == 6 && paths.size() == 6; }));
  ASSERT_TRUE(loop.runUntil([&] { return !listeners[head]->events.empty(); }, 10));
  EXPECT_EQ(listeners[head]->events, std::vector<std::string>{"response 200"});

  loads[waiting]->cancel();
  loads[head]->cancel();  // its body under way
  ASSERT_TRUE(silent.waitFor([](int open, const auto& paths) { return open == 6 && paths.size() == 7; }));
  EXPECT_EQ(silent.paths().back(), "/after");
  loads[0]->cancel();  // waiting for its answer's head
  ASSERT_TRUE(silent.waitFor([](int open, const auto&) { return open == 5; }));
  loop.drain();
  for (const auto i : {waiting, std::size_t{0}, after}) EXPECT_TRUE(listeners[i]->events.empty());
  EXPECT_EQ(listeners[head]->events, std::vector<std::string>{"response 200"});
}

// Silence is counted from when a request goes out, not while it waits its turn; the
// whole load's time runs from its start, in line or not.
TEST_F(PagesLine, AWaitingRequestsTimeOutsRunFromWhereTheyBelong) {
  using foundation::Clock;
  testing::SilentServer silent;
  struct ManualClock {
    ManualClock() { Clock::useManual(1'000'000); }
    ~ManualClock() { Clock::useSystem(); }
  } manual;
  for (int i = 0; i < 6; ++i) load(silent.url("/" + std::to_string(i)), true, 5);
  const auto silentOne = load(silent.url("/6"), true, 5);
  const auto wholeBound = load(silent.url("/7"), true, 60, 8);
  ASSERT_TRUE(silent.waitFor([](int open, const auto& paths) { return open == 6 && paths.size() == 6; }));
  Clock::advance(4);
  loop.drain();
  ASSERT_EQ(pagesLineState().waiting, 2u);
  Clock::advance(1.5);  // the six fail as silent; the two waiting go out
  ASSERT_TRUE(loop.runUntil([&] { return listeners[5]->ended(); }, 10));
  ASSERT_TRUE(silent.waitFor([](int, const auto& paths) { return paths.size() == 8; }));
  Clock::advance(3);  // 3 s silent, 8.5 s since the start
  ASSERT_TRUE(loop.runUntil([&] { return listeners[wholeBound]->ended(); }, 10));
  loop.drain();
  EXPECT_TRUE(listeners[silentOne]->events.empty());
  Clock::advance(2.5);
  ASSERT_TRUE(loop.runUntil([&] { return listeners[silentOne]->ended(); }, 10));
  const std::vector<std::string> timedOut{"fail " + std::to_string(kErrorTimedOut)};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(listeners[static_cast<std::size_t>(i)]->events, timedOut) << i;
}

}  // namespace
}  // namespace net
