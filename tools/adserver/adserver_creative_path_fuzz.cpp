// Whatever path a request names under /creatives/, the check lets through only plain
// relative paths that stay inside the directory, and every path gets a content type.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/adserver/ad_server.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  if (adserver::creativeContentType(path).empty()) std::abort();
  if (!adserver::isCreativeFilePath(path)) return 0;
  if (path.size() > 256 || path.front() == '/' || path.back() == '/') std::abort();
  if (path.find("//") != std::string::npos || path.find("/.") != std::string::npos || path.front() == '.') std::abort();
  for (char c : path)
    if (c == '\0' || c == '\\' || c == '%' || static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) > '~')
      std::abort();
  return 0;
}
