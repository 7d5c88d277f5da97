// Any bytes given to the XML property-list reader give a value within the limits or
// nothing, never a crash, a hang or unbounded memory; what it reads can be written in
// both forms, and writing what was read back from a write gives the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/log.h"
#include "platform/foundation/property_list_forms.h"

namespace {

const bool kQuiet = (foundation::setLogSink([](const std::string&) {}), true);

void checkStable(const foundation::Value& v, bool binary) {
  using namespace foundation::plist_forms;
  std::string first, second, error;
  auto write = binary ? writeBinary : writeXML;
  auto read = binary ? readBinary : readXML;
  if (!write(v, first, error)) std::abort();
  auto back = read(first, error);
  if (!back || !write(*back, second, error) || first != second) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)kQuiet;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto v = foundation::plist_forms::readXML(text, error);
  if (!v) {
    if (error.empty()) std::abort();  // every refusal says why
    return 0;
  }
  if (foundation::nestsDeeperThan(*v, foundation::kMaxValueDepth)) std::abort();
  checkStable(*v, false);
  checkStable(*v, true);
  return 0;
}
