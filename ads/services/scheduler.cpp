#include "ads/services/scheduler.h"

#include <cmath>

#include "platform/foundation/format.h"

std::shared_ptr<QMATimer> QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(double interval,
                                                                                           bool repeats,
                                                                                           double tolerance,
                                                                                           Block block) {
  std::shared_ptr<QMATimer> timer(new QMATimer());
  timer->interval_ = std::isfinite(interval) && interval > 0 ? interval : 0;
  timer->repeats_ = repeats && timer->interval_ > 0;
  if (tolerance > 0) timer->tolerance_ = tolerance;
  auto target = std::make_shared<QMABlockTimerTarget>(std::move(block));
  // The run loop's entry owns the target and the timer; invalidation drops both.
  timer->id_ = dispatch::RunLoop::main().addTimer(
      timer->interval_, timer->interval_, timer->repeats_, [target, timer] { target->timerFired(timer); },
      dispatch::TimerModes::Common, timer->tolerance_);
  return timer;
}

void QMATimer::invalidate() { dispatch::RunLoop::main().invalidateTimer(id_); }

bool QMATimer::isValid() const { return dispatch::RunLoop::main().isTimerValid(id_); }

std::shared_ptr<QMAScheduler> QMAScheduler::initWithInterval(double interval) {
  if (!std::isfinite(interval) || interval <= 0) return nullptr;
  std::shared_ptr<QMAScheduler> s(new QMAScheduler());
  s->interval_ = interval;
  return s;
}

QMAScheduler::~QMAScheduler() {
  if (timer_) timer_->invalidate();
}

std::int64_t QMAScheduler::taskIDScheduledOnQueueBlock(const dispatch::QueuePtr& queue, std::function<void()> block) {
  if (!queue || !block) return -1;
  std::lock_guard lock(mu_);
  std::int64_t id = ++taskID_;
  blocks_[id] = QMASchedulerTask{std::move(block), queue};
  return id;
}

void QMAScheduler::unscheduleTaskWithID(std::int64_t taskID) {
  std::lock_guard lock(mu_);
  blocks_.erase(taskID);
}

void QMAScheduler::start() {
  std::lock_guard lock(mu_);
  if (timer_) return;
  std::weak_ptr<QMAScheduler> weak = shared_from_this();
  timer_ = QMATimer::qma_scheduledTimerWithTimeIntervalRepeatsToleranceBlock(
      interval_, true, interval_ / 10, [weak](const std::shared_ptr<QMATimer>&) {
        if (auto self = weak.lock()) self->executeBlocks();
      });
}

void QMAScheduler::stop() {
  std::shared_ptr<QMATimer> timer;
  {
    std::lock_guard lock(mu_);
    timer.swap(timer_);
  }
  if (timer) timer->invalidate();
}

void QMAScheduler::executeBlocks() {
  std::map<std::int64_t, QMASchedulerTask> tasks;
  {
    std::lock_guard lock(mu_);
    tasks = blocks_;
  }
  for (auto& [id, task] : tasks) task.queue->async(task.block);
}

std::string QMAScheduler::description() const {
  std::lock_guard lock(mu_);
  return foundation::stringWithFormat("%@ %p: %tu blocks, %f interval", "QMAScheduler", this, blocks_.size(), interval_);
}

bool QMAScheduler::isRunning() const {
  std::lock_guard lock(mu_);
  return timer_ != nullptr;
}

std::size_t QMAScheduler::taskCount() const {
  std::lock_guard lock(mu_);
  return blocks_.size();
}

std::shared_ptr<QMATimer> QMAScheduler::timer() const {
  std::lock_guard lock(mu_);
  return timer_;
}
