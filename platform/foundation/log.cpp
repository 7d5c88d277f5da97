#include "platform/foundation/log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/foundation/clock.h"

namespace foundation {
namespace {
// Never destroyed: work on other threads may log while the process exits.
std::mutex& mu() {
  static std::mutex* m = new std::mutex();
  return *m;
}
LogSink& sink() {
  static LogSink* s = new LogSink();
  return *s;
}
}  // namespace

void systemLog(const std::string& text) {
  std::lock_guard lock(mu());
  if (sink()) {
    sink()(text);
    return;
  }
  double now = Clock::now();
  std::time_t t = static_cast<std::time_t>(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  std::fprintf(stderr, "%s.%03d %s[%d] %s\n", stamp, static_cast<int>((now - static_cast<double>(t)) * 1000),
               program_invocation_short_name, static_cast<int>(getpid()), text.c_str());
}

LogSink setLogSink(LogSink s) {
  std::lock_guard lock(mu());
  LogSink old = std::move(sink());
  sink() = std::move(s);
  return old;
}

}  // namespace foundation
