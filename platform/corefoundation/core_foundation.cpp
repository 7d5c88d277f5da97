#include "platform/corefoundation/core_foundation.h"

#include "platform/foundation/bundle.h"
#include "platform/foundation/log.h"

#include <cstdlib>
#include <mutex>

namespace corefoundation {
namespace {

struct State {
  std::mutex mu;
  std::vector<LogLine> lines;
  double version = kDefaultCoreFoundationVersionNumber;
};

State& state() {
  static State s;
  return s;
}

}  // namespace

void CFLog(int level, const std::string& text) {
  foundation::systemLog(text);
  auto& s = state();
  std::lock_guard lock(s.mu);
  s.lines.push_back({level, text});
}

std::vector<LogLine> loggedLines() {
  auto& s = state();
  std::lock_guard lock(s.mu);
  return s.lines;
}

void clearLoggedLines() {
  auto& s = state();
  std::lock_guard lock(s.mu);
  s.lines.clear();
}

double kCFCoreFoundationVersionNumber() {
  if (const char* env = std::getenv("WARDVANE_CF_VERSION"); env && *env) {
    char* end = nullptr;
    double v = std::strtod(env, &end);
    if (end && *end == '\0') return v;
  }
  auto& s = state();
  std::lock_guard lock(s.mu);
  return s.version;
}

void setCoreFoundationVersionNumber(double version) {
  auto& s = state();
  std::lock_guard lock(s.mu);
  s.version = version;
}

std::optional<std::string> CFBundleGetMainBundleIdentifier() {
  return foundation::Bundle::main().bundleIdentifier();
}

}  // namespace corefoundation
