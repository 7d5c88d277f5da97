#include "ads/services/absolute_time.h"

#include <atomic>

#include "platform/foundation/clock.h"

std::uint64_t QMACurrentAbsoluteTimeInMilliseconds() {
  static const double base = foundation::Clock::monotonic();
  // Readings never go back, even when a test hands the process clock back to the system.
  static std::atomic<std::uint64_t> last{0};
  double ms = (foundation::Clock::monotonic() - base) * 1000.0 + 1.0;
  std::uint64_t now = ms < 1.0 ? 1 : static_cast<std::uint64_t>(ms);
  std::uint64_t prev = last.load();
  while (now > prev && !last.compare_exchange_weak(prev, now)) {
  }
  return now > prev ? now : prev;
}

foundation::Value QMAAbsoluteTime::absoluteTimeInMilliseconds() {
  return foundation::Value(static_cast<unsigned long long>(QMACurrentAbsoluteTimeInMilliseconds()));
}
