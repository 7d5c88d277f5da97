#pragma once
// What both property-list fuzz targets check: any bytes given to a reader give a value
// within the limits or nothing (with the reason), never a crash, a hang or unbounded
// memory; what it reads can be written in both forms, and writing what was read back
// from a write gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/log.h"
#include "platform/foundation/property_list_forms.h"

namespace foundation::plist_fuzz {

inline void checkStable(const Value& v, bool binary) {
  using namespace plist_forms;
  std::string first, second, error;
  auto write = binary ? writeBinary : writeXML;
  auto read = binary ? readBinary : readXML;
  if (!write(v, first, error)) std::abort();
  auto back = read(first, error);
  if (!back || !write(*back, second, error) || first != second) std::abort();
}

inline int fuzzReader(const std::uint8_t* data, std::size_t size, bool binary) {
  static const bool quiet = (setLogSink([](const std::string&) {}), true);
  (void)quiet;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto v = binary ? plist_forms::readBinary(text, error) : plist_forms::readXML(text, error);
  if (!v) {
    if (error.empty()) std::abort();  // every refusal says why
    return 0;
  }
  if (nestsDeeperThan(*v, kMaxValueDepth)) std::abort();
  checkStable(*v, false);
  checkStable(*v, true);
  return 0;
}

}  // namespace foundation::plist_fuzz
