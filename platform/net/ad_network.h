#pragma once
// Where the ad network's servers are. One setting, the environment variable
// WARDVANE_AD_NETWORK_URL, gives their base URL (scheme, host, optional port and path
// prefix). Without it the base is on a reserved name that never resolves, so nothing
// leaves the machine unless someone points it at a server.

#include <string>
#include <string_view>

namespace net {

inline constexpr const char* kAdNetworkURLVariable = "WARDVANE_AD_NETWORK_URL";
inline constexpr const char* kDefaultAdNetworkBaseURL = "https://ads.wardvane.invalid";

// The base URL without a trailing "/"; read on every call.
std::string adNetworkBaseURL();
// The base URL followed by `path` (which starts with "/").
std::string adNetworkURL(std::string_view path);

}  // namespace net
