#pragma once
// QMAMobileAds: the component's process-wide switches for a host. It starts the optional
// settings service of the ad component's maker with the host's application code (and a
// tracking ID), and switches off the automatic in-app purchase reporting and the crash
// reporting. Class operations only; no state of its own beyond the two classes it looks
// up once per process.
//
// The settings service is never linked: it is found by class name in the runtime's class
// registry. Messages it must answer (signatures as sent):
//   XJTMobileAdsSettings          -initWithMobileAdsId:trackingId:   Id(std::string, std::optional<std::string>)
//   XJTMobileAdsSettingsService   +sharedInstance                    Id()
//                                 -mobileAdsDefaultSettings          Id()
//                                 -setMobileAdsDefaultSettings:      void(Id)
//                                 -start                             void()
//
// Threads: meant for the main thread at start-up; the lookups are guarded once-only.

#include <optional>
#include <string>

class QMAMobileAds {
 public:
  static constexpr const char* kSettingsClassName = "XJTMobileAdsSettings";
  static constexpr const char* kSettingsServiceClassName = "XJTMobileAdsSettingsService";

  static void configureWithApplicationCode(const std::optional<std::string>& applicationCode);
  // A code that is not "qa-app-<id>~<id>" (lower-case letters, digits, "_" and "-") is
  // logged and changes nothing; without the settings service only a log line.
  static void configureWithApplicationCodeTrackingID(const std::optional<std::string>& applicationCode,
                                                     const std::optional<std::string>& trackingID);
  static void disableAutomatedInAppPurchaseReporting();
  static void disableSDKCrashReporting();

  static bool isValidApplicationCode(const std::optional<std::string>& applicationCode);
  // Forgets the classes found, so the next configuration looks again (a new process).
  static void resetSettingsServiceLookupForTesting();
};
