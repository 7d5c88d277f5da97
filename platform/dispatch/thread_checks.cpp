#include "platform/dispatch/thread_checks.h"

#include <cstdio>
#include <cstdlib>

namespace dispatch::detail {

void threadCheckFailed(const char* rule, const char* file, int line) {
  std::string on = currentQueueLabel();
  std::fprintf(stderr, "thread check failed at %s:%d: %s (running on %s)\n", file, line, rule,
               on.empty() ? "a thread outside any queue" : ("queue \"" + on + "\"").c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace dispatch::detail
