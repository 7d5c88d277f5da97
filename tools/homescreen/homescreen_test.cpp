// Runs the real homescreen with the real plug-in in a temporary device root and drives
// it by its commands; this test process is the other process of the app-list request
// and the change notification.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "hooklib/shared/settings_file.h"
#include "hooklib/shared/string_table.h"
#include "platform/crypto/aes256.h"
#include "platform/foundation/property_list.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/notify_center.h"
#include "platform/net/test_server.h"
#include "platform/uikit/image.h"
#include "tools/testsupport/driven_process.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

// 2024-03-05 at hh:mm UTC.
double at(int h, int m) { return 1709596800.0 + h * 3600.0 + m * 60.0; }

class HomeScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() / ("wv-hs-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root_);
    ::setenv("WARDVANE_DEVICE_ROOT", root_.c_str(), 1);
    auto icon = std::make_shared<uikit::Image>(8, 8, std::vector<std::uint8_t>(256, 90));
    auto png = *uikit::Image::pngRepresentation(icon);
    foundation::writeFileAtomically((root_ / "game.png").string(), png.data(), png.size());
    std::ofstream(root_ / "apps.json") << R"([
      {"bundleIdentifier": "com.example.game", "displayName": "Game", "modificationDate": 1700000000,
       "dataUsage": 77, "icon": "game.png"},
      {"bundleIdentifier": "com.example.notes", "displayName": "Notes", "modificationDate": 1600000000},
      {"bundleIdentifier": "com.apple.springboard", "displayName": "SpringBoard"}])";
  }
  void TearDown() override {
    std::filesystem::remove_all(root_);
    ::unsetenv("WARDVANE_DEVICE_ROOT");
  }
  std::unique_ptr<testsupport::DrivenProcess> start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--apps", (root_ / "apps.json").string(), "--clock", "2024-03-05 12:00"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto p = std::make_unique<testsupport::DrivenProcess>(
        HOMESCREEN_PATH, args, std::vector<std::string>{"WARDVANE_DEVICE_ROOT=" + root_.string(), "TZ=UTC"});
    auto ready = p->readLine();
    EXPECT_EQ(ready.rfind("homescreen ready: 3 apps", 0), 0u) << ready;
    return p;
  }
  void writeSettings(bool restrictGame, bool showAlerts = true, const std::string& id = "com.example.game",
                     const std::string& name = "Game") {
    Dictionary records;
    if (restrictGame) {
      Dictionary r;
      r[wardvane::kEnableRestrictionsKey] = true;
      r[wardvane::kStartTimeKey] = foundation::Date{at(9, 0)};
      r[wardvane::kEndTimeKey] = foundation::Date{at(17, 0)};
      r[wardvane::kDisplayNameKey] = name;
      records[id] = Value(r);
    }
    Dictionary settings;
    settings[wardvane::kShowAlertsKey] = showAlerts;
    settings[wardvane::kRecordsKey] = records;
    ASSERT_TRUE(foundation::writePropertyListFile(*wardvane::settingsFilePath(), Value(settings)));
  }
  std::filesystem::path root_;
};

TEST_F(HomeScreenTest, RestrictedAppIsRefusedEverywhereWithItsAlert) {
  writeSettings(true);
  auto hs = start();
  EXPECT_EQ(hs->send("launch com.example.game"), "opened com.example.game");  // before the first unlock
  EXPECT_EQ(hs->send("unlock"), "unlocked");
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("launch com.example.game"), "refused com.example.game");
  EXPECT_EQ(hs->send("alert"),
            "alert style=alert title=\"Wardvane\" message=\"Game is currently restricted!\" actions=\"Ok\" "
            "window=visible");
  EXPECT_EQ(hs->send("alert tap Ok"), "tapped \"Ok\"; alert none window=hidden");
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("launch com.example.notes"), "opened com.example.notes");
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("press com.example.game"), "not darkened com.example.game");
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("press com.example.notes"), "darkened com.example.notes");
  for (const char* where : {"card", "item", "icon"}) {
    hs->send("clock advance 1");
    EXPECT_EQ(hs->send(std::string("tap ") + where + " com.example.game"), "swallowed com.example.game");
    EXPECT_EQ(hs->send("alert tap Ok").rfind("tapped", 0), 0u);
    hs->send("clock advance 1");
    EXPECT_EQ(hs->send(std::string("tap ") + where + " com.example.notes"), "opened com.example.notes");
  }
  // Outside the window the app opens again.
  hs->send("clock set 2024-03-05 17:01");
  EXPECT_EQ(hs->send("launch com.example.game"), "opened com.example.game");
  EXPECT_EQ(hs->send("log"), "log []");
  EXPECT_EQ(hs->send("switcher load"), "switcher view loaded");
  EXPECT_EQ(hs->send("frobnicate"), "error: unknown command (try help)");
}

TEST_F(HomeScreenTest, EveryLineIsAnsweredAndIdentifiersMayHoldSpaces) {
  std::ofstream(root_ / "apps.json") << R"([
      {"bundleIdentifier": "com.example.game", "displayName": "Game"},
      {"bundleIdentifier": "com.example.my  app", "displayName": "My App"},
      {"bundleIdentifier": "com.apple.springboard", "displayName": "SpringBoard"}])";
  writeSettings(true, true, "com.example.my  app", "My App");
  auto hs = start();
  // Blank lines and comments get an empty answer, so the answers stay in step.
  EXPECT_EQ(hs->send(""), "");
  EXPECT_EQ(hs->send(" \t "), "");
  EXPECT_EQ(hs->send("# unlock next"), "");
  EXPECT_EQ(hs->send("unlock"), "unlocked");

  // The identifier is the rest of the line, inner spaces and all.
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("launch com.example.my  app"), "refused com.example.my  app");
  EXPECT_EQ(hs->send("alert"),
            "alert style=alert title=\"Wardvane\" message=\"My App is currently restricted!\" actions=\"Ok\" "
            "window=visible");
  EXPECT_EQ(hs->send("alert tap Ok"), "tapped \"Ok\"; alert none window=hidden");
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("press com.example.my  app  "), "not darkened com.example.my  app");
  for (const char* where : {"card", "item", "icon"}) {
    hs->send("clock advance 1");
    EXPECT_EQ(hs->send(std::string("tap ") + where + " com.example.my  app"), "swallowed com.example.my  app");
    hs->send("alert tap Ok");
  }
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("launch com.example.game"), "opened com.example.game");
  EXPECT_EQ(hs->send("launch com.example.my app"), "error: no app com.example.my app");
  EXPECT_EQ(hs->send("launch"), "error: unknown command (try help)");
}

TEST_F(HomeScreenTest, AppListIsServedToAnotherProcess) {
  auto hs = start();
  auto request = [](bool showHidden) {
    auto center = ipc::DistributedMessagingCenter::centerNamed(*wardvane::getApplicationStringWithID(1));
    ipc::rocketbootstrap_distributedmessagingcenter_apply(center);
    return center->sendMessageAndReceiveReplyName(wardvane::kGetAppListInformationMessage,
                                                  {{wardvane::kShowHiddenKey, Value(showHidden)}});
  };
  auto reply = request(false);
  ASSERT_TRUE(reply);
  const auto* apps = foundation::arrayForKey(*reply, wardvane::kApplicationsArrayKey);
  ASSERT_NE(apps, nullptr);
  ASSERT_EQ(apps->size(), 2u);
  const auto& game = *(*apps)[0].asDictionary();
  EXPECT_EQ(*foundation::stringForKey(game, wardvane::kBundleIdentifierKey), "com.example.game");
  EXPECT_EQ(*foundation::stringForKey(game, wardvane::kDisplayNameKey), "Game");
  EXPECT_EQ(foundation::doubleForKey(game, wardvane::kModificationDateKey), 1700000000.0);
  EXPECT_EQ(foundation::intForKey(game, wardvane::kDataUsageKey), 77);
  auto icon = uikit::Image::imageWithData(*foundation::dataForKey(game, wardvane::kIconImageKey));
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->pixelWidth(), 59u);
  EXPECT_EQ(foundation::dataForKey(*(*apps)[1].asDictionary(), wardvane::kIconImageKey), nullptr);

  reply = request(true);
  ASSERT_TRUE(reply);
  EXPECT_EQ(foundation::arrayForKey(*reply, wardvane::kApplicationsArrayKey)->size(), 3u);
  // The home screen keeps answering its driver after serving.
  EXPECT_EQ(hs->send("clock"), "clock 2024-03-05 12:00:00 manual");
}

TEST_F(HomeScreenTest, ReplacedSettingsFileAndNotificationTakeEffect) {
  writeSettings(false);
  auto hs = start();
  hs->send("unlock");
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("launch com.example.game"), "opened com.example.game");

  writeSettings(true, /*showAlerts=*/false);
  EXPECT_EQ(ipc::DarwinNotifyCenter::shared().postNotification(wardvane::kSettingsChangedNotification), 1);
  std::string seen;
  for (int i = 0; i < 200 && seen != "notifications 1"; ++i) seen = hs->send("notifications");
  EXPECT_EQ(seen, "notifications 1");
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("launch com.example.game"), "refused com.example.game");
  EXPECT_EQ(hs->send("alert"), "alert none window=absent");  // alerts are off
}

TEST_F(HomeScreenTest, OlderHomeScreenWithoutSomeClasses) {
  writeSettings(true);
  auto hs = start({"--leave-out", "SBDeckSwitcherItemContainer,SBDeckSwitcherViewController"});
  EXPECT_EQ(hs->send("log"),
            "log [\"[Wardvane: Wardvane:425] ERROR: logos: nil class SBDeckSwitcherViewController\","
            "\"[Wardvane: Wardvane:425] ERROR: logos: nil class SBDeckSwitcherItemContainer\"]");
  EXPECT_EQ(hs->send("tap card com.example.game"), "error: this home screen has no card switcher");
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("tap item com.example.game"), "swallowed com.example.game");
}

TEST_F(HomeScreenTest, OtherProcessesGetNoHooksButStillServeTheList) {
  writeSettings(true);
  auto hs = start({"--bundle-id", "com.example.other"});
  hs->send("unlock");
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("launch com.example.game"), "opened com.example.game");
  EXPECT_EQ(hs->send("press com.example.game"), "darkened com.example.game");
  auto center = ipc::DistributedMessagingCenter::centerNamed(*wardvane::getApplicationStringWithID(1));
  EXPECT_TRUE(center->sendMessageAndReceiveReplyName(wardvane::kGetAppListInformationMessage, {}));
}

// The plug-in carries the ad component, which starts when the home screen has finished
// launching and runs on the home screen's own run loop and clock: a retry ping that an
// earlier run of the component stored goes out at the pinger's first pass.
TEST_F(HomeScreenTest, ThePlugInsAdComponentStartsWithTheHomeScreensLaunch) {
  std::atomic<int> retried{0};
  net::testing::TestServer server;
  server.server().Get("/retry", [&](const httplib::Request&, httplib::Response& res) {
    ++retried;
    res.status = 200;
  });
  server.start();
  Dictionary group{{server.url("/retry"), Dictionary{{"/quillon/ads/retry_count", 3}}}};
  Dictionary stored{{"/quillon/ads/retry_group_keys", foundation::Array{"/quillon/ads/crash_reporting"}},
                    {"/quillon/ads/crash_reporting", group}};
  std::filesystem::create_directories(root_ / "var/mobile/Library/Preferences");
  ASSERT_TRUE(foundation::writePropertyListFile(
      (root_ / "var/mobile/Library/Preferences/com.apple.springboard.plist").string(), Value(stored)));
  writeSettings(false);
  auto hs = start();
  EXPECT_EQ(hs->send("unlock"), "unlocked");
  EXPECT_EQ(retried, 0);
  hs->send("clock advance 61");
  for (int i = 0; i < 1000 && retried == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(retried, 1);
  // The restriction side answers as it always does.
  EXPECT_EQ(hs->send("launch com.example.game"), "opened com.example.game");
  server.stop();
}

}  // namespace
