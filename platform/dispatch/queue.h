#pragma once
// Dispatch queues: serial queues with labels, the main queue (drained by the main run
// loop), the global concurrent queue, delayed blocks on the process clock, and once.
//
// A serial queue runs one block at a time, in the order the blocks were queued. `sync`
// runs its block after every block queued before it and before any queued after it; the
// caller waits. Serial queues run on a shared pool of real threads, so a program may own
// many of them cheaply; `sync` runs its block on the calling thread once the queue is
// free, so nested syncs across queues never tie up pool threads. When the blocks ahead of
// a `sync` are still waiting for a pool thread to start them, the caller runs them itself,
// in order and each in the queue's scope alone, instead of waiting for a thread to wake:
// a serial queue's blocks may so run on any thread, the main thread included, never two
// at a time. A waiting caller looks for its turn for a few microseconds before it sleeps.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/run_loop.h"
#include "platform/foundation/executor.h"

namespace dispatch {

class Queue : public foundation::Executor {
 public:
  enum class Kind { Serial, Main, Global };

  // A new serial queue. The label is kept for descriptions and logs.
  static std::shared_ptr<Queue> createSerial(std::string label);
  // The main queue: its blocks run on the main thread, drained by the main run loop.
  // It and the global queue live to the very end of the process.
  static std::shared_ptr<Queue> main();
  // The concurrent queue of default priority: blocks run on pool threads, in parallel.
  static std::shared_ptr<Queue> global();

  ~Queue() override;
  Queue(const Queue&) = delete;
  Queue& operator=(const Queue&) = delete;

  const std::string& label() const;
  Kind kind() const { return kind_; }

  // Queues the block and returns at once.
  void async(Block block);
  // Runs the block after the blocks queued before it and waits for it. Called from a
  // block already running on this queue (or from the main thread for the main queue),
  // the block runs at once instead of waiting for itself.
  void sync(const Block& block);
  // Whether the calling thread is running a block of this queue.
  bool isCurrent() const;

  void execute(std::function<void()> block) override { async(std::move(block)); }
  bool runsOnCurrentThread() const override { return isCurrent(); }

  struct Impl;

 private:
  Queue(Kind kind, std::string label);
  Kind kind_;
  // Blocks still queued keep the Impl (label included) alive after the last owner of
  // the Queue lets it go, as they keep a queue alive on the platform.
  std::shared_ptr<Impl> impl_;
};

using QueuePtr = std::shared_ptr<Queue>;

// Queues `block` on `queue` once `seconds` have passed on the process clock
// (foundation::Clock::monotonic). With a hand-driven clock the block is queued by the
// call that moves the clock past its due time, before that call returns.
void after(double seconds, const QueuePtr& queue, Block block);

// The label of the queue whose block the calling thread runs, or "" outside any queue
// ("com.apple.main-thread" style names are not used: the main queue's label is "main").
std::string currentQueueLabel();

// Runs `fn` exactly once per flag, however many threads race to it.
using OnceFlag = std::once_flag;
template <class F>
void once(OnceFlag& flag, F&& fn) {
  std::call_once(flag, std::forward<F>(fn));
}

}  // namespace dispatch
