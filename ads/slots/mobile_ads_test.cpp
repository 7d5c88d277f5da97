// The mobile-ads switches: the application-code check and the settings service found by
// class name, present or not.
#include "ads/slots/mobile_ads.h"

#include <gtest/gtest.h>

#include "ads/services/ad_settings_parameters.h"
#include "ads/slots/format_test_support.h"
#include "platform/runtime/runtime.h"

namespace {

// The settings service's classes as a test plays them: settings made with the code, and a
// service that records each start with the settings it had.
struct Settings : runtime::Object {
  using runtime::Object::Object;
  std::string code;
  std::optional<std::string> tracking;
};
struct Service : runtime::Object {
  using runtime::Object::Object;
  runtime::Id settings;
  std::vector<std::string> starts;
};

struct MobileAds : slots_test::SlotFixture {
  std::shared_ptr<Service> service;
  void SetUp() override {
    SlotFixture::SetUp();
    QMAMobileAds::resetSettingsServiceLookupForTesting();
    QMAAdSettingsParameters::sharedInstance().setSettingsServiceEnabled(false);
  }
  void TearDown() override {
    runtime::objc_disposeClassPair(QMAMobileAds::kSettingsClassName);
    runtime::objc_disposeClassPair(QMAMobileAds::kSettingsServiceClassName);
    QMAMobileAds::resetSettingsServiceLookupForTesting();
    QMAAdSettingsParameters::sharedInstance().setSettingsServiceEnabled(false);
    SlotFixture::TearDown();
  }
  void installService() {
    auto settings = runtime::Class::make(QMAMobileAds::kSettingsClassName);
    settings->setFactory([](const runtime::ClassRef& c) { return std::make_shared<Settings>(c); });
    settings->addMethod<runtime::Id(std::string, std::optional<std::string>)>(
        "initWithMobileAdsId:trackingId:", [](const runtime::Id& self, std::string code, std::optional<std::string> tracking) {
          static_cast<Settings&>(*self).code = code;
          static_cast<Settings&>(*self).tracking = tracking;
          return self;
        });
    runtime::objc_registerClassPair(settings);
    auto cls = runtime::Class::make(QMAMobileAds::kSettingsServiceClassName);
    service = std::make_shared<Service>(cls);
    std::weak_ptr<Service> shared = service;  // the class does not keep its instance alive
    cls->addClassMethod<runtime::Id()>("sharedInstance", [shared] { return shared.lock(); });
    cls->addMethod<runtime::Id()>("mobileAdsDefaultSettings",
                                  [](const runtime::Id& self) { return static_cast<Service&>(*self).settings; });
    cls->addMethod<void(runtime::Id)>("setMobileAdsDefaultSettings:", [](const runtime::Id& self, runtime::Id given) {
      static_cast<Service&>(*self).settings = given;
    });
    cls->addMethod<void()>("start", [](const runtime::Id& self) {
      auto& s = static_cast<Service&>(*self);
      const auto& given = static_cast<Settings&>(*s.settings);
      s.starts.push_back(given.code + "/" + given.tracking.value_or("-"));
    });
    runtime::objc_registerClassPair(cls);
  }
};

TEST_F(MobileAds, AnApplicationCodeMustMatchTheWholePatternInLowerCase) {
  struct Row {
    std::optional<std::string> code;
    bool valid;
  };
  for (const Row& row : {Row{"qa-app-abc_1~def-2", true}, Row{std::nullopt, false}, Row{"qa-app-ABC~def", false},
                         Row{"qa-app-abc~def extra", false}, Row{"xqa-app-abc~def", false}, Row{"qa-app-~def", false},
                         Row{"qa-app-abc~", false}}) {
    EXPECT_EQ(QMAMobileAds::isValidApplicationCode(row.code), row.valid) << row.code.value_or("(none)");
  }
  QMAMobileAds::configureWithApplicationCode("qa-app-ABC~def");
  EXPECT_TRUE(logged("Application code qa-app-ABC~def is invalid, unable to start analytics."));
}

TEST_F(MobileAds, WithoutTheSettingsServiceAValidCodeOnlyLogsThatAnalyticsIsUnavailable) {
  QMAMobileAds::configureWithApplicationCode("qa-app-abc~def");
  EXPECT_TRUE(logged("Analytics is unavailable. Please use the default Quillon Mobile Ads SDK to enable this service."));
  EXPECT_FALSE(QMAAdSettingsParameters::sharedInstance().settingsServiceEnabled());
}

TEST_F(MobileAds, WithTheServiceEachConfigurationStartsItWithNewSettings) {
  installService();
  QMAMobileAds::configureWithApplicationCodeTrackingID("qa-app-abc~def", "UA-1");
  QMAMobileAds::configureWithApplicationCode("qa-app-abc~xyz");
  EXPECT_TRUE(QMAAdSettingsParameters::sharedInstance().settingsServiceEnabled());
  EXPECT_EQ(service->starts, (std::vector<std::string>{"qa-app-abc~def/UA-1", "qa-app-abc~xyz/-"}));
  EXPECT_FALSE(logged("Analytics is unavailable"));
}

}  // namespace
