// Any text given to the URL reader gives a URL or nothing, and a URL's parts and
// resolution never read outside its text; escaping round-trips.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/net/url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto url = net::URL::fromString(text)) {
    (void)url->scheme();
    (void)url->host();
    (void)url->port();
    (void)url->query();
    (void)url->fragment();
    (void)url->pathComponents();
    auto base = net::URL::fromString("http://h/a/b?q#f");
    (void)base->resolve(text);
  }
  if (net::isValidUTF8(text)) {
    auto back = net::percentUnescape(net::percentEscape(text));
    if (!back || *back != text) std::abort();
  }
  return 0;
}
