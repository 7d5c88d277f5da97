#include "platform/net/request_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

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
      ASSERT_LE(line.running(), limits.total);
      ASSERT_EQ(line.waiting(), model.entries.size() - model.running());
      for (const auto& [t, e] : model.entries) {
        ASSERT_EQ(line.isRunning(t), e.second);
        ASSERT_LE(model.runningOf(e.first), limits.perHost);
      }
    }
  }
}

}  // namespace
}  // namespace net
