#pragma once
// Operation queues: blocks run on a dispatch queue with a bound on how many run at once,
// and a caller can wait until the queue is idle. The main operation queue runs its
// operations on the main thread, one at a time.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/queue.h"

namespace dispatch {

class OperationQueue : public foundation::Executor, public std::enable_shared_from_this<OperationQueue> {
 public:
  static constexpr int kDefaultMaxConcurrentOperationCount = -1;  // no bound

  static std::shared_ptr<OperationQueue> mainQueue();
  static std::shared_ptr<OperationQueue> create(std::string name = "",
                                                int maxConcurrentOperationCount = kDefaultMaxConcurrentOperationCount);

  const std::string& name() const { return name_; }
  int maxConcurrentOperationCount() const;
  void setMaxConcurrentOperationCount(int count);

  void addOperationWithBlock(Block block);
  // Waits until every operation added so far (and any they add) has finished. Called from
  // an operation of this queue it returns at once, since it would wait for itself.
  void waitUntilAllOperationsAreFinished();
  // Operations queued or running.
  std::size_t operationCount() const;
  // Whether the calling thread runs an operation of this queue (the main queue: the main thread).
  bool isCurrent() const;

  void execute(std::function<void()> block) override { addOperationWithBlock(std::move(block)); }
  bool runsOnCurrentThread() const override { return isCurrent(); }
  // The dispatch queue its operations run on.
  const QueuePtr& underlyingQueue() const { return target_; }

 private:
  OperationQueue(std::string name, int max, QueuePtr target);
  void startReady(std::unique_lock<std::mutex>& lock);
  void finished();

  std::string name_;
  QueuePtr target_;
  mutable std::mutex mu_;
  std::condition_variable idle_;
  std::deque<Block> pending_;
  int max_;
  int running_ = 0;
};

}  // namespace dispatch
