#include "platform/dispatch/run_loop.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/clock.h"

namespace dispatch {
namespace {

using foundation::Clock;

struct ManualClock : ::testing::Test {
  void SetUp() override { Clock::useManual(1'000'000); }
  void TearDown() override { Clock::useSystem(); }
};

TEST_F(ManualClock, TimersFireWhenTheClockIsAdvancedAndRepeatWithoutReplayingMissedTicks) {
  RunLoop loop;
  std::vector<std::string> fired;
  loop.addTimer(1.0, 0, false, [&] { fired.push_back("once"); });
  auto rep = loop.addTimer(0.5, 0.5, true, [&] { fired.push_back("tick"); }, TimerModes::Common);
  loop.drain();
  EXPECT_TRUE(fired.empty());
  Clock::advance(0.5);
  loop.drain();
  EXPECT_EQ(fired, (std::vector<std::string>{"tick"}));
  Clock::advance(3.0);  // six ticks missed: one fires
  loop.drain();
  EXPECT_EQ(fired, (std::vector<std::string>{"tick", "once", "tick"}));  // equal due times: first added first
  loop.invalidateTimer(rep);
  Clock::advance(10);
  loop.drain();
  EXPECT_EQ(fired.size(), 3u);
}

TEST_F(ManualClock, DefaultModeTimersWaitWhileTheLoopTracks) {
  RunLoop loop;
  int def = 0, common = 0;
  loop.addTimer(1, 0, false, [&] { ++def; }, TimerModes::Default);
  loop.addTimer(1, 0, false, [&] { ++common; }, TimerModes::Common);
  Clock::advance(1);
  loop.runOnce(0, RunLoopMode::Tracking);
  EXPECT_EQ(def, 0);
  EXPECT_EQ(common, 1);
  loop.runOnce(0);
  EXPECT_EQ(def, 1);
}

// A loop listens to the clock to wake up when it moves; a move on another thread may
// still be calling that listener while the loop goes away.
TEST_F(ManualClock, ALoopCanGoAwayWhileAnotherThreadMovesTheClock) {
  std::atomic<bool> stop{false};
  std::thread mover([&] {
    while (!stop.load()) Clock::advance(0.001);
  });
  for (int i = 0; i < 2000; ++i) {
    RunLoop loop;
    int ran = 0;
    loop.performBlock([&] { ++ran; });
    loop.drain();
    ASSERT_EQ(ran, 1);
  }
  stop = true;
  mover.join();
}

TEST(RunLoop, BlocksFromOtherThreadsAndReadableDescriptorsRunOnTheLoop) {
  RunLoop loop;
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  std::vector<int> seen;
  auto src = loop.addFileDescriptorSource(fds[0], [&] {
    char c;
    if (read(fds[0], &c, 1) == 1) seen.push_back(c);
  });
  std::thread t([&] {
    loop.performBlock([&] { seen.push_back(1); });
    char c = 2;
    ASSERT_EQ(write(fds[1], &c, 1), 1);
  });
  t.join();
  EXPECT_TRUE(loop.runUntil([&] { return seen.size() == 2; }, 5));
  loop.removeFileDescriptorSource(src);
  close(fds[0]);
  close(fds[1]);
}

// Work queued to run after a pass waits for everything that pass found ready, also while
// a handler drains the loop before it answers, and comes before whatever is ready later.
TEST(RunLoop, BlocksQueuedAfterAPassWaitForWhatTheOutermostPassServes) {
  RunLoop loop;
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  std::vector<std::string> seen;
  auto src = loop.addFileDescriptorSource(fds[0], [&] {
    char c;
    if (read(fds[0], &c, 1) != 1) return;
    seen.push_back(std::string("command ") + c);
    loop.performBlock([&] { seen.push_back("settled"); });
    loop.drain();  // settles first, as a text driver does
    seen.push_back("answer");
  });
  loop.performBlock([&] {
    seen.push_back("launch");
    loop.performBlockAfterPass([&] {
      seen.push_back("after");
      loop.performBlockAfterPass([&] { seen.push_back("after the next"); });
    });
  });
  ASSERT_EQ(write(fds[1], "a", 1), 1);
  EXPECT_TRUE(loop.runOnce(0));
  EXPECT_EQ(seen, (std::vector<std::string>{"launch", "command a", "settled", "answer", "after"}));

  // Queued from outside a pass: at the end of the next, after what that one finds ready;
  // the loop does not wait for anything else to come.
  seen.clear();
  ASSERT_EQ(write(fds[1], "b", 1), 1);
  loop.performBlockAfterPass([&] {
    seen.push_back("from outside");
    loop.stop();
  });
  loop.run();
  EXPECT_EQ(seen, (std::vector<std::string>{"command b", "settled", "answer", "after the next", "from outside"}));
  loop.removeFileDescriptorSource(src);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace dispatch

namespace dispatch {
namespace {

// Another loop's descriptors and time-out are served by the loop's own wait: each prepare
// is followed by its own dispatch with those descriptors' revents, nested passes included.
TEST(RunLoop, ExternalSourcesAreServedInsideTheLoopsOwnWait) {
  RunLoop loop;
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  std::vector<std::string> log;
  int depth = 0;
  double limit = -1;
  const auto id = loop.addExternalSource(RunLoop::ExternalSource{
      [&](std::vector<pollfd>& polled, double& timeout) {
        ++depth;
        polled.push_back({fds[0], POLLIN, 0});
        timeout = limit;
      },
      [&](pollfd* polled, std::size_t count) {
        log.push_back("depth " + std::to_string(depth--) + (count == 1 && (polled[0].revents & POLLIN) ? " readable" : " quiet"));
        if (count == 1 && (polled[0].revents & POLLIN)) {
          char c;
          ASSERT_EQ(read(fds[0], &c, 1), 1);
          if (c == 'n') loop.runOnce(0);  // a nested pass from inside a dispatch
        }
      }});

  // Its own bound shortens the wait (a long one would block the test).
  limit = 0.001;
  loop.runOnce(30);
  EXPECT_EQ(log, std::vector<std::string>{"depth 1 quiet"});

  limit = -1;
  ASSERT_EQ(write(fds[1], "n", 1), 1);
  loop.runOnce(30);
  // The nested pass inside the dispatch prepares and dispatches on its own.
  EXPECT_EQ(log, (std::vector<std::string>{"depth 1 quiet", "depth 1 readable", "depth 1 quiet"}));
  EXPECT_EQ(depth, 0);

  loop.removeExternalSource(id);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  loop.runOnce(0);
  EXPECT_EQ(log.size(), 3u);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace dispatch
