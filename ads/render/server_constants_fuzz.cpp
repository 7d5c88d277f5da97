// Fuzzes the readers of server constants with the text a page sends.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ads/render/server_constants.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)QMAServerConstants::boolValue(text);
  (void)QMAServerConstants::doubleValue(text);
  if (auto intervals = QMAServerConstants::decodeRefreshIntervals(text)) {
    if (intervals->vistraceSamplingInterval && !(*intervals->vistraceSamplingInterval >= 0)) __builtin_trap();
  }
  if (auto list = QMAServerConstants::decodeStringList(text))
    for (const auto& v : *list)
      if (!v.asString()) __builtin_trap();
  if (auto schemes = QMAServerConstants::decodeConfirmSchemes(text))
    if (schemes->empty()) __builtin_trap();
  for (const auto& name : QMAServerConstants::classNameList(text))
    if (name.empty()) __builtin_trap();
  return 0;
}
