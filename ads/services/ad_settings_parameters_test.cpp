#include "ads/services/ad_settings_parameters.h"

#include <gtest/gtest.h>

namespace {

using runtime::Class;
using runtime::Id;

// A stand-in of the optional analytics library, registered by name.
struct AnalyticsLibrary {
  std::optional<std::string> clientId = "cid-1";
  Id currentScreen;
  Id tracker, service;

  void install() {
    auto wjq = Class::make("WJQ");
    wjq->addMethod<std::optional<std::string>()>("clientId", [this](const Id&) { return clientId; });
    tracker = std::make_shared<runtime::Object>(wjq);
    wjq->addClassMethod<Id()>("sharedInstance", [this] { return tracker; });
    runtime::objc_registerClassPair(wjq);

    auto info = Class::make("WJQScreenViewInfo");
    info->addMethod<std::int32_t()>("screenId", [](const Id&) { return std::int32_t{-7}; });
    runtime::objc_registerClassPair(info);
    currentScreen = std::make_shared<runtime::Object>(info);

    auto svc = Class::make("WJQScreenViewService");
    svc->addMethod<Id()>("currentScreenView", [this](const Id&) { return currentScreen; });
    service = std::make_shared<runtime::Object>(svc);
    svc->addClassMethod<Id()>("sharedInstance", [this] { return service; });
    runtime::objc_registerClassPair(svc);
  }
  static void uninstall() {
    for (auto name : {"WJQ", "WJQScreenViewInfo", "WJQScreenViewService"}) runtime::objc_disposeClassPair(name);
  }
};

class AnalyticsIdentifiers : public ::testing::Test {
 protected:
  void SetUp() override { QMAAdSettingsParameters::forgetLibraryLookups(); }
  void TearDown() override {
    AnalyticsLibrary::uninstall();
    QMAAdSettingsParameters::forgetLibraryLookups();
    params().setSettingsServiceEnabled(false);
  }
  static QMAAdSettingsParameters& params() { return QMAAdSettingsParameters::sharedInstance(); }
};

TEST_F(AnalyticsIdentifiers, ReadThroughTheLibraryWhileTheSwitchIsOn) {
  AnalyticsLibrary library;
  library.install();

  params().updateClientID();
  EXPECT_EQ(params().clientID(), std::nullopt) << "switch off";
  EXPECT_EQ(QMAAdSettingsParameters::currentHitID(), std::nullopt);

  params().setSettingsServiceEnabled(true);
  params().updateClientID();
  EXPECT_EQ(params().clientID(), "cid-1");
  EXPECT_EQ(QMAAdSettingsParameters::currentHitID(), "-7");

  library.clientId = "cid-2";
  params().updateClientID();
  EXPECT_EQ(params().clientID(), "cid-2") << "each refresh reaches the next read";

  library.currentScreen = nullptr;
  EXPECT_EQ(QMAAdSettingsParameters::currentHitID(), "0") << "no screen shown yet";
}

TEST_F(AnalyticsIdentifiers, AbsentWithoutTheLibrary) {
  params().setSettingsServiceEnabled(true);
  const auto before = params().clientID();
  params().updateClientID();
  EXPECT_EQ(params().clientID(), before) << "nothing to copy from";
  EXPECT_EQ(QMAAdSettingsParameters::currentHitID(), std::nullopt);
  // A class of the right name that does not answer the messages is no library either.
  runtime::objc_registerClassPair(Class::make("WJQ"));
  QMAAdSettingsParameters::forgetLibraryLookups();
  params().updateClientID();
  EXPECT_EQ(params().clientID(), before);
  EXPECT_EQ(QMAAdSettingsParameters::currentHitID(), std::nullopt);
}

}  // namespace
