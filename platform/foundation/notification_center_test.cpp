#include "platform/foundation/notification_center.h"

#include <gtest/gtest.h>

#include <deque>

namespace foundation {
namespace {

// Runs blocks only when told, so a test sees exactly when queued delivery happens.
struct ManualExecutor : Executor {
  std::deque<std::function<void()>> blocks;
  bool current = false;
  void execute(std::function<void()> b) override { blocks.push_back(std::move(b)); }
  bool runsOnCurrentThread() const override { return current; }
  void runAll() {
    current = true;
    while (!blocks.empty()) {
      auto b = std::move(blocks.front());
      blocks.pop_front();
      b();
    }
    current = false;
  }
};

TEST(NotificationCenter, DeliversByNameAndObjectAndStopsAfterRemoval) {
  NotificationCenter center;
  auto sender = std::make_shared<int>(1);
  auto other = std::make_shared<int>(2);
  std::vector<std::string> got;
  auto byName = center.addObserverForName("A", nullptr, nullptr, [&](const Notification& n) {
    got.push_back("any:" + n.name + ":" + *stringForKey(n.userInfo, "k"));
  });
  auto byObject = center.addObserverForName("A", sender.get(), nullptr, [&](const Notification&) { got.push_back("sender"); });
  auto all = center.addObserverForName("", nullptr, nullptr, [&](const Notification& n) { got.push_back("all:" + n.name); });

  center.postNotificationName("A", sender, {{"k", Value("v")}});
  center.postNotificationName("A", other, {{"k", Value("w")}});
  center.postNotificationName("B");
  EXPECT_EQ(got, (std::vector<std::string>{"any:A:v", "sender", "all:A", "any:A:w", "all:A", "all:B"}));

  got.clear();
  center.removeObserver(byName);
  center.removeObserver(all);
  center.postNotificationName("A", sender, {{"k", Value("v")}});
  EXPECT_EQ(got, (std::vector<std::string>{"sender"}));
}

TEST(NotificationCenter, ObserversWithAnExecutorRunThereUnlessThePosterAlreadyDoes) {
  NotificationCenter center;
  auto exec = std::make_shared<ManualExecutor>();
  int calls = 0;
  auto token = center.addObserverForName("N", nullptr, exec, [&](const Notification&) { ++calls; });
  center.postNotificationName("N");
  EXPECT_EQ(calls, 0);
  exec->runAll();
  EXPECT_EQ(calls, 1);

  exec->current = true;  // posting from the executor's own thread runs inline
  center.postNotificationName("N");
  EXPECT_EQ(calls, 2);
  exec->current = false;

  center.postNotificationName("N");  // queued, then the observer goes away
  center.removeObserver(token);
  exec->runAll();
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace foundation
