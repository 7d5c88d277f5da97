// The server's list of ad-click host suffixes and the hosts judged by it: hostile text
// either way. Input: the list, a NUL byte, the host.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ads/slots/slot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const auto split = input.find('\0');
  const std::string list = input.substr(0, split);
  const std::string host = split == std::string::npos ? std::string() : input.substr(split + 1);
  const auto domains = QMAAdClickDomainsFromString(list);
  for (const auto& d : domains)
    if (d.empty()) __builtin_trap();  // an empty entry would match every host
  (void)QMAHostIsAdClickHost(host, domains);
  return 0;
}
