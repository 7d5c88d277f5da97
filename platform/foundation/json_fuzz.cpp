// Any text given to the JSON reader gives a value within the limits or nothing, never a
// crash, a hang or unbounded memory; what it reads serialises to text that reads again
// to the same serialisation.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/json.h"
#include "platform/foundation/log.h"

namespace {
const bool kQuiet = (foundation::setLogSink([](const std::string&) {}), true);
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)kQuiet;
  auto v = foundation::jsonParse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!v) return 0;
  if (foundation::nestsDeeperThan(*v, foundation::kMaxValueDepth)) std::abort();
  std::string text = foundation::jsonSerialize(*v);
  auto again = foundation::jsonParse(text);
  if (!again || foundation::jsonSerialize(*again) != text) std::abort();
  return 0;
}
