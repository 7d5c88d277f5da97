#include "platform/net/ad_network.h"

#include <cstdlib>

namespace net {

std::string adNetworkBaseURL() {
  const char* value = std::getenv(kAdNetworkURLVariable);
  std::string base = value && *value ? value : kDefaultAdNetworkBaseURL;
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::string adNetworkURL(std::string_view path) { return adNetworkBaseURL() + std::string(path); }

}  // namespace net
