#pragma once
// Block timers on the main run loop, and the scheduler that ticks registered blocks onto
// their queues.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/queue.h"
#include "platform/dispatch/run_loop.h"

// A timer on the main run loop in the common modes (so it also fires while the user
// scrolls). The run loop keeps it while it is valid; holders keep it only to invalidate it.
class QMATimer : public std::enable_shared_from_this<QMATimer> {
 public:
  using Block = std::function<void(const std::shared_ptr<QMATimer>&)>;

  // The timer fires first `interval` seconds from now. A tolerance above 0 is recorded; 0
  // or less leaves the default (none). An interval that is negative or not a number counts
  // as 0, and a repeating timer of period 0 fires once instead of spinning.
  static std::shared_ptr<QMATimer> qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(double interval,
                                                                                          bool repeats,
                                                                                          double tolerance,
                                                                                          Block block);
  void invalidate();
  bool isValid() const;
  double timeInterval() const { return interval_; }
  double tolerance() const { return tolerance_; }
  bool repeats() const { return repeats_; }

 private:
  QMATimer() = default;
  dispatch::RunLoop::Id id_ = 0;
  double interval_ = 0;
  double tolerance_ = 0;
  bool repeats_ = false;
};

// The target of a block timer: it holds nothing but the block.
class QMABlockTimerTarget {
 public:
  explicit QMABlockTimerTarget(QMATimer::Block block) : block_(std::move(block)) {}
  void timerFired(const std::shared_ptr<QMATimer>& timer) const {
    if (block_) block_(timer);
  }

 private:
  QMATimer::Block block_;
};

// One repeating timer that, at each tick, dispatches every registered block to the queue
// given at its registration. Task identifiers count from 1 and are never reused.
class QMAScheduler : public std::enable_shared_from_this<QMAScheduler> {
 public:
  // Nullptr: a scheduler exists only with a period above 0 (a period of 0, a negative one
  // or one that is not a number would make its timer spin).
  static std::shared_ptr<QMAScheduler> initWithInterval(double interval);
  ~QMAScheduler();

  // -1 when the queue or the block is missing.
  std::int64_t taskIDScheduledOnQueueBlock(const dispatch::QueuePtr& queue, std::function<void()> block);
  void unscheduleTaskWithID(std::int64_t taskID);
  void start();
  void stop();
  void executeBlocks();
  std::string description() const;

  double interval() const { return interval_; }
  bool isRunning() const;
  std::size_t taskCount() const;
  std::shared_ptr<QMATimer> timer() const;

 private:
  struct QMASchedulerTask {
    std::function<void()> block;
    dispatch::QueuePtr queue;
  };
  QMAScheduler() = default;
  mutable std::mutex mu_;
  std::int64_t taskID_ = 0;
  std::map<std::int64_t, QMASchedulerTask> blocks_;
  double interval_ = 0;
  std::shared_ptr<QMATimer> timer_;
};
