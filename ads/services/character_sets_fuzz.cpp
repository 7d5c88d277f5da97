// Server character-range values come off the network: any text must parse to a set or
// to nothing, and a parsed set must answer membership for every code unit.
#include "ads/services/character_sets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto set = QMACharacterSets::parseUnicodeRangesFromJSON(text)) {
    volatile bool any = false;
    for (std::uint32_t unit = 0; unit < 0x10000; unit += 97) any = any || set->characterIsMember(static_cast<char16_t>(unit));
  }
  return 0;
}
