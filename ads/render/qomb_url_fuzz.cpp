// Fuzzes the bridge message parser with the URLs pages navigate to.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ads/render/qomb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto url = net::URL::fromString(text);
  auto note = QMANotification::initWithNotificationURL(url);
  if (note) {
    if (note->name().empty()) __builtin_trap();
    for (const auto& [k, v] : note->parameters())
      if (!v.asString()) __builtin_trap();
    (void)note->description();
  }
  return 0;
}
