#include "platform/dispatch/queue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <thread>
#include <vector>

#include "platform/foundation/clock.h"

namespace dispatch {
namespace {

// The threads that run serial-queue drains and global-queue blocks. It grows while
// every thread is busy (blocks may wait on each other) up to a fixed bound, and lives
// for the whole process so blocks still queued at exit never touch a dead pool.
class Pool {
 public:
  static Pool& shared() {
    static Pool* pool = new Pool();
    return *pool;
  }

  void submit(Block task) {
    std::unique_lock lock(mu_);
    tasks_.push_back(std::move(task));
    queued_.store(tasks_.size(), std::memory_order_release);
    if (tasks_.size() > idle_ + spinning_ && threads_ < kMaxThreads) {
      ++threads_;
      lock.unlock();
      std::thread([this] { work(); }).detach();
      return;
    }
    // A thread still spinning after its last task takes this one without being woken.
    const bool wake = tasks_.size() > spinning_;
    lock.unlock();
    if (wake) cv_.notify_one();
  }

 private:
  static constexpr std::size_t kMaxThreads = 64;
  // How long a thread that ran out of tasks keeps looking before it parks. Blocks often
  // come in chains (a queue's block queues the next step on another queue), and waking a
  // parked thread costs far more than this.
  static constexpr auto kSpin = std::chrono::microseconds(50);

  void work() {
    std::unique_lock lock(mu_);
    for (;;) {
      if (tasks_.empty()) {
        ++spinning_;
        lock.unlock();
        const auto until = std::chrono::steady_clock::now() + kSpin;
        while (queued_.load(std::memory_order_acquire) == 0 && std::chrono::steady_clock::now() < until) {
          std::this_thread::yield();
        }
        lock.lock();
        --spinning_;
      }
      ++idle_;
      cv_.wait(lock, [this] { return !tasks_.empty(); });
      --idle_;
      Block task = std::move(tasks_.front());
      tasks_.pop_front();
      queued_.store(tasks_.size(), std::memory_order_release);
      lock.unlock();
      task();
      task = nullptr;
      lock.lock();
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Block> tasks_;
  std::atomic<std::size_t> queued_{0};  // tasks_.size(), readable without the lock
  std::size_t idle_ = 0;
  std::size_t threads_ = 0;
  std::size_t spinning_ = 0;  // threads looking for a task before they park
};

// The queues whose blocks the calling thread is running, innermost first, as a chain of
// stack frames: a trivially destructible thread-local stays usable while static objects
// are destroyed at exit. A frame names the queue's Impl, which the running block keeps
// alive, not the Queue, which its owners may already have released.
struct CurrentScope {
  explicit CurrentScope(const Queue::Impl* q) : queue(q), outer(top) { top = this; }
  ~CurrentScope() { top = outer; }
  CurrentScope(const CurrentScope&) = delete;
  CurrentScope& operator=(const CurrentScope&) = delete;
  const Queue::Impl* queue;
  const CurrentScope* outer;
  static thread_local const CurrentScope* top;
};
thread_local const CurrentScope* CurrentScope::top = nullptr;

// The main thread is the thread that runs static initialisation, not whichever thread
// first happens to ask for the main run loop.
[[maybe_unused]] const bool kMainPinned = (RunLoop::main(), true);

}  // namespace

struct Queue::Impl {
  // A sync caller waiting for its turn (a serial queue) or for its block to have run (the
  // main queue). It looks for the signal for a short while before it sleeps: the answer
  // often comes within microseconds, and waking a sleeping thread costs far more. The
  // waiter lives on the caller's stack and is gone as soon as the caller returns, so the
  // caller returns only on `done`, which is the signalling thread's last touch of it.
  struct Waiter {
    std::mutex mu;
    std::condition_variable cv;
    bool go = false;  // (mu)
    std::atomic<bool> done{false};

    void signal() {
      {
        std::lock_guard lock(mu);
        go = true;
      }
      cv.notify_one();
      done.store(true, std::memory_order_release);
    }
    void wait() {
      const auto until = std::chrono::steady_clock::now() + kSyncSpin;
      while (!done.load(std::memory_order_acquire)) {
        if (std::chrono::steady_clock::now() >= until) {
          std::unique_lock lock(mu);
          cv.wait(lock, [this] { return go; });
          break;
        }
        std::this_thread::yield();
      }
      // Signalled: the signaller is between its notify and its last store.
      while (!done.load(std::memory_order_acquire)) std::this_thread::yield();
    }
  };
  static constexpr auto kSyncSpin = std::chrono::microseconds(50);
  struct Item {
    Block block;
    Waiter* waiter = nullptr;
  };

  explicit Impl(std::string l) : label(std::move(l)) {}

  const std::string label;
  std::mutex mu;
  std::deque<Item> items;
  // True while a drain runs or is queued on the pool, or a sync caller holds the queue.
  bool owned = false;
  // The ticket of a drain handed to the pool that no thread has started yet (0: none). A
  // sync caller that finds one runs the queued blocks itself instead of waiting for a
  // thread to wake for them; the drain, when it starts, finds its ticket gone and leaves.
  std::uint64_t pendingDrain = 0;
  std::uint64_t lastTicket = 0;

  // With `mu` held, and `owned` just taken for the drain.
  static void submitDrainLocked(const std::shared_ptr<Impl>& impl) {
    const std::uint64_t ticket = ++impl->lastTicket;
    impl->pendingDrain = ticket;
    Pool::shared().submit([impl, ticket] {
      {
        std::lock_guard lock(impl->mu);
        if (impl->pendingDrain != ticket) return;
        impl->pendingDrain = 0;
      }
      drain(impl);
    });
  }

  // With `mu` held: whether a sync caller may take the queue from a drain not started yet.
  // Not when another sync caller waits in it: the queue is handed to that one in turn.
  bool mayTakeFromPendingDrain() const {
    if (!owned || pendingDrain == 0) return false;
    return std::none_of(items.begin(), items.end(), [](const Item& i) { return i.waiter != nullptr; });
  }

  // The first `n` blocks, run by a sync caller that took the queue from a pending drain,
  // as the drain would have run them: in order, each in this queue's scope alone (not
  // inside the queues the caller itself is running).
  static void runTaken(const std::shared_ptr<Impl>& impl, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      Item item;
      {
        std::lock_guard lock(impl->mu);
        item = std::move(impl->items.front());
        impl->items.pop_front();
      }
      const CurrentScope* outer = CurrentScope::top;
      CurrentScope::top = nullptr;
      {
        CurrentScope scope(impl.get());
        item.block();
      }
      CurrentScope::top = outer;
    }
  }

  static void drain(const std::shared_ptr<Impl>& impl) {
    for (;;) {
      Item item;
      {
        std::lock_guard lock(impl->mu);
        if (impl->items.empty()) {
          impl->owned = false;
          return;
        }
        item = std::move(impl->items.front());
        impl->items.pop_front();
      }
      if (item.waiter) {
        // Hand the queue to the waiting sync caller; it releases the queue when done.
        item.waiter->signal();
        return;
      }
      CurrentScope scope(impl.get());
      item.block();
    }
  }

  // The main queue's blocks wait in `items` and run in batches on the main run loop; only
  // the first block of a batch wakes the loop.
  static void drainMain(const std::shared_ptr<Impl>& impl) {
    for (int n = 0; n < 1024; ++n) {
      Item item;
      {
        std::lock_guard lock(impl->mu);
        if (impl->items.empty()) {
          impl->owned = false;
          return;
        }
        item = std::move(impl->items.front());
        impl->items.pop_front();
      }
      CurrentScope scope(impl.get());
      item.block();
    }
    // Let the loop's timers and sources have a turn before the rest.
    RunLoop::main().performBlock([impl] { drainMain(impl); });
  }

  static void postMain(const std::shared_ptr<Impl>& impl, Block block) {
    bool start = false;
    {
      std::lock_guard lock(impl->mu);
      impl->items.push_back({std::move(block), nullptr});
      if (!impl->owned) impl->owned = start = true;
    }
    if (start) RunLoop::main().performBlock([impl] { drainMain(impl); });
  }

  static void release(const std::shared_ptr<Impl>& impl) {
    std::lock_guard lock(impl->mu);
    if (impl->items.empty()) {
      impl->owned = false;
    } else {
      submitDrainLocked(impl);
    }
  }
};

Queue::Queue(Kind kind, std::string label) : kind_(kind), impl_(std::make_shared<Impl>(std::move(label))) {}

Queue::~Queue() = default;

const std::string& Queue::label() const { return impl_->label; }

std::shared_ptr<Queue> Queue::createSerial(std::string label) {
  return std::shared_ptr<Queue>(new Queue(Kind::Serial, std::move(label)));
}

// Never destroyed: pool threads and delayed blocks may still queue onto them while the
// process exits.
std::shared_ptr<Queue> Queue::main() {
  static const auto* q = new std::shared_ptr<Queue>(new Queue(Kind::Main, "main"));
  return *q;
}

std::shared_ptr<Queue> Queue::global() {
  static const auto* q = new std::shared_ptr<Queue>(new Queue(Kind::Global, "global"));
  return *q;
}

bool Queue::isCurrent() const {
  if (kind_ == Kind::Main && isMainThread()) return true;
  for (const CurrentScope* s = CurrentScope::top; s; s = s->outer)
    if (s->queue == impl_.get()) return true;
  return false;
}

void Queue::async(Block block) {
  switch (kind_) {
    case Kind::Main:
      Impl::postMain(impl_, std::move(block));
      return;
    case Kind::Global:
      Pool::shared().submit([impl = impl_, b = std::move(block)] {
        CurrentScope scope(impl.get());
        b();
      });
      return;
    case Kind::Serial: {
      std::lock_guard lock(impl_->mu);
      impl_->items.push_back({std::move(block), nullptr});
      if (!impl_->owned) {
        impl_->owned = true;
        Impl::submitDrainLocked(impl_);
      }
      return;
    }
  }
}

void Queue::sync(const Block& block) {
  if (isCurrent() || kind_ == Kind::Global) {
    CurrentScope scope(impl_.get());
    block();
    return;
  }
  if (kind_ == Kind::Main) {
    Impl::Waiter done;
    Impl::postMain(impl_, [&block, &done] {
      block();
      done.signal();
    });
    done.wait();
    return;
  }
  Impl::Waiter waiter;
  bool wait = false;
  std::size_t taken = 0;
  {
    std::lock_guard lock(impl_->mu);
    if (!impl_->owned && impl_->items.empty()) {
      impl_->owned = true;
    } else if (impl_->mayTakeFromPendingDrain()) {
      impl_->pendingDrain = 0;
      taken = impl_->items.size();
    } else {
      impl_->items.push_back({nullptr, &waiter});
      if (!impl_->owned) {
        impl_->owned = true;
        Impl::submitDrainLocked(impl_);
      }
      wait = true;
    }
  }
  if (wait) waiter.wait();
  if (taken) Impl::runTaken(impl_, taken);
  {
    CurrentScope scope(impl_.get());
    block();
  }
  Impl::release(impl_);
}

std::string currentQueueLabel() {
  if (CurrentScope::top) return CurrentScope::top->queue->label;
  return isMainThread() ? "main" : "";
}

namespace {

// Delayed blocks, kept by due time on the process clock. A thread waits for the next
// one on the system clock; with a hand-driven clock, moving the clock queues what is due.
class DelayedBlocks {
 public:
  static DelayedBlocks& shared() {
    static DelayedBlocks* d = new DelayedBlocks();
    return *d;
  }

  void add(double due, QueuePtr queue, Block block) {
    {
      std::lock_guard lock(mu_);
      pending_.emplace(due, Entry{std::move(queue), std::move(block)});
    }
    fireDue();
    cv_.notify_one();
  }

 private:
  struct Entry {
    QueuePtr queue;
    Block block;
  };

  DelayedBlocks() {
    foundation::Clock::addListener([this] {
      fireDue();
      cv_.notify_one();
    });
    std::thread([this] { run(); }).detach();
  }

  void fireDue() {
    std::vector<Entry> ready;
    double now = foundation::Clock::monotonic();
    {
      std::lock_guard lock(mu_);
      auto end = pending_.upper_bound(now);
      for (auto it = pending_.begin(); it != end; ++it) ready.push_back(std::move(it->second));
      pending_.erase(pending_.begin(), end);
    }
    for (auto& e : ready) e.queue->async(std::move(e.block));
  }

  void run() {
    std::unique_lock lock(mu_);
    for (;;) {
      if (pending_.empty() || foundation::Clock::isManual()) {
        cv_.wait_for(lock, std::chrono::seconds(1));
      } else {
        double wait = pending_.begin()->first - foundation::Clock::monotonic();
        if (wait > 0) cv_.wait_for(lock, std::chrono::duration<double>(wait));
      }
      lock.unlock();
      if (!foundation::Clock::isManual()) fireDue();
      lock.lock();
    }
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::multimap<double, Entry> pending_;
};

}  // namespace

void after(double seconds, const QueuePtr& queue, Block block) {
  if (!queue || !block) return;
  double due = foundation::Clock::monotonic() + std::max(0.0, seconds);
  DelayedBlocks::shared().add(due, queue, std::move(block));
}

}  // namespace dispatch
