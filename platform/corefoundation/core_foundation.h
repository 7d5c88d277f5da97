#pragma once
// The few Core Foundation facts the hook library reads: the log with its levels, and the
// Core Foundation version number of the running system.

#include <optional>
#include <string>
#include <vector>

namespace corefoundation {

// Log levels (3 is an error).
enum CFLogLevel : int {
  kCFLogLevelEmergency = 0,
  kCFLogLevelAlert = 1,
  kCFLogLevelCritical = 2,
  kCFLogLevelError = 3,
  kCFLogLevelWarning = 4,
  kCFLogLevelNotice = 5,
  kCFLogLevelInfo = 6,
  kCFLogLevelDebug = 7,
};

struct LogLine {
  int level = kCFLogLevelError;
  std::string text;
};

// Logs an already formatted line: to the system log, and to the lines kept for the host
// to read back.
void CFLog(int level, const std::string& text);
std::vector<LogLine> loggedLines();
void clearLoggedLines();

// The Core Foundation version number of the system this process plays. It comes from
// WARDVANE_CF_VERSION when set to a number, else setCoreFoundationVersionNumber, else
// kDefaultCoreFoundationVersionNumber.
inline constexpr double kDefaultCoreFoundationVersionNumber = 1141.14;
double kCFCoreFoundationVersionNumber();
void setCoreFoundationVersionNumber(double version);

// The main bundle's identifier (what the bundle's information names it); the program
// sets it at start-up.
std::optional<std::string> CFBundleGetMainBundleIdentifier();

}  // namespace corefoundation
