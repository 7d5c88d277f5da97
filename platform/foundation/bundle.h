#pragma once
// Facts of the running program's main bundle: its identifier and its information
// dictionary ("CFBundleVersion", "DTSDKName", ...). A program sets them at start-up the
// way its Info.plist would; tests set them directly.

#include <optional>
#include <string>

#include "platform/foundation/value.h"

namespace foundation {

inline constexpr const char* kCFBundleVersionKey = "CFBundleVersion";
inline constexpr const char* kCFBundleIdentifierKey = "CFBundleIdentifier";

class Bundle {
 public:
  static Bundle& main();

  // Nullopt when the bundle has no identifier.
  std::optional<std::string> bundleIdentifier() const;
  Dictionary infoDictionary() const;
  // Null when the key is absent.
  Value objectForInfoDictionaryKey(std::string_view key) const;

  // Replaces the information dictionary (its "CFBundleIdentifier" is the identifier).
  void setInfoDictionary(Dictionary info);
  void setBundleIdentifier(std::optional<std::string> identifier);
  void setInfoValue(std::string_view key, Value value);

 private:
  Bundle() = default;
  struct State;
  State& state() const;
};

}  // namespace foundation
