// Any text given to the HTTP date readers gives a date or nothing; a date read back
// from our own written form is the same second.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/net/http_date.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  double now = 1.7e9;
  if (auto t = net::parseHTTPDate(text, now)) {
    if (!std::isfinite(*t)) std::abort();
    // Written years have four digits: only dates from year 1 to 9999 come back.
    if (*t < -62135596800.0 || *t >= 253402300800.0) return 0;
    auto again = net::parseHTTPDateWithoutZone(net::formatHTTPDateWithoutZone(*t));
    if (!again || *again != std::floor(*t)) std::abort();
  }
  (void)net::parseHTTPDateWithoutZone(text);
  return 0;
}
