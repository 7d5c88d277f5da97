#pragma once
// The settings file, the app-list message and the change notification: the contract
// between the hook library and the settings application.
//
// Readers never trust the file's types: a value of the wrong type counts as absent, so
// a damaged file can never take the home screen down.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace wardvane {

using foundation::Date;
using foundation::Dictionary;

// Settings-file keys, in the order the writer sets them.
inline constexpr char kIsEnabledKey[] = "isEnabled";
inline constexpr char kShowAlertsKey[] = "showAlerts";
inline constexpr char kShowHiddenAppsKey[] = "showHiddenApps";
inline constexpr char kUseTouchIDKey[] = "useTouchID";
inline constexpr char kUIThemeKey[] = "uiTheme";
inline constexpr char kSortTypeKey[] = "sortType";
inline constexpr char kRecordsKey[] = "wardvaneions";

// Per-app record keys, in writer order.
inline constexpr char kEnableRestrictionsKey[] = "enableRestrictions";
inline constexpr char kStartTimeKey[] = "startTime";
inline constexpr char kEndTimeKey[] = "endTime";
inline constexpr char kDisplayNameKey[] = "displayName";

// The change notification and the app-list message.
inline constexpr char kSettingsChangedNotification[] = "com.brimcote.wardvane.settingschanged";
inline constexpr char kGetAppListInformationMessage[] = "getAppListInformation";
inline constexpr char kShowHiddenKey[] = "showHidden";
inline constexpr char kApplicationsArrayKey[] = "applicationsArray";
inline constexpr char kModificationDateKey[] = "modificationDate";
inline constexpr char kDataUsageKey[] = "dataUsage";
inline constexpr char kBundleIdentifierKey[] = "bundleIdentifier";
inline constexpr char kIconImageKey[] = "iconImage";

// How long an app-list client waits for the reply before it takes it as absent.
inline constexpr double kAppListReplyTimeout = 5.0;

// The identifiers left out of the app list unless hidden apps are wanted, in stored order.
inline constexpr std::size_t kHiddenIdentifierCount = 63;
const std::array<std::string_view, kHiddenIdentifierCount>& hiddenIdentifiers();
bool isHiddenIdentifier(std::string_view bundleIdentifier);

// The settings file's path on this device (string-table entry 3, mapped under the
// device root); nullopt when the table entry does not decipher.
std::optional<std::string> settingsFilePath();

// The file's root dictionary; nullopt when there is no file or it holds no dictionary.
std::optional<Dictionary> readSettingsFile(const std::string& path);

// Typed reads of the top-level keys. A Boolean key takes the truth value of a Boolean
// or a number; an integer key the 32-bit value of a Boolean or a number. Anything else
// (a string, a dictionary...) gives nullopt, as if the key were absent.
std::optional<bool> settingsBool(const Dictionary& settings, std::string_view key);
std::optional<std::int32_t> settingsInt(const Dictionary& settings, std::string_view key);
// The records dictionary; null when absent or not a dictionary.
const Dictionary* settingsRecords(const Dictionary& settings);

// One app's record, read with the same care: a value that is not a dictionary is no
// record; a start or end that is not a date is absent.
struct RestrictionRecord {
  bool enableRestrictions = false;
  std::optional<Date> startTime;
  std::optional<Date> endTime;
  std::optional<std::string> displayName;
};
std::optional<RestrictionRecord> restrictionRecord(const foundation::Value& value);

// What the detail screen shows, and so what the hook library uses, for a window end
// that is missing: 09:00 for the start, 17:00 for the end.
inline constexpr int kDefaultStartHour = 9;
inline constexpr int kDefaultEndHour = 17;

}  // namespace wardvane
