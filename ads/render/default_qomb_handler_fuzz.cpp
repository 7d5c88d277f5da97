// Fuzzes the default handler's reading of a page's number texts ("touch" coordinates and
// the like): any text gives a number, never a crash or an overflow.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ads/render/default_qomb_handler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const foundation::Dictionary parameters{{"tx", text}};
  (void)QMADefaultQOMBHandler::integerForKeyFromDictionaryWithDefaultValue("tx", parameters, -1);
  if (QMADefaultQOMBHandler::integerForKeyFromDictionaryWithDefaultValue("ty", parameters, -1) != -1) __builtin_trap();
  return 0;
}
