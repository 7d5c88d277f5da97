#pragma once
// A thread's run loop: blocks performed on it, timers, and file-descriptor sources.
// The main run loop belongs to the thread that first asks for it (the program's main
// thread). Timers run on the process clock (foundation::Clock), so a hand-driven clock
// fires them when it is advanced.

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace dispatch {

using Block = std::function<void()>;

// The mode a run loop runs in. Timers added in the common modes fire in every mode;
// timers added in the default mode only while the loop runs in the default mode.
enum class RunLoopMode { Default, Tracking };
enum class TimerModes { Default, Common };

class RunLoop {
 public:
  using Id = std::uint64_t;

  static RunLoop& main();
  // The calling thread's run loop, made on first use.
  static RunLoop& current();

  RunLoop();
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // Queues a block to run on this loop's thread at its next pass; callable from any thread.
  void performBlock(Block block);
  // Queues a block to run on this loop's thread once the loop has served what is ready:
  // at the end of the pass under way (after its queued blocks, due timers and ready
  // sources), or of the next pass when queued from outside one. Only a pass of the
  // loop's outermost run counts: a pass run from inside one of the loop's own blocks,
  // timers or sources (a handler that drains the loop before it answers) leaves such a
  // block waiting, so it never comes between a handler and its answer. Callable from
  // any thread.
  void performBlockAfterPass(Block block);

  // A timer first due `delay` seconds from now; with `repeats`, every `interval` after that.
  // Callable from any thread. The block runs on this loop's thread.
  Id addTimer(double delay, double interval, bool repeats, Block block, TimerModes modes = TimerModes::Default,
              double tolerance = 0);
  // After this returns the timer's block is not started again (one already running finishes).
  void invalidateTimer(Id timer);
  bool isTimerValid(Id timer) const;

  // Calls `onReadable` on this loop's thread whenever `fd` is readable.
  Id addFileDescriptorSource(int fd, Block onReadable);
  void removeFileDescriptorSource(Id source);

  // Another event loop served inside this loop's own single wait, so its callbacks run
  // on this thread with everything else and nothing else spins. Before each wait
  // `prepare` appends the descriptors it waits on and may shorten the wait (seconds,
  // negative for no bound of its own); right after the wait `dispatch` gets those same
  // descriptors with their revents. Every prepare is followed by its dispatch, also in
  // a pass nested inside another. The loop's thread only.
  struct ExternalSource {
    std::function<void(std::vector<pollfd>& fds, double& timeoutSeconds)> prepare;
    std::function<void(pollfd* fds, std::size_t count)> dispatch;
  };
  Id addExternalSource(ExternalSource source);
  void removeExternalSource(Id source);

  // One pass: waits at most `timeoutSeconds` of real time for work, then runs the queued
  // blocks, the due timers and the ready sources, and, unless it is nested in another
  // pass, the blocks queued to run after a pass. Returns whether anything ran.
  bool runOnce(double timeoutSeconds, RunLoopMode mode = RunLoopMode::Default);
  // Runs until stop() or until nothing could ever wake it.
  void run();
  // Runs passes until `done` answers true or `timeoutSeconds` of real time pass.
  bool runUntil(const std::function<bool()>& done, double timeoutSeconds,
                RunLoopMode mode = RunLoopMode::Default);
  // Runs everything that is ready now (queued blocks, due timers) without waiting.
  void drain();
  void stop();
  void wakeUp();

  // Monotonic time of the next due timer that may fire in `mode`, or a negative number.
  double nextTimerDate(RunLoopMode mode = RunLoopMode::Default) const;

 private:
  struct Impl;
  // Takes every block of `queue` (a list of impl_, under its lock) and runs them; whether
  // there were any.
  bool runQueued(std::deque<Block>& queue);
  void wakeUpFromOtherThread();
  std::unique_ptr<Impl> impl_;
};

bool isMainThread();

}  // namespace dispatch
