// The real WardvaneApp and the real homescreen with the plug-in, in a temporary device
// root, driven by their commands as a person would.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "hooklib/shared/settings_file.h"
#include "platform/foundation/property_list.h"
#include "platform/uikit/controls.h"
#include "tools/testsupport/driven_process.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

// WardvaneApp answers "screen" with a block of lines through "=== end"; send answers the
// whole block for it.
class Process : public testsupport::DrivenProcess {
 public:
  using DrivenProcess::DrivenProcess;
  std::string send(const std::string& command) {
    std::string answer = DrivenProcess::send(command);
    if (answer == "=== screen") {
      for (std::string l; (l = readLine()) != "=== end" && l[0] != '<';) answer += "\n" + l;
      answer += "\n=== end";
    }
    return answer;
  }
};

class TwoProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Short, as the sockets under it must fit a socket address; numbered, so no test
    // of a run meets the files of another.
    static int serial = 0;
    root_ = std::filesystem::temp_directory_path() /
            ("wv-two-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    ::setenv("WARDVANE_DEVICE_ROOT", root_.c_str(), 1);
    auto png = *uikit::Image::pngRepresentation(
        std::make_shared<uikit::Image>(4, 4, std::vector<std::uint8_t>(64, 200)));
    foundation::writeFileAtomically((root_ / "game.png").string(), png.data(), png.size());
    std::ofstream(root_ / "apps.json") << R"([
      {"bundleIdentifier": "com.example.notes", "displayName": "Notes", "modificationDate": 1600000000},
      {"bundleIdentifier": "com.example.game", "displayName": "Game", "modificationDate": 1700000000,
       "dataUsage": 77, "icon": "game.png"},
      {"bundleIdentifier": "com.example.atlas", "displayName": "atlas", "modificationDate": 1650000000,
       "dataUsage": 500},
      {"bundleIdentifier": "com.apple.springboard", "displayName": "SpringBoard"}])";
  }
  void TearDown() override {
    std::filesystem::remove_all(root_);
    ::unsetenv("WARDVANE_DEVICE_ROOT");
  }
  std::vector<std::string> env(std::vector<std::string> more = {}) {
    more.push_back("WARDVANE_DEVICE_ROOT=" + root_.string());
    more.push_back("TZ=UTC");
    return more;
  }
  std::unique_ptr<Process> homescreen() {
    auto p = std::make_unique<Process>(
        HOMESCREEN_PATH,
        std::vector<std::string>{"--apps", (root_ / "apps.json").string(), "--clock", "2024-03-05 12:00"}, env());
    EXPECT_EQ(p->readLine().rfind("homescreen ready", 0), 0u);
    EXPECT_EQ(p->send("unlock"), "unlocked");
    return p;
  }
  std::unique_ptr<Process> wardvaneApp(std::vector<std::string> moreEnv = {}) {
    return std::make_unique<Process>(WARDVANEAPP_PATH, std::vector<std::string>{}, env(std::move(moreEnv)));
  }
  std::optional<Dictionary> settings() { return wardvane::readSettingsFile(*wardvane::settingsFilePath()); }
  void writeSettings(const Dictionary& d) {
    ASSERT_TRUE(foundation::writePropertyListFile(*wardvane::settingsFilePath(), Value(d)));
  }

  std::filesystem::path root_;
};

const char* kListScreen =
    "=== screen\n"
    "title \"Wardvane\"\n"
    "left \"Sort\"\n"
    "right \"Settings\"\n";

TEST_F(TwoProcessesTest, ARestrictionSetInTheAppRefusesTheAppOnTheHomeScreenUntilDisabled) {
  auto hs = homescreen();
  auto app = wardvaneApp();
  EXPECT_EQ(app->send("screen"), std::string(kListScreen) +
                                     "row 0 \"atlas\" \"com.example.atlas\" >\n"
                                     "row 1 \"Game\" \"com.example.game\" > icon\n"
                                     "row 2 \"Notes\" \"com.example.notes\" >\n"
                                     "=== end");
  EXPECT_EQ(app->send("tap 1"), "ok");
  EXPECT_EQ(app->send("switch 0 on"), "ok on");
  EXPECT_EQ(app->send("tap 1"), "ok");
  EXPECT_EQ(app->send("picker 11:00"), "ok 11:00");
  EXPECT_EQ(app->send("choose Ok"), "ok");
  EXPECT_EQ(app->send("tap 2"), "ok");
  EXPECT_EQ(app->send("picker 13:00"), "ok 13:00");
  EXPECT_EQ(app->send("choose Ok"), "ok");
  EXPECT_EQ(app->send("screen"),
            "=== screen\n"
            "title \"Game\"\n"
            "back \"Wardvane\"\n"
            "row 0 \"Enable Restrictions\" switch=on enabled\n"
            "row 1 \"Start Time\" \"11:00\"\n"
            "row 2 \"End Time\" \"13:00\"\n"
            "=== end");

  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("launch com.example.game"), "refused com.example.game");
  EXPECT_NE(hs->send("alert").find("message=\"Game is currently restricted!\""), std::string::npos);
  EXPECT_EQ(hs->send("alert tap Ok").rfind("tapped", 0), 0u);
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("launch com.example.notes"), "opened com.example.notes");

  EXPECT_EQ(app->send("back"), "ok");
  EXPECT_EQ(app->send("button Settings"), "ok");
  EXPECT_EQ(app->send("switch 0 off"), "ok off");
  hs->send("clock advance 1");
  EXPECT_EQ(hs->send("launch com.example.game"), "opened com.example.game");
  EXPECT_EQ(settings()->at("isEnabled"), Value(false));
}

TEST_F(TwoProcessesTest, SortOrdersHiddenAppsAndThemeChangeWhatTheListShows) {
  auto hs = homescreen();
  auto app = wardvaneApp();
  auto names = [&] {
    std::string s = app->send("screen"), out;
    for (std::size_t p = 0; (p = s.find("\nrow ", p)) != std::string::npos; ++p) {
      auto q = s.find('"', p) + 1;
      out += (out.empty() ? "" : ",") + s.substr(q, s.find('"', q) - q);
    }
    return out;
  };
  EXPECT_EQ(names(), "atlas,Game,Notes");
  struct Case {
    const char* action;
    const char* order;
    int sortType;
  } cases[] = {{"Date Modified", "Game,atlas,Notes", 1}, {"Data Usage", "atlas,Game,Notes", 2},
               {"Display Name", "atlas,Game,Notes", 0}};
  for (auto& c : cases) {
    EXPECT_EQ(app->send("button Sort"), "ok");
    EXPECT_EQ(app->send(std::string("choose ") + c.action), "ok");
    EXPECT_EQ(names(), c.order) << c.action;
    EXPECT_EQ(settings()->at("sortType"), Value(c.sortType));
  }

  EXPECT_EQ(app->send("button Settings"), "ok");
  EXPECT_EQ(app->send("switch 1 on"), "ok on");
  EXPECT_EQ(app->send("tap 4"), "ok");
  EXPECT_EQ(app->send("choose Dark"), "ok");
  EXPECT_EQ(app->send("theme"),
            "ok theme \"Dark\" bar=36,36,36 tint=36,194,103 title=36,194,103 background=24,24,24 separator=16,16,16 "
            "cell=24,24,24 text=170,170,170");
  EXPECT_EQ(app->send("back"), "ok");
  EXPECT_EQ(names(), "atlas,Game,Notes,SpringBoard");
  EXPECT_NE(app->send("screen").find("row 3 \"SpringBoard\" \"com.apple.springboard\""), std::string::npos);
  EXPECT_EQ(app->send("theme").rfind("ok theme \"Dark\" bar=36,36,36", 0), 0u);
  EXPECT_EQ(settings()->at("uiTheme"), Value(1));
  EXPECT_EQ(settings()->at("showHiddenApps"), Value(true));
}

TEST_F(TwoProcessesTest, FingerprintLockOutcomes) {
  auto hs = homescreen();
  writeSettings({{"useTouchID", true}});
  {
    auto app = wardvaneApp({"WARDVANE_LA_OUTCOME=success"});
    EXPECT_EQ(app->send("screen").find("locked"), std::string::npos);
    EXPECT_EQ(app->send("touchid prompts"), "ok 1");
  }
  {
    auto app = wardvaneApp({"WARDVANE_LA_OUTCOME=cancel"});
    EXPECT_NE(app->send("screen").find("\nlocked\n"), std::string::npos);
    EXPECT_EQ(app->send("tap 0"), "error: the screen is locked");
    EXPECT_EQ(app->send("background"), "ok");
    EXPECT_EQ(app->send("touchid outcome success"), "ok");
    EXPECT_EQ(app->send("foreground"), "ok");
    EXPECT_EQ(app->send("screen").find("locked"), std::string::npos);
    EXPECT_EQ(app->send("tap 0"), "ok");
  }
  {
    auto app = wardvaneApp({"WARDVANE_LA_CAN_EVALUATE=0"});
    EXPECT_NE(app->send("screen").find("\nlocked\n"), std::string::npos);
    EXPECT_EQ(app->send("touchid prompts"), "ok 0");
  }
  {
    writeSettings({{"useTouchID", false}});
    auto app = wardvaneApp({"WARDVANE_LA_CAN_EVALUATE=0"});
    EXPECT_EQ(app->send("button Settings"), "ok");
    EXPECT_NE(app->send("screen").find("\"Use TouchID\" \"Lock the Wardvane app with your fingerprint.\" "
                                       "switch=off disabled"),
              std::string::npos);
  }
}

TEST_F(TwoProcessesTest, WithoutAHomeScreenTheListIsEmptyAndTheAppWorks) {
  auto start = std::chrono::steady_clock::now();
  auto app = wardvaneApp();
  EXPECT_EQ(app->send("screen"), std::string(kListScreen) + "=== end");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(app->send("button Settings"), "ok");
  EXPECT_EQ(app->send("switch 2 off"), "ok off");
  EXPECT_EQ(settings()->at("showAlerts"), Value(false));
}

}  // namespace
