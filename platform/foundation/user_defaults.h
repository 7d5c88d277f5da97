#pragma once
// User defaults: a property-list dictionary per domain, kept in
// <device root>/var/mobile/Library/Preferences/<domain>.plist. Every change is written
// through to the file at once (atomically), so what one run stores is there for the next
// run even when the process dies right after. Safe to use from any thread.
//
// The standard user defaults use the main bundle's identifier as their domain. Reads fall
// back to the global domain (".GlobalPreferences", where the system keeps
// "AppleLanguages") and then to the registered defaults.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/value.h"

namespace foundation {

class UserDefaults {
 public:
  static constexpr const char* kGlobalDomain = ".GlobalPreferences";

  static std::shared_ptr<UserDefaults> standardUserDefaults();
  static std::shared_ptr<UserDefaults> globalDefaults();
  // Gives the standard user defaults a domain of their own instead of the main bundle's
  // identifier (nullopt: the identifier again). For a program whose identifier names a
  // preferences file that it writes itself, whole, as a document (the settings
  // application, whose file is the settings file the plug-in reads): what the libraries it
  // links keep in the standard user defaults then never mixes into that file. Call before
  // the first use of the standard user defaults.
  static void setStandardUserDefaultsDomain(std::optional<std::string> domain);
  // Forgets the loaded standard and global defaults; the next use reads them from their
  // files again, as a new launch of the program would.
  static void resetStandardUserDefaults();

  // The defaults of one domain, loaded from its file.
  explicit UserDefaults(std::string domain, std::shared_ptr<UserDefaults> fallback = nullptr);

  const std::string& domain() const { return domain_; }
  std::string filePath() const;

  // Null when no domain in the search list holds the key.
  Value objectForKey(std::string_view key) const;
  std::optional<std::string> stringForKey(std::string_view key) const;  // strings, and numbers as text
  std::optional<Array> arrayForKey(std::string_view key) const;
  std::optional<Dictionary> dictionaryForKey(std::string_view key) const;
  // Numbers convert; strings convert by their leading number ("12abc" is 12, "abc" 0);
  // anything else, or nothing, gives 0 / NO.
  long long integerForKey(std::string_view key) const;
  double doubleForKey(std::string_view key) const;
  bool boolForKey(std::string_view key) const;

  // A null value removes the key. Values must be property-list values.
  void setObjectForKey(const Value& value, std::string_view key);
  void removeObjectForKey(std::string_view key);
  void registerDefaults(const Dictionary& defaults);
  // This domain's own contents.
  Dictionary persistentDomain() const;
  // Makes sure the file holds what is in memory; answers whether it does.
  bool synchronize();

 private:
  bool writeLocked();
  std::string domain_;
  std::shared_ptr<UserDefaults> fallback_;
  mutable std::mutex mu_;
  Dictionary values_;
  Dictionary registered_;
  bool dirty_ = false;
};

}  // namespace foundation
