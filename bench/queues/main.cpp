// Throughput of the main queue and of a serial queue, and the lateness of delayed blocks
// and run-loop timers, next to a bare queue of one std::thread and a condition variable.
// Targets: queue throughput within 3x of the bare queue; median lateness under 2 ms.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "ads/services/scheduler.h"
#include "bench/options/options.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/run_loop.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The baseline: one worker thread draining a deque under a mutex.
class BareQueue {
 public:
  BareQueue() : worker_([this] { run(); }) {}
  ~BareQueue() {
    push(nullptr);
    worker_.join();
  }
  void push(std::function<void()> f) {
    {
      std::lock_guard lock(mu_);
      q_.push_back(std::move(f));
    }
    cv_.notify_one();
  }

 private:
  void run() {
    for (;;) {
      std::function<void()> f;
      {
        std::unique_lock lock(mu_);
        cv_.wait(lock, [this] { return !q_.empty(); });
        f = std::move(q_.front());
        q_.pop_front();
      }
      if (!f) return;
      f();
    }
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> q_;
  std::thread worker_;
};

constexpr int kBlocks = 200000;

double bareThroughput() {
  std::atomic<int> done{0};
  auto start = Clock::now();
  {
    BareQueue q;
    for (int i = 0; i < kBlocks; ++i) q.push([&] { done.fetch_add(1, std::memory_order_relaxed); });
    while (done.load() < kBlocks) std::this_thread::yield();
  }
  return kBlocks / secondsSince(start);
}

double serialThroughput() {
  auto q = dispatch::Queue::createSerial("com.quillon.pelmark.bench");
  int done = 0;
  auto start = Clock::now();
  for (int i = 0; i < kBlocks; ++i) q->async([&] { ++done; });
  q->sync([] {});
  return kBlocks / secondsSince(start);
}

double mainThroughput() {
  auto main = dispatch::Queue::main();
  int done = 0;
  std::atomic<bool> finished{false};
  auto start = Clock::now();
  std::thread producer([&] {
    for (int i = 0; i < kBlocks; ++i) main->async([&] { ++done; });
    main->async([&] { finished = true; });
  });
  dispatch::RunLoop::main().runUntil([&] { return finished.load(); }, 60);
  producer.join();
  return kBlocks / secondsSince(start);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

constexpr int kSamples = 200;
constexpr double kDelay = 0.002;

double bareLateness() {
  std::vector<double> late;
  for (int i = 0; i < kSamples; ++i) {
    std::mutex mu;
    std::condition_variable cv;
    bool fired = false;
    auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kDelay));
    std::thread t([&] {
      std::this_thread::sleep_until(due);
      std::lock_guard lock(mu);
      fired = true;
      cv.notify_one();
    });
    std::unique_lock lock(mu);
    cv.wait(lock, [&] { return fired; });
    late.push_back(std::chrono::duration<double>(Clock::now() - due).count());
    lock.unlock();
    t.join();
  }
  return median(late);
}

double afterLateness(const dispatch::QueuePtr& q, bool onMain) {
  std::vector<double> late;
  for (int i = 0; i < kSamples; ++i) {
    std::atomic<bool> fired{false};
    double lateness = 0;
    auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kDelay));
    dispatch::after(kDelay, q, [&] {
      lateness = std::chrono::duration<double>(Clock::now() - due).count();
      fired = true;
    });
    if (onMain) {
      dispatch::RunLoop::main().runUntil([&] { return fired.load(); }, 5);
    } else {
      while (!fired.load()) std::this_thread::yield();
    }
    late.push_back(lateness);
  }
  return median(late);
}

double timerLateness() {
  std::vector<double> late;
  for (int i = 0; i < kSamples; ++i) {
    bool fired = false;
    auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kDelay));
    auto timer = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(kDelay, false, 0, [&](auto&) {
      late.push_back(std::chrono::duration<double>(Clock::now() - due).count());
      fired = true;
    });
    dispatch::RunLoop::main().runUntil([&] { return fired; }, 5);
  }
  return median(late);
}

}  // namespace

int main(int argc, char** argv) {
  bench::parseOptionsOrExit(argc, argv, {}, 0, "bench_queues");
  double bare = bareThroughput();
  double serial = serialThroughput();
  double mainQ = mainThroughput();
  std::printf("throughput (blocks/s)\n");
  std::printf("  bare std::thread queue  %12.0f\n", bare);
  std::printf("  serial queue            %12.0f   bare/serial %.2fx\n", serial, bare / serial);
  std::printf("  main queue              %12.0f   bare/main   %.2fx\n", mainQ, bare / mainQ);

  double bareLate = bareLateness() * 1000;
  double afterSerial = afterLateness(dispatch::Queue::createSerial("com.quillon.pelmark.bench-after"), false) * 1000;
  double afterMain = afterLateness(dispatch::Queue::main(), true) * 1000;
  double timer = timerLateness() * 1000;
  std::printf("median lateness of a %.0f ms delay (ms)\n", kDelay * 1000);
  std::printf("  bare sleep_until thread %8.3f\n", bareLate);
  std::printf("  after, serial queue     %8.3f   ratio %.2fx\n", afterSerial, afterSerial / std::max(bareLate, 1e-6));
  std::printf("  after, main queue       %8.3f   ratio %.2fx\n", afterMain, afterMain / std::max(bareLate, 1e-6));
  std::printf("  run-loop block timer    %8.3f   ratio %.2fx\n", timer, timer / std::max(bareLate, 1e-6));

  bool ok = bare / serial <= 3 && bare / mainQ <= 3 && afterSerial < 2 && afterMain < 2 && timer < 2;
  std::printf("targets (throughput within 3x, median lateness under 2 ms): %s\n", ok ? "met" : "NOT met");
  return 0;
}
