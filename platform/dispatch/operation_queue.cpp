#include "platform/dispatch/operation_queue.h"

#include <algorithm>
#include <vector>

namespace dispatch {
namespace {
// The operation queues whose operations the calling thread runs, as a chain of stack
// frames (trivially destructible, so usable while the process exits).
struct OperationScope {
  explicit OperationScope(const OperationQueue* q) : queue(q), outer(top) { top = this; }
  ~OperationScope() { top = outer; }
  OperationScope(const OperationScope&) = delete;
  OperationScope& operator=(const OperationScope&) = delete;
  const OperationQueue* queue;
  const OperationScope* outer;
  static thread_local const OperationScope* top;
};
thread_local const OperationScope* OperationScope::top = nullptr;

bool runsOperationOf(const OperationQueue* q) {
  for (const OperationScope* s = OperationScope::top; s; s = s->outer)
    if (s->queue == q) return true;
  return false;
}
}  // namespace

OperationQueue::OperationQueue(std::string name, int max, QueuePtr target)
    : name_(std::move(name)), target_(std::move(target)), max_(max) {}

std::shared_ptr<OperationQueue> OperationQueue::mainQueue() {
  // Never destroyed, as the main queue itself: operations may still be added from other
  // threads while the process exits.
  static const auto* q = new std::shared_ptr<OperationQueue>(new OperationQueue("main", 1, Queue::main()));
  return *q;
}

std::shared_ptr<OperationQueue> OperationQueue::create(std::string name, int maxConcurrentOperationCount) {
  return std::shared_ptr<OperationQueue>(
      new OperationQueue(std::move(name), maxConcurrentOperationCount == 0 ? 1 : maxConcurrentOperationCount,
                         Queue::global()));
}

int OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(mu_);
  return max_;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  std::unique_lock lock(mu_);
  if (this == mainQueue().get()) return;  // the main queue stays one at a time
  max_ = count == 0 ? 1 : count;
  startReady(lock);
}

void OperationQueue::addOperationWithBlock(Block block) {
  if (!block) return;
  std::unique_lock lock(mu_);
  pending_.push_back(std::move(block));
  startReady(lock);
}

void OperationQueue::startReady(std::unique_lock<std::mutex>& lock) {
  std::vector<Block> start;
  while (!pending_.empty() && (max_ < 0 || running_ < max_)) {
    start.push_back(std::move(pending_.front()));
    pending_.pop_front();
    ++running_;
  }
  lock.unlock();
  auto self = shared_from_this();
  for (auto& b : start) {
    target_->async([self, b = std::move(b)] {
      {
        OperationScope scope(self.get());
        b();
      }
      self->finished();
    });
  }
  lock.lock();
}

void OperationQueue::finished() {
  std::unique_lock lock(mu_);
  --running_;
  startReady(lock);
  if (running_ == 0 && pending_.empty()) idle_.notify_all();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  if (runsOperationOf(this)) return;
  if (this == mainQueue().get() && isMainThread()) {
    // Operations of the main queue need the main thread: run them here until idle.
    while (operationCount() > 0) RunLoop::main().runOnce(0.01);
    return;
  }
  std::unique_lock lock(mu_);
  idle_.wait(lock, [this] { return running_ == 0 && pending_.empty(); });
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(mu_);
  return pending_.size() + static_cast<std::size_t>(running_);
}

bool OperationQueue::isCurrent() const {
  if (this == mainQueue().get()) return isMainThread();
  return runsOperationOf(this);
}

}  // namespace dispatch
