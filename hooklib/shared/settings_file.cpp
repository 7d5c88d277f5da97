#include "hooklib/shared/settings_file.h"

#include <algorithm>

#include "hooklib/shared/string_table.h"
#include "platform/foundation/device_path.h"
#include "platform/foundation/property_list.h"

namespace wardvane {
namespace {

constexpr std::array<std::string_view, kHiddenIdentifierCount> kHidden = {
    "com.apple.AdSheet",
    "com.apple.AdSheetPhone",
    "com.apple.AdSheetPad",
    "com.apple.DataActivation",
    "com.apple.DemoApp",
    "com.apple.Diagnostics",
    "com.apple.fieldtest",
    "com.apple.iosdiagnostics",
    "com.apple.iphoneos.iPodOut",
    "com.apple.TrustMe",
    "com.apple.WebSheet",
    "com.apple.springboard",
    "com.apple.purplebuddy",
    "com.apple.datadetectors.DDActionsService",
    "com.apple.FacebookAccountMigrationDialog",
    "com.apple.iad.iAdOptOut",
    "com.apple.ios.StoreKitUIService",
    "com.apple.TextInput.kbd",
    "com.apple.MailCompositionService",
    "com.apple.mobilesms.compose",
    "com.apple.quicklook.quicklookd",
    "com.apple.ShoeboxUIService",
    "com.apple.social.remoteui.SocialUIService",
    "com.apple.WebViewService",
    "com.apple.gamecenter.GameCenterUIService",
    "com.apple.appleaccount.AACredentialRecoveryDialog",
    "com.apple.CompassCalibrationViewService",
    "com.apple.WebContentFilter.remoteUI.WebContentAnalysisUI",
    "com.apple.PassbookUIService",
    "com.apple.uikit.PrintStatus",
    "com.apple.Copilot",
    "com.apple.MusicUIService",
    "com.apple.AccountAuthenticationDialog",
    "com.apple.MobileReplayer",
    "com.apple.SiriViewService",
    "com.apple.TencentWeiboAccountMigrationDialog",
    "com.apple.AskPermissionUI",
    "com.apple.CoreAuthUI",
    "com.apple.family",
    "com.apple.mobileme.fmip1",
    "com.apple.GameController",
    "com.apple.HealthPrivacyService",
    "com.apple.InCallService",
    "com.apple.mobilesms.notification",
    "com.apple.PhotosViewService",
    "com.apple.PreBoard",
    "com.apple.PrintKit.Print-Center",
    "com.apple.share",
    "com.apple.SharedWebCredentialViewService",
    "com.apple.webapp",
    "com.apple.webapp1",
    "com.apple.CloudKit.ShareBear",
    "com.apple.Diagnostics.Mitosis",
    "com.apple.Fitness",
    "com.apple.SafariViewService",
    "com.apple.social.SLQuillonAuth",
    "com.apple.social.SLYahooAuth",
    "com.apple.managedconfiguration.MDMRemoteAlertService",
    "com.apple.StoreDemoViewService",
    "com.apple.appleseed.FeedbackAssistant",
    "com.apple.Home.HomeUIService",
    "com.apple.ServerDocuments",
    "libactivator",
};

}  // namespace

const std::array<std::string_view, kHiddenIdentifierCount>& hiddenIdentifiers() { return kHidden; }

bool isHiddenIdentifier(std::string_view bundleIdentifier) {
  return std::find(kHidden.begin(), kHidden.end(), bundleIdentifier) != kHidden.end();
}

std::optional<std::string> settingsFilePath() {
  auto path = getApplicationStringWithID(kSettingsPathString);
  if (!path) return std::nullopt;
  return foundation::devicePath(*path);
}

std::optional<Dictionary> readSettingsFile(const std::string& path) { return foundation::readDictionaryFile(path); }

std::optional<bool> settingsBool(const Dictionary& settings, std::string_view key) {
  return foundation::boolForKey(settings, key);
}

std::optional<std::int32_t> settingsInt(const Dictionary& settings, std::string_view key) {
  return foundation::intForKey(settings, key);
}

const Dictionary* settingsRecords(const Dictionary& settings) { return foundation::dictionaryForKey(settings, kRecordsKey); }

std::optional<RestrictionRecord> restrictionRecord(const foundation::Value& value) {
  auto dict = value.asDictionary();
  if (!dict) return std::nullopt;
  RestrictionRecord r;
  r.enableRestrictions = foundation::boolForKey(*dict, kEnableRestrictionsKey).value_or(false);
  r.startTime = foundation::dateForKey(*dict, kStartTimeKey);
  r.endTime = foundation::dateForKey(*dict, kEndTimeKey);
  if (auto name = foundation::stringForKey(*dict, kDisplayNameKey)) r.displayName = *name;
  return r;
}

}  // namespace wardvane
