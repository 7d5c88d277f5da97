#pragma once
// A settings file as read, kept whole: the hook library reads the switches from it and
// converts only the record asked for, so deciding about one app costs little more than
// reading the file, however many records it holds. The file is read by the platform's
// property-list reader, so a damaged or hostile file is refused whole, as for every
// other reader of the file.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace wardvane {

class SettingsSnapshot {
 public:
  // Null when the file is missing, unreadable or holds no dictionary.
  static std::shared_ptr<const SettingsSnapshot> read(const std::string& path);
  // An empty snapshot (no keys).
  static std::shared_ptr<const SettingsSnapshot> empty();

  SettingsSnapshot(const SettingsSnapshot&) = delete;
  SettingsSnapshot& operator=(const SettingsSnapshot&) = delete;

  // The typed reads of settings_file.h: wrong types count as absent.
  std::optional<bool> boolForKey(std::string_view key) const;
  // Whether "wardvaneions" is present and a dictionary.
  bool hasRecords() const { return records_ != nullptr; }
  // The value stored under `bundleIdentifier` in the records; nullopt when absent.
  std::optional<foundation::Value> recordValue(const std::string& bundleIdentifier) const;

  // The whole file, or the records.
  foundation::Dictionary dictionary() const { return root_; }
  foundation::Dictionary records() const;

 private:
  explicit SettingsSnapshot(foundation::Dictionary root);
  const foundation::Dictionary root_;
  const foundation::Dictionary* records_ = nullptr;  // inside root_
};

}  // namespace wardvane
