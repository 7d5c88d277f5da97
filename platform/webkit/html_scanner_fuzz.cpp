// Fuzzes the HTML scan a web view runs on every document a server sends.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/webkit/html_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view html(reinterpret_cast<const char*>(data), size);
  auto parts = webkit::scanHTML(html, 16);
  if (parts.scripts.size() > 16) __builtin_trap();
  (void)webkit::decodeHTMLEntities(html);
  return 0;
}
