#pragma once
// The facts about the host application and the device that purchase reports carry,
// gathered from the application object, the device facts and the advertising identifier.

#include <cstdint>
#include <optional>
#include <string>

struct QMAHostFacts {
  std::optional<std::string> applicationVersion;
  std::optional<std::string> mainBundleIdentifier;
  std::optional<std::string> systemVersion;
  std::optional<std::string> sessionID;
  std::optional<std::string> advertisingIdentifier;
  bool advertisingTrackingEnabled = false;
  std::int64_t timeSinceFirstAdRequestInMilliseconds = 0;

  static QMAHostFacts current();
};

// The version string that requests and reports carry.
inline constexpr const char* kQMASDKVersion = "qvra-sdk-i-v7.4.1";
