// Fuzzes the reading of a creative's calendar event: the dates on their own, and the
// whole event as the bridge hands it over (the query of a "mraid" message).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ads/render/mraid_calendar_properties.h"
#include "ads/render/qomb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (auto date = QMAMRAIDCalendarProperties::dateFromString(text)) {
    if (!std::isfinite(date->timeIntervalSince1970)) __builtin_trap();
    // Only the one form is read: nothing shorter, nothing after the zone.
    if (text.size() != 20 && text.size() != 25) __builtin_trap();
  }
  auto note = QMANotification::initWithNotificationURL(net::URL::fromString("qomb://mraid/mraid?" + text));
  if (!note) return 0;
  QMAMRAIDCalendarProperties properties(note->parameters());
  if (properties.startTime() && !std::isfinite(properties.startTime()->timeIntervalSince1970)) __builtin_trap();
  return 0;
}
