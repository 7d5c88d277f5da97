#include "platform/uikit/animation.h"

#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"

namespace uikit {

void animateWithDuration(double duration, const std::function<void()>& animations,
                         std::function<void(bool finished)> completion) {
  WV_DCHECK_MAIN_THREAD();
  if (animations) animations();
  if (!completion) return;
  dispatch::after(duration > 0 ? duration : 0, dispatch::Queue::main(),
                  [completion = std::move(completion)] { completion(true); });
}

}  // namespace uikit
