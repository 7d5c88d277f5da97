#include "platform/dispatch/run_loop.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/clock.h"

namespace dispatch {

using foundation::Clock;

namespace {
struct WakeFd {
  WakeFd() : fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~WakeFd() {
    if (fd >= 0) close(fd);
  }
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;
  void signal() const {
    uint64_t one = 1;
    [[maybe_unused]] auto n = write(fd, &one, sizeof one);
  }
  const int fd;
};
}  // namespace

struct RunLoop::Impl {
  struct Timer {
    double due = 0;
    double interval = 0;
    bool repeats = false;
    TimerModes modes = TimerModes::Default;
    std::shared_ptr<Block> block;
  };
  struct Source {
    int fd;
    std::shared_ptr<Block> block;
  };

  mutable std::mutex mu;
  std::deque<Block> blocks;
  std::deque<Block> afterPass;
  // How many passes are under way, one inside another; the loop's thread only.
  int depth = 0;
  // The thread that runs this loop's passes. Work it adds for the loop needs no wake-up:
  // it is not waiting, and its next pass looks at the blocks, timers and sources first.
  std::atomic<std::thread::id> passThread{};
  std::map<Id, Timer> timers;
  std::map<Id, Source> sources;
  std::map<Id, std::shared_ptr<ExternalSource>> externals;
  Id nextId = 1;
  // Shared with the clock listener: a clock move on another thread may still be
  // calling it while the loop is destroyed, and must then write to a live descriptor,
  // not to a closed one or one the number has since been given to.
  std::shared_ptr<WakeFd> wake;
  int wakeFd = -1;
  int clockToken = 0;
  std::atomic<bool> stopped{false};

  static bool firesIn(const Timer& t, RunLoopMode mode) {
    return t.modes == TimerModes::Common || mode == RunLoopMode::Default;
  }
};

namespace {
std::thread::id& mainThreadId() {
  static std::thread::id id;
  return id;
}
}  // namespace

RunLoop& RunLoop::main() {
  static RunLoop* loop = [] {
    mainThreadId() = std::this_thread::get_id();
    // The kernel lets a sleeping thread's wake-up slip by its timer slack (50 us by
    // default), so every timer of the main loop would fire that much late; pages time
    // their work in single milliseconds. Threads started from here on inherit it (the
    // pool's, the delayed blocks' thread), so their timed waits are as punctual.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    return &current();
  }();
  return *loop;
}

RunLoop& RunLoop::current() {
  // Leaked on purpose: blocks and timers may still refer to a thread's loop while
  // static objects are destroyed at exit.
  thread_local RunLoop* loop = new RunLoop();
  return *loop;
}

bool isMainThread() {
  RunLoop::main();
  return std::this_thread::get_id() == mainThreadId();
}

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {
  impl_->wake = std::make_shared<WakeFd>();
  impl_->wakeFd = impl_->wake->fd;
  impl_->clockToken = Clock::addListener([wake = impl_->wake] { wake->signal(); });
}

RunLoop::~RunLoop() { Clock::removeListener(impl_->clockToken); }

void RunLoop::wakeUp() { impl_->wake->signal(); }

void RunLoop::wakeUpFromOtherThread() {
  if (impl_->passThread.load(std::memory_order_relaxed) != std::this_thread::get_id()) wakeUp();
}

void RunLoop::performBlock(Block block) {
  {
    std::lock_guard lock(impl_->mu);
    impl_->blocks.push_back(std::move(block));
  }
  wakeUpFromOtherThread();
}

void RunLoop::performBlockAfterPass(Block block) {
  {
    std::lock_guard lock(impl_->mu);
    impl_->afterPass.push_back(std::move(block));
  }
  wakeUpFromOtherThread();
}

RunLoop::Id RunLoop::addTimer(double delay, double interval, bool repeats, Block block, TimerModes modes,
                              double /*tolerance*/) {
  Id id;
  {
    std::lock_guard lock(impl_->mu);
    id = impl_->nextId++;
    Impl::Timer t;
    t.due = Clock::monotonic() + std::max(0.0, delay);
    t.interval = interval;
    t.repeats = repeats && interval > 0;
    t.modes = modes;
    t.block = std::make_shared<Block>(std::move(block));
    impl_->timers.emplace(id, std::move(t));
  }
  // The loop's own thread computes its next wait from the timers before it waits again.
  wakeUpFromOtherThread();
  return id;
}

void RunLoop::invalidateTimer(Id timer) {
  std::lock_guard lock(impl_->mu);
  impl_->timers.erase(timer);
}

bool RunLoop::isTimerValid(Id timer) const {
  std::lock_guard lock(impl_->mu);
  return impl_->timers.count(timer) != 0;
}

RunLoop::Id RunLoop::addFileDescriptorSource(int fd, Block onReadable) {
  Id id;
  {
    std::lock_guard lock(impl_->mu);
    id = impl_->nextId++;
    impl_->sources.emplace(id, Impl::Source{fd, std::make_shared<Block>(std::move(onReadable))});
  }
  wakeUpFromOtherThread();
  return id;
}

void RunLoop::removeFileDescriptorSource(Id source) {
  {
    std::lock_guard lock(impl_->mu);
    impl_->sources.erase(source);
  }
  wakeUpFromOtherThread();
}

RunLoop::Id RunLoop::addExternalSource(ExternalSource source) {
  std::lock_guard lock(impl_->mu);
  const Id id = impl_->nextId++;
  impl_->externals.emplace(id, std::make_shared<ExternalSource>(std::move(source)));
  return id;
}

void RunLoop::removeExternalSource(Id source) {
  std::lock_guard lock(impl_->mu);
  impl_->externals.erase(source);
}

double RunLoop::nextTimerDate(RunLoopMode mode) const {
  std::lock_guard lock(impl_->mu);
  double next = -1;
  for (const auto& [id, t] : impl_->timers)
    if (Impl::firesIn(t, mode) && (next < 0 || t.due < next)) next = t.due;
  return next;
}

bool RunLoop::runQueued(std::deque<Block>& queue) {
  std::deque<Block> taken;
  {
    std::lock_guard lock(impl_->mu);
    taken.swap(queue);
  }
  for (auto& b : taken)
    if (b) b();
  return !taken.empty();
}

bool RunLoop::runOnce(double timeoutSeconds, RunLoopMode mode) {
  struct Depth {
    explicit Depth(Impl& i) : impl(i), depth(++i.depth) {
      if (depth == 1) impl.passThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    ~Depth() { --impl.depth; }
    Depth(const Depth&) = delete;
    Depth& operator=(const Depth&) = delete;
    Impl& impl;
    int depth;
  } depth(*impl_);
  const bool outermost = depth.depth == 1;
  std::vector<pollfd> fds;
  std::vector<std::pair<Id, int>> sourceIds;
  bool haveBlocks;
  double wait = std::max(0.0, timeoutSeconds);
  std::vector<std::shared_ptr<ExternalSource>> externals;
  {
    std::lock_guard lock(impl_->mu);
    for (const auto& [id, e] : impl_->externals) externals.push_back(e);
    haveBlocks = !impl_->blocks.empty() || (outermost && !impl_->afterPass.empty());
    fds.push_back({impl_->wakeFd, POLLIN, 0});
    for (const auto& [id, s] : impl_->sources) {
      fds.push_back({s.fd, POLLIN, 0});
      sourceIds.emplace_back(id, s.fd);
    }
  }
  double nextTimer = nextTimerDate(mode);
  if (haveBlocks) {
    wait = 0;
  } else if (nextTimer >= 0 && !Clock::isManual()) {
    // With a hand-driven clock a timer waits for the clock to be moved (which wakes us).
    wait = std::min(wait, std::max(0.0, nextTimer - Clock::monotonic()));
  } else if (nextTimer >= 0 && nextTimer <= Clock::monotonic()) {
    wait = 0;
  }
  // Other loops' descriptors follow ours; each source's are a run of their own.
  std::vector<std::pair<std::size_t, std::size_t>> externalRuns;
  for (const auto& e : externals) {
    const std::size_t first = fds.size();
    double limit = -1;
    e->prepare(fds, limit);
    externalRuns.emplace_back(first, fds.size() - first);
    if (limit >= 0) wait = std::min(wait, limit);
  }
  // The wait to the nanosecond: rounded up to whole milliseconds, a timer due in 0.2 ms
  // would fire 0.8 ms late.
  timespec timeout{};
  timeout.tv_sec = static_cast<time_t>(wait);
  timeout.tv_nsec = static_cast<long>((wait - static_cast<double>(timeout.tv_sec)) * 1e9);
  if (timeout.tv_nsec >= 1000000000L) timeout.tv_nsec = 999999999L;
  bool ran = false;
  int rc;
  do {
    rc = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
  } while (rc < 0 && errno == EINTR);

  if (fds[0].revents & POLLIN) {
    uint64_t v;
    [[maybe_unused]] auto n = read(impl_->wakeFd, &v, sizeof v);
  }
  if (rc < 0)
    for (auto& f : fds) f.revents = 0;

  // Other loops first, so their check follows their poll before anything of ours can
  // change their state; last prepared, first dispatched.
  for (std::size_t i = externals.size(); i-- > 0;) {
    const auto [first, count] = externalRuns[i];
    externals[i]->dispatch(fds.data() + first, count);
    if (count) ran = ran || std::any_of(fds.begin() + static_cast<std::ptrdiff_t>(first),
                                        fds.begin() + static_cast<std::ptrdiff_t>(first + count),
                                        [](const pollfd& f) { return f.revents != 0; });
  }

  // Blocks queued before this pass; blocks they queue run at the next pass.
  if (runQueued(impl_->blocks)) ran = true;

  // Due timers, earliest first; each fires at most once per pass.
  double nowMono = Clock::monotonic();
  std::vector<std::pair<double, Id>> due;
  {
    std::lock_guard lock(impl_->mu);
    for (const auto& [id, t] : impl_->timers)
      if (Impl::firesIn(t, mode) && t.due <= nowMono) due.emplace_back(t.due, id);
  }
  std::sort(due.begin(), due.end());
  for (const auto& [when, id] : due) {
    std::shared_ptr<Block> block;
    {
      std::lock_guard lock(impl_->mu);
      auto it = impl_->timers.find(id);
      if (it == impl_->timers.end()) continue;
      block = it->second.block;
      if (it->second.repeats) {
        double interval = it->second.interval;
        double next = it->second.due + interval;
        // Ticks missed while the loop was busy are skipped, not replayed.
        if (next <= nowMono) next += std::ceil((nowMono - next) / interval + 1e-9) * interval;
        it->second.due = next;
      } else {
        impl_->timers.erase(it);
      }
    }
    (*block)();
    ran = true;
  }

  for (size_t i = 1; i <= sourceIds.size(); ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    std::shared_ptr<Block> block;
    {
      std::lock_guard lock(impl_->mu);
      auto it = impl_->sources.find(sourceIds[i - 1].first);
      if (it == impl_->sources.end()) continue;
      block = it->second.block;
    }
    (*block)();
    ran = true;
  }

  // Blocks queued after a pass by these run at the end of the next one.
  if (outermost && runQueued(impl_->afterPass)) ran = true;
  return ran;
}

void RunLoop::run() {
  impl_->stopped = false;
  while (!impl_->stopped) runOnce(3600);
}

bool RunLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds, RunLoopMode mode) {
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    if (done()) return true;
    timespec nowTs{};
    clock_gettime(CLOCK_MONOTONIC, &nowTs);
    double elapsed = static_cast<double>(nowTs.tv_sec - start.tv_sec) +
                     static_cast<double>(nowTs.tv_nsec - start.tv_nsec) / 1e9;
    if (elapsed >= timeoutSeconds) return done();
    runOnce(std::min(0.05, timeoutSeconds - elapsed), mode);
  }
}

void RunLoop::drain() {
  while (runOnce(0)) {
  }
}

void RunLoop::stop() {
  impl_->stopped = true;
  wakeUp();
}

}  // namespace dispatch
