#pragma once
// Thread rules written into the code. A header says on which thread or queue each
// method runs; the method starts with the matching check, and debug builds (no NDEBUG:
// the sanitizer builds) abort with the rule that was broken, so a wrong hop fails a
// test instead of racing. Release builds compile the checks away.
//
//   WV_DCHECK_MAIN_THREAD();         the calling thread is the main thread
//   WV_DCHECK_ON_QUEUE(queue);       the caller runs a block of `queue` (a QueuePtr or Queue*)
//   WV_DCHECK_NOT_ON_QUEUE(queue);   the caller does not (it is about to sync onto it)

#include "platform/dispatch/queue.h"
#include "platform/dispatch/run_loop.h"

namespace dispatch::detail {
// Prints the broken rule, where, and the queue the caller is on, then aborts.
[[noreturn]] void threadCheckFailed(const char* rule, const char* file, int line);
template <class Q>
const Queue* queuePointer(const Q& q) {
  if constexpr (std::is_pointer_v<Q>) {
    return q;
  } else {
    return q.get();
  }
}
}  // namespace dispatch::detail

#ifndef NDEBUG
#define WV_DCHECK_MAIN_THREAD()                                                                 \
  do {                                                                                          \
    if (!::dispatch::isMainThread())                                                            \
      ::dispatch::detail::threadCheckFailed("must run on the main thread", __FILE__, __LINE__); \
  } while (0)
#define WV_DCHECK_ON_QUEUE(queue)                                                                 \
  do {                                                                                            \
    const ::dispatch::Queue* wv_q_ = ::dispatch::detail::queuePointer(queue);                     \
    if (!wv_q_ || !wv_q_->isCurrent())                                                            \
      ::dispatch::detail::threadCheckFailed("must run on queue " #queue, __FILE__, __LINE__);     \
  } while (0)
#define WV_DCHECK_NOT_ON_QUEUE(queue)                                                             \
  do {                                                                                            \
    const ::dispatch::Queue* wv_q_ = ::dispatch::detail::queuePointer(queue);                     \
    if (wv_q_ && wv_q_->isCurrent())                                                              \
      ::dispatch::detail::threadCheckFailed("must not run on queue " #queue, __FILE__, __LINE__); \
  } while (0)
#else
#define WV_DCHECK_MAIN_THREAD() ((void)0)
#define WV_DCHECK_ON_QUEUE(queue) ((void)0)
#define WV_DCHECK_NOT_ON_QUEUE(queue) ((void)0)
#endif
