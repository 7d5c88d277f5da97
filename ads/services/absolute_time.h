#pragma once
// The ad component's one clock: monotonic milliseconds since its first reading in the
// process, which reads 1, so 0 can mean "not set" in timestamps. It follows the process
// clock (foundation::Clock::monotonic), so tests move it by hand.

#include <cstdint>

#include "platform/foundation/value.h"

std::uint64_t QMACurrentAbsoluteTimeInMilliseconds();

class QMAAbsoluteTime {
 public:
  QMAAbsoluteTime() = delete;
  // The same reading as a number value.
  static foundation::Value absoluteTimeInMilliseconds();
};
