#include "ads/slots/mobile_ads.h"

#include <mutex>
#include <regex>

#include "ads/services/ad_settings_parameters.h"
#include "ads/services/crash_reporter.h"
#include "ads/services/in_app_purchase_reporter.h"
#include "ads/services/logging.h"
#include "platform/foundation/format.h"
#include "platform/runtime/runtime.h"

namespace {

struct SettingsServiceClasses {
  std::mutex mu;
  bool settingsLookedUp = false;
  bool serviceLookedUp = false;
  runtime::ClassRef settingsClass;
  runtime::Id service;
};

SettingsServiceClasses& lookups() {
  static SettingsServiceClasses* classes = new SettingsServiceClasses;
  return *classes;
}

// A class whose instances cannot be made with the code counts as missing.
runtime::ClassRef settingsClass() {
  auto& l = lookups();
  std::lock_guard lock(l.mu);
  if (!l.settingsLookedUp) {
    l.settingsLookedUp = true;
    auto cls = runtime::objc_getClass(QMAMobileAds::kSettingsClassName);
    if (cls && cls->instancesRespondToSelector("initWithMobileAdsId:trackingId:")) l.settingsClass = cls;
  }
  return l.settingsClass;
}

runtime::Id settingsService() {
  auto& l = lookups();
  std::lock_guard lock(l.mu);
  if (!l.serviceLookedUp) {
    l.serviceLookedUp = true;
    auto cls = runtime::objc_getClass(QMAMobileAds::kSettingsServiceClassName);
    if (cls && cls->respondsToClassSelector("sharedInstance")) {
      auto shared = runtime::msgSendClass<runtime::Id()>(cls, "sharedInstance");
      if (runtime::respondsToSelector(shared, "mobileAdsDefaultSettings") &&
          runtime::respondsToSelector(shared, "setMobileAdsDefaultSettings:") && runtime::respondsToSelector(shared, "start"))
        l.service = shared;
    }
  }
  return l.service;
}

}  // namespace

bool QMAMobileAds::isValidApplicationCode(const std::optional<std::string>& applicationCode) {
  static const std::regex pattern("qa-app-[a-z0-9_-]+~[a-z0-9_-]+");
  return applicationCode && std::regex_match(*applicationCode, pattern);
}

void QMAMobileAds::configureWithApplicationCode(const std::optional<std::string>& applicationCode) {
  configureWithApplicationCodeTrackingID(applicationCode, std::nullopt);
}

void QMAMobileAds::configureWithApplicationCodeTrackingID(const std::optional<std::string>& applicationCode,
                                                          const std::optional<std::string>& trackingID) {
  if (!isValidApplicationCode(applicationCode)) {
    QMALogger::sharedInstance()->logPublicMessage(
        foundation::stringWithFormat("Application code %@ is invalid, unable to start analytics.",
                                     applicationCode ? foundation::Value(*applicationCode) : foundation::Value()));
    return;
  }
  auto cls = settingsClass();
  auto service = settingsService();
  if (!cls || !service) {
    QMALogger::sharedInstance()->logPublicMessage(
        "Analytics is unavailable. Please use the default Quillon Mobile Ads SDK to enable this service.");
    return;
  }
  QMAAdSettingsParameters::sharedInstance().setSettingsServiceEnabled(true);
  auto settings = runtime::msgSend<runtime::Id(std::string, std::optional<std::string>)>(
      cls->createInstance(), "initWithMobileAdsId:trackingId:", *applicationCode, trackingID);
  runtime::msgSend<void(runtime::Id)>(service, "setMobileAdsDefaultSettings:", settings);
  runtime::msgSend<void()>(service, "start");
}

void QMAMobileAds::disableAutomatedInAppPurchaseReporting() {
  QMAInAppPurchaseTransactionReporter::sharedInstance()->disableReporting();
}

void QMAMobileAds::disableSDKCrashReporting() { QMACrashReporter::sharedInstance()->disableReporting(); }

void QMAMobileAds::resetSettingsServiceLookupForTesting() {
  auto& l = lookups();
  std::lock_guard lock(l.mu);
  l.settingsLookedUp = l.serviceLookedUp = false;
  l.settingsClass.reset();
  l.service.reset();
}
