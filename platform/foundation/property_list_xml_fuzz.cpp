// Any bytes given to the XML property-list reader (see property_list_fuzz.h).
#include "platform/foundation/property_list_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return foundation::plist_fuzz::fuzzReader(data, size, false);
}
