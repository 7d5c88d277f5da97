#pragma once
// A temporary device root with a settings file the tests rewrite, and a hand-driven
// clock in UTC.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "hooklib/shared/settings_file.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/property_list.h"

namespace wardvane::testing {

// 2024-03-05 (a Tuesday) at hh:mm:ss UTC.
inline double at(int h, int m, double s = 0) { return 1709596800.0 + h * 3600.0 + m * 60.0 + s; }

class DeviceRoot {
 public:
  DeviceRoot() {
    root_ = std::filesystem::temp_directory_path() / ("wv-hook-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root_);
    ::setenv("WARDVANE_DEVICE_ROOT", root_.c_str(), 1);
    foundation::Calendar::setLocalTimeZone("UTC");
    foundation::Clock::useManual(at(12, 0));
  }
  ~DeviceRoot() {
    foundation::Clock::useSystem();
    std::filesystem::remove_all(root_);
    ::unsetenv("WARDVANE_DEVICE_ROOT");
  }
  void writeSettings(const foundation::Dictionary& d) const {
    foundation::writePropertyListFile(*settingsFilePath(), foundation::Value(d));
  }
  void removeSettings() const { std::filesystem::remove(*settingsFilePath()); }

 private:
  std::filesystem::path root_;
};

// A record as the settings application writes it.
inline foundation::Value record(bool on, double start, double end, const char* name = nullptr) {
  foundation::Dictionary r;
  r[kEnableRestrictionsKey] = on;
  r[kStartTimeKey] = foundation::Date{start};
  r[kEndTimeKey] = foundation::Date{end};
  if (name) r[kDisplayNameKey] = name;
  return foundation::Value(std::move(r));
}

}  // namespace wardvane::testing
