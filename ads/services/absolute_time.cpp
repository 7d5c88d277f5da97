#include "ads/services/absolute_time.h"

#include "platform/foundation/clock.h"

std::uint64_t QMACurrentAbsoluteTimeInMilliseconds() {
  static const double base = foundation::Clock::monotonic();
  // The small bias keeps whole milliseconds whole despite the rounding of seconds in a double.
  double ms = (foundation::Clock::monotonic() - base) * 1000.0 + 1.0 + 1e-6;
  return ms < 1.0 ? 1 : static_cast<std::uint64_t>(ms);
}

foundation::Value QMAAbsoluteTime::absoluteTimeInMilliseconds() {
  return foundation::Value(static_cast<unsigned long long>(QMACurrentAbsoluteTimeInMilliseconds()));
}
