#include "hooklib/shared/settings_snapshot.h"

#include "hooklib/shared/settings_file.h"
#include "platform/foundation/property_list.h"

namespace wardvane {

SettingsSnapshot::SettingsSnapshot(foundation::Dictionary root)
    : root_(std::move(root)), records_(settingsRecords(root_)) {}

std::shared_ptr<const SettingsSnapshot> SettingsSnapshot::read(const std::string& path) {
  auto root = readSettingsFile(path);
  if (!root) return nullptr;
  return std::shared_ptr<const SettingsSnapshot>(new SettingsSnapshot(std::move(*root)));
}

std::shared_ptr<const SettingsSnapshot> SettingsSnapshot::empty() {
  return std::shared_ptr<const SettingsSnapshot>(new SettingsSnapshot(foundation::Dictionary{}));
}

std::optional<bool> SettingsSnapshot::boolForKey(std::string_view key) const { return settingsBool(root_, key); }

std::optional<foundation::Value> SettingsSnapshot::recordValue(const std::string& bundleIdentifier) const {
  if (!records_) return std::nullopt;
  auto it = records_->find(bundleIdentifier);
  if (it == records_->end()) return std::nullopt;
  return it->second;
}

foundation::Dictionary SettingsSnapshot::records() const { return records_ ? *records_ : foundation::Dictionary{}; }

}  // namespace wardvane
