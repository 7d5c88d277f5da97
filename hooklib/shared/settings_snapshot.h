#pragma once
// A settings file as parsed, read lazily: the switches are read straight from the parsed
// tree, and of the records only the one asked for is converted. Deciding about one app
// then costs little more than parsing the file, however many records it holds.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace wardvane {

class SettingsSnapshot {
 public:
  // Null when the file is missing or holds no dictionary.
  static std::shared_ptr<const SettingsSnapshot> read(const std::string& path);
  // An empty snapshot (no keys).
  static std::shared_ptr<const SettingsSnapshot> empty();

  ~SettingsSnapshot();
  SettingsSnapshot(const SettingsSnapshot&) = delete;
  SettingsSnapshot& operator=(const SettingsSnapshot&) = delete;

  // The typed reads of settings_file.h: wrong types count as absent.
  std::optional<bool> boolForKey(std::string_view key) const;
  // Whether "wardvaneions" is present and a dictionary.
  bool hasRecords() const { return records_ != nullptr; }
  // The value stored under `bundleIdentifier` in the records; nullopt when absent.
  std::optional<foundation::Value> recordValue(const std::string& bundleIdentifier) const;

  // The whole file, or the records, converted.
  foundation::Dictionary dictionary() const;
  foundation::Dictionary records() const;

 private:
  explicit SettingsSnapshot(void* root);
  void* root_ = nullptr;     // plist_t of the root dictionary
  void* records_ = nullptr;  // inside root_
};

}  // namespace wardvane
