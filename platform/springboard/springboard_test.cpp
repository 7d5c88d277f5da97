#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/property_list.h"
#include "platform/springboard/application_list.h"
#include "platform/springboard/home_screen.h"

namespace springboard {
namespace {

std::shared_ptr<uikit::Image> checker(std::uint32_t w, std::uint32_t h) {
  std::vector<std::uint8_t> rgba(std::size_t(w) * h * 4);
  for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<std::uint8_t>(i * 7);
  return std::make_shared<uikit::Image>(w, h, std::move(rgba));
}

class FixtureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("wv-sb-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& text) {
    auto p = (dir_ / name).string();
    std::ofstream(p) << text;
    return p;
  }
  std::filesystem::path dir_;
};

TEST_F(FixtureTest, LoadsAppsWithRelativeIconsAndRejectsBadFixtures) {
  auto png = *uikit::Image::pngRepresentation(checker(4, 4));
  foundation::writeFileAtomically((dir_ / "game.png").string(), png.data(), png.size());
  auto path = write("apps.json", R"({"apps": [
      {"bundleIdentifier": "com.example.game", "displayName": "Game", "modificationDate": 1.5e9,
       "dataUsage": 42, "icon": "game.png", "restrictedByHost": true},
      {"bundleIdentifier": "com.example.notes"}]})");
  std::string error;
  auto apps = loadInstalledAppsFixture(path, &error);
  ASSERT_TRUE(apps) << error;
  ASSERT_EQ(apps->size(), 2u);
  EXPECT_EQ((*apps)[0].displayName, "Game");
  EXPECT_EQ((*apps)[0].modificationDate, 1.5e9);
  EXPECT_EQ((*apps)[0].dataUsage, 42);
  EXPECT_TRUE((*apps)[0].restrictedByHost);
  ASSERT_TRUE((*apps)[0].icon);
  EXPECT_EQ((*apps)[0].icon->pixelWidth(), 4u);
  EXPECT_EQ((*apps)[1].displayName, "com.example.notes");
  EXPECT_FALSE((*apps)[1].icon);
  // The ends of the 32-bit range, and a whole number written as a real, are kept exactly.
  apps = loadInstalledAppsFixture(write("edges.json", R"([{"bundleIdentifier": "a", "dataUsage": 2147483647},
      {"bundleIdentifier": "b", "dataUsage": -2147483648}, {"bundleIdentifier": "c", "dataUsage": 5e3}])"),
                                  &error);
  ASSERT_TRUE(apps) << error;
  EXPECT_EQ((*apps)[0].dataUsage, 2147483647);
  EXPECT_EQ((*apps)[1].dataUsage, -2147483647 - 1);
  EXPECT_EQ((*apps)[2].dataUsage, 5000);

  struct Bad {
    const char* json;
    const char* message;
  } bad[] = {
      {"not json", "not JSON"},
      {R"({"x": 1})", "expected an array"},
      {R"([{"displayName": "x"}])", "missing \"bundleIdentifier\""},
      {R"([{"bundleIdentifier": "a"}, {"bundleIdentifier": "a"}])", "duplicate"},
      {R"([{"bundleIdentifier": "a", "icon": "missing.png"}])", "app 0 (a): icon"},
      {R"([{"bundleIdentifier": 7}])", "app 0: \"bundleIdentifier\" must be a non-empty string, not 7"},
      {R"([{"bundleIdentifier": "a"}, {"bundleIdentifier": "b", "modificationDate": "2024-03-05"}])",
       "app 1 (b): \"modificationDate\" must be a number (seconds since 1970), not \"2024-03-05\""},
      {R"([{"bundleIdentifier": "a", "modificationDate": true}])", "app 0 (a): \"modificationDate\" must be a number"},
      {R"([{"bundleIdentifier": "a", "dataUsage": 123456789012345678901234567890}])",
       "app 0 (a): \"dataUsage\" 1.2345678901234568e+29 is not a whole number from -2147483648 to 2147483647"},
      {R"([{"bundleIdentifier": "a", "dataUsage": 18446744073709551615}])", "app 0 (a): \"dataUsage\""},
      {R"([{"bundleIdentifier": "a", "dataUsage": 2147483648}])", "app 0 (a): \"dataUsage\" 2147483648 is not"},
      {R"([{"bundleIdentifier": "a", "dataUsage": 12.5}])", "app 0 (a): \"dataUsage\" 12.5 is not a whole number"},
      {R"([{"bundleIdentifier": "a", "dataUsage": "77"}])",
       "app 0 (a): \"dataUsage\" must be a whole number, not \"77\""},
      {R"([{"bundleIdentifier": "a", "displayName": ["x"]}])",
       "app 0 (a): \"displayName\" must be a string, not an array"},
      {R"([{"bundleIdentifier": "a", "icon": 3}])", "app 0 (a): \"icon\" must be a path"},
      {R"([{"bundleIdentifier": "a", "restrictedByHost": "yes"}])",
       "app 0 (a): \"restrictedByHost\" must be true or false"},
  };
  for (const auto& b : bad) {
    error.clear();
    EXPECT_FALSE(loadInstalledAppsFixture(write("bad.json", b.json), &error)) << b.json;
    EXPECT_NE(error.find(b.message), std::string::npos) << error;
  }
}

TEST(HomeScreenClasses, OriginalsOpenAppsAndAnswerTheirOwnRestriction) {
  std::vector<InstalledApp> apps(2);
  apps[0].bundleIdentifier = "com.example.game";
  apps[0].displayName = "Game";
  apps[0].icon = checker(118, 118);
  apps[1].bundleIdentifier = "com.example.locked";
  apps[1].restrictedByHost = true;
  HomeScreen home(apps);
  home.install();

  EXPECT_EQ(home.launchFromIcon("com.example.game"), false);
  EXPECT_EQ(home.launchFromIcon("com.example.locked"), true);
  EXPECT_EQ(home.openCount("com.example.game"), 1u);
  EXPECT_EQ(home.openCount("com.example.locked"), 0u);
  home.tapCardSwitcher("com.example.game");
  home.tapSwitcherItem("com.example.game");
  home.tapSwitcherIcon("com.example.game");
  EXPECT_EQ(home.openCount("com.example.game"), 4u);
  EXPECT_TRUE(home.pressIcon("com.example.game"));
  home.finishUnlock();
  home.loadSwitcherView();
  EXPECT_NE(home.homeScreenViewController(), nullptr);
  home.installedAppsDidChange();
  EXPECT_EQ(home.events().back(), "installed apps changed");

  // The application controller is found by name, like the hook library finds it.
  auto controllerClass = runtime::objc_getClass("SBApplicationController");
  auto controller = runtime::msgSendClass<sig::SharedInstance>(controllerClass, "sharedInstance");
  auto game = runtime::msgSend<sig::ApplicationWithBundleIdentifier>(controller, "applicationWithBundleIdentifier:",
                                                                     std::string("com.example.game"));
  EXPECT_EQ(runtime::msgSend<sig::DisplayName>(game, "displayName"), "Game");
  EXPECT_EQ(runtime::msgSend<sig::ApplicationWithBundleIdentifier>(controller, "applicationWithBundleIdentifier:",
                                                                   std::string("com.example.absent")),
            nullptr);

  auto& list = ALApplicationList::sharedApplicationList();
  auto listed = list.applications();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].first, "com.example.game");  // fixture order
  auto icon = list.iconOfSizeForDisplayIdentifier(59, "com.example.game");
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->pixelWidth(), 59u);
  EXPECT_EQ(list.iconOfSizeForDisplayIdentifier(59, "com.example.game"), icon);  // made once
  EXPECT_FALSE(list.iconOfSizeForDisplayIdentifier(59, "com.example.locked"));
}

TEST(HomeScreenClasses, LeftOutClassesAreNotRegistered) {
  HomeScreen home({});
  home.install({"SBDeckSwitcherItemContainer", "SBAppSwitcherController"});
  EXPECT_EQ(runtime::objc_getClass("SBDeckSwitcherItemContainer"), nullptr);
  EXPECT_EQ(runtime::objc_getClass("SBAppSwitcherController"), nullptr);
  EXPECT_NE(runtime::objc_getClass("SpringBoard"), nullptr);
  EXPECT_FALSE(home.hasClass("SBAppSwitcherController"));
  home.uninstall();
  EXPECT_EQ(runtime::objc_getClass("SpringBoard"), nullptr);
}

}  // namespace
}  // namespace springboard
