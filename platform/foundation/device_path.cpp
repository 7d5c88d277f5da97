#include "platform/foundation/device_path.h"

#include <cstdlib>
#include <vector>

#ifndef WV_DEFAULT_DEVICE_ROOT
#define WV_DEFAULT_DEVICE_ROOT "/tmp/wardvane-device-root"
#endif

namespace foundation {

std::string deviceRoot() {
  const char* env = std::getenv("WARDVANE_DEVICE_ROOT");
  std::string root = env && *env ? env : WV_DEFAULT_DEVICE_ROOT;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string devicePath(std::string_view phonePath) {
  std::vector<std::string_view> parts;
  size_t i = 0;
  while (i <= phonePath.size()) {
    size_t j = phonePath.find('/', i);
    if (j == std::string_view::npos) j = phonePath.size();
    auto part = phonePath.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out = deviceRoot();
  for (auto p : parts) {
    out += '/';
    out += p;
  }
  return out;
}

std::string homeDirectory() { return devicePath("/var/mobile"); }
std::string cachesDirectory() { return devicePath("/var/mobile/Library/Caches"); }
std::string preferencesDirectory() { return devicePath("/var/mobile/Library/Preferences"); }

}  // namespace foundation
