#include "ads/services/device.h"

#include <gtest/gtest.h>

#include "ads/services/application.h"
#include "ads/services/test_support.h"
#include "platform/system/device_facts.h"
#include "platform/system/screen_facts.h"

using foundation::Value;

struct DeviceTest : qma_test::DeviceRootTest {
  void TearDown() override {
    system_facts::resetDeviceFacts();
    system_facts::setScreen({});
    DeviceRootTest::TearDown();
  }
};

TEST_F(DeviceTest, BeforeTheStaticFactsAreCachedTheOSReadsAsZero) {
  auto d = QMADevice::create();
  EXPECT_FALSE(d->isOSAtLeastMajorMinorPatch(1, 0, 0));
  auto p = d->parameters();
  EXPECT_EQ(p.count("platform"), 0u);
  EXPECT_EQ(p.at("u_sd"), Value("0"));
  EXPECT_EQ(p.at("u_w"), Value("0"));
}

TEST_F(DeviceTest, OSVersionsReadAsThreeComponents) {
  struct {
    const char* version;
    long major, minor, patch;
    bool atLeast;
  } cases[] = {{"8", 8, 0, 0, true},       {"8.1.2.3", 8, 1, 2, true}, {"8.1.2.3", 8, 1, 3, false},
               {"8.0", 7, 1, 5, true},     {"8.0", 8, 0, 1, false},    {"10.2", 9, 9, 9, true}};
  for (auto c : cases) {
    auto facts = system_facts::device();
    facts.systemVersion = c.version;
    system_facts::setDevice(facts);
    auto d = QMADevice::create();
    d->cacheStaticParameters();
    EXPECT_EQ(d->isOSAtLeastMajorMinorPatch(c.major, c.minor, c.patch), c.atLeast) << c.version;
  }
}

TEST_F(DeviceTest, RequestKeysDescribeTheDeviceAndItsApplication) {
  foundation::Bundle::main().setInfoValue(foundation::kCFBundleVersionKey, Value("2.1"));
  foundation::Bundle::main().setInfoValue("DTSDKName", Value("iphoneos8.1"));
  foundation::Bundle::main().setInfoValue("DTPlatformName", Value("iphoneos"));
  system_facts::setPreferredLanguages({"en-GB", "fr"});
  auto facts = system_facts::device();
  facts.audioOutputs = {system_facts::kAudioPortHeadphones, system_facts::kAudioPortBuiltInSpeaker};
  facts.openableURLSchemes = {"itms-books", "kindle"};
  system_facts::setDevice(facts);
  storekit::SKTestStore::shared().setCanMakePayments(false);
  system_facts::setRadioAccessTechnology("CTRadioAccessTechnologyLTE");

  auto d = QMADevice::create();
  d->cacheStaticParameters();
  auto p = d->parameters();
  EXPECT_EQ(p.at("platform"), Value("iPhone"));
  EXPECT_EQ(p.at("submodel"), Value("iPhone7,2"));
  EXPECT_EQ(p.at("hl"), Value("en-gb"));
  EXPECT_EQ(p.at("ios_base_sdk"), Value("8.1"));
  EXPECT_EQ(p.at("u_audio"), Value("5"));  // two outputs
  EXPECT_EQ(p.at("u_so"), Value("p"));
  EXPECT_EQ(p.at("u_sd"), Value("2"));
  EXPECT_EQ(p.at("u_w"), Value("375"));
  EXPECT_EQ(p.at("u_h"), Value("667"));
  EXPECT_EQ(p.at("cap_bs"), Value(3));
  EXPECT_EQ(p.at("cap_noiap"), Value("1")) << "the store's payment queue says payments cannot be made";
  storekit::SKTestStore::shared().setCanMakePayments(true);
  EXPECT_EQ(d->parameters().at("cap_noiap"), Value("0"));
  EXPECT_EQ(p.at("ios_radio"), Value("CTRadioAccessTechnologyLTE"));
  EXPECT_EQ(p.count("ios_ipadc"), 0u);
  EXPECT_EQ(p.count("ios_jb"), 0u);
  auto app = QMAApplication::sharedInstance();
  EXPECT_EQ(p.at("app_name"), Value((app->version().empty() ? "" : app->version() + ".") + "iphone." +
                                    app->mainBundleIdentifier().value_or("")));

  // The radio technology follows its change notification; the last known one stays.
  system_facts::setRadioAccessTechnology(std::nullopt);
  drainMain();
  EXPECT_EQ(d->radioAccessTechnology(), std::nullopt);
  EXPECT_EQ(d->lastKnownRadioAccessTechnology(), "CTRadioAccessTechnologyLTE");
}

TEST_F(DeviceTest, AudioRoutesAndTheAdvertisingIdentifier) {
  struct {
    std::vector<std::string> outputs;
    long route;
  } routes[] = {{{}, 3}, {{system_facts::kAudioPortBuiltInSpeaker}, 1}, {{system_facts::kAudioPortHeadphones}, 2},
                {{system_facts::kAudioPortBluetoothA2DP}, 5}};
  auto d = QMADevice::create();
  for (const auto& r : routes) {
    auto facts = system_facts::device();
    facts.audioOutputs = r.outputs;
    system_facts::setDevice(facts);
    EXPECT_EQ(d->audioRoute(), r.route);
  }
  auto facts = system_facts::device();
  facts.advertisingIdentifier = "abc";
  system_facts::setDevice(facts);
  EXPECT_EQ(d->deviceIdentifier(), "900150983cd24fb0d6963f7d28e17f72");
  facts.advertisingTrackingEnabled = false;
  system_facts::setDevice(facts);
  EXPECT_EQ(d->deviceIdentifier(), "");
}

TEST_F(DeviceTest, LaunchedInLandscapeCachesPortraitBoundsAndOrientsThemBack) {
  auto screen = system_facts::screen();
  screen.orientation = system_facts::InterfaceOrientation::LandscapeLeft;
  system_facts::setScreen(screen);
  auto d = QMADevice::create();
  d->cacheStaticParameters();
  EXPECT_EQ(d->standardizedPortraitScreenBounds(), (QMARect{0, 0, 375, 667}));
  EXPECT_TRUE(d->isOrientationLandscape());
  EXPECT_EQ(d->standardizedOrientedScreenBounds(), (QMARect{0, 0, 667, 375}));
  EXPECT_EQ(d->parameters().at("u_so"), Value("l"));
}

TEST_F(DeviceTest, UserAgentIsKeptOnlyWhenGiven) {
  auto d = QMADevice::create();
  EXPECT_EQ(d->userAgentString(), std::nullopt);
  d->setUserAgentString("Agent/1");
  d->setUserAgentString("");
  d->setUserAgentString(std::nullopt);
  EXPECT_EQ(d->userAgentString(), "Agent/1");
  std::string tmp = d->temporaryPathWithCreation(true);
  EXPECT_TRUE(std::filesystem::is_directory(tmp));
  EXPECT_EQ(tmp, root + "/tmp/PelmarkTemp");
}
