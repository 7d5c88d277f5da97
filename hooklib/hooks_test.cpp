#include "hooklib/hooks.h"
#include "hooklib/icon_cache.h"

#include <gtest/gtest.h>

#include "hooklib/test_support.h"
#include "hooklib/wardvane.h"
#include "platform/corefoundation/core_foundation.h"
#include "platform/foundation/bundle.h"
#include "platform/springboard/application_list.h"
#include "platform/springboard/home_screen.h"
#include "platform/uikit/alert_controller.h"
#include "platform/uikit/image.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/window.h"

namespace wardvane {
namespace {

using foundation::Clock;
using foundation::Value;
using springboard::HomeScreen;
using testing::at;
using testing::record;

std::vector<springboard::InstalledApp> fixtureApps() {
  std::vector<springboard::InstalledApp> apps(3);
  apps[0].bundleIdentifier = "com.example.game";
  apps[0].displayName = "Game";
  apps[0].modificationDate = 1.7e9;
  apps[0].dataUsage = 321;
  apps[0].icon = std::make_shared<uikit::Image>(2, 2, std::vector<std::uint8_t>(16, 200));
  apps[1].bundleIdentifier = "com.example.notes";
  apps[1].displayName = "Notes";
  apps[2].bundleIdentifier = "com.apple.springboard";
  apps[2].displayName = "SpringBoard";
  return apps;
}

class HooksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    foundation::Bundle::main().setBundleIdentifier(kHomeScreenBundleIdentifier);
    corefoundation::clearLoggedLines();
    Dictionary records;
    records["com.example.game"] = record(true, at(9, 0), at(17, 0), "Game");
    settings_[kRecordsKey] = records;
    root_.writeSettings(settings_);
  }
  void TearDown() override {
    Wardvane::appListIconCache().keepOnly({});
    home_.uninstall();
    wardvane = nullptr;
    foundation::Bundle::main().setBundleIdentifier(std::nullopt);
  }
  void install(const std::set<std::string>& leaveOut = {}) {
    home_.install(leaveOut);
    installHooksWith(&w_);
  }
  // Each user action comes a second after the previous one.
  void later() { Clock::advance(1); }

  testing::DeviceRoot root_;
  Dictionary settings_;
  HomeScreen home_{fixtureApps()};
  Wardvane w_;
};

TEST_F(HooksTest, LaunchIsRefusedWithTheAlertOnlyAfterTheFirstUnlock) {
  install();
  later();
  EXPECT_EQ(home_.launchFromIcon("com.example.game"), false);  // before the unlock: the home screen's own answer
  EXPECT_EQ(home_.openCount("com.example.game"), 1u);
  EXPECT_EQ(uikit::AlertController::visibleAlert(), nullptr);

  home_.finishUnlock();
  EXPECT_TRUE(w_.hasLoadedSpringBoard());
  EXPECT_EQ(home_.events().back(), "unlocked");  // the original ran
  later();
  EXPECT_EQ(home_.launchFromIcon("com.example.game"), true);
  EXPECT_EQ(home_.openCount("com.example.game"), 1u);
  auto alert = uikit::AlertController::visibleAlert();
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->alertTitle(), "Wardvane");
  EXPECT_EQ(alert->message(), "Game is currently restricted!");

  later();
  EXPECT_EQ(home_.launchFromIcon("com.example.notes"), false);
  EXPECT_EQ(home_.openCount("com.example.notes"), 1u);
  // Outside the window the app opens.
  Clock::setWall(at(18, 0));
  EXPECT_EQ(home_.launchFromIcon("com.example.game"), false);
}

TEST_F(HooksTest, RestrictedIconsLoseTheirDarkeningEvenBeforeUnlock) {
  install();
  later();
  EXPECT_FALSE(home_.pressIcon("com.example.game"));
  later();
  EXPECT_TRUE(home_.pressIcon("com.example.notes"));
  EXPECT_EQ(uikit::AlertController::visibleAlert(), nullptr);  // no alert for a press

  // The press is a full decision: a launch right after it is let through.
  home_.finishUnlock();
  later();
  EXPECT_FALSE(home_.pressIcon("com.example.game"));
  Clock::advance(0.004);
  EXPECT_EQ(home_.launchFromIcon("com.example.game"), false);
}

TEST_F(HooksTest, SwitcherTapsOnRestrictedAppsAreSwallowedWithTheAlert) {
  install();
  using Tap = void (HomeScreen::*)(const std::string&);
  for (Tap tap : {&HomeScreen::tapCardSwitcher, &HomeScreen::tapSwitcherItem, &HomeScreen::tapSwitcherIcon}) {
    later();
    (home_.*tap)("com.example.game");
    EXPECT_EQ(home_.openCount("com.example.game"), 0u);
    auto alert = uikit::AlertController::visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->chooseActionWithTitle("Ok"));
    later();
    (home_.*tap)("com.example.notes");
  }
  EXPECT_EQ(home_.openCount("com.example.notes"), 3u);
}

TEST_F(HooksTest, PassThroughHooksCallTheOriginals) {
  install();
  home_.loadSwitcherView();
  EXPECT_NE(home_.homeScreenViewController(), nullptr);
  home_.installedAppsDidChange();
  std::vector<std::string> expected = {"switcher view loaded", "home screen view controller", "installed apps changed"};
  EXPECT_EQ(home_.events(), expected);
}

TEST_F(HooksTest, MissingClassesAreLoggedAndTheOthersStillHooked) {
  install({"SBDeckSwitcherViewController", "SBAppSwitcherController"});
  auto lines = corefoundation::loggedLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, 3);
  EXPECT_EQ(lines[0].text, "[Wardvane: Wardvane:425] ERROR: logos: nil class SBDeckSwitcherViewController");
  EXPECT_EQ(lines[1].text, "[Wardvane: Wardvane:425] ERROR: logos: nil class SBAppSwitcherController");
  later();
  home_.tapCardSwitcher("com.example.game");
  EXPECT_EQ(home_.openCount("com.example.game"), 0u);
}

TEST_F(HooksTest, OtherProcessesGetTheSingletonButNoHooks) {
  foundation::Bundle::main().setBundleIdentifier("com.brimcote.wardvane");
  install();
  EXPECT_EQ(wardvane, &w_);
  later();
  home_.tapCardSwitcher("com.example.game");
  EXPECT_EQ(home_.openCount("com.example.game"), 1u);
  EXPECT_TRUE(corefoundation::loggedLines().empty());
}

// A home screen whose classes lack the instance variables, or hold nothing in them.
TEST_F(HooksTest, MissingInstanceVariablesLeaveTheOriginalAnswer) {
  auto imageViewClass = runtime::Class::make("SBIconImageView");  // no _icon
  auto overlay = std::make_shared<runtime::Object>(runtime::Class::make("Overlay"));
  imageViewClass->addMethod<springboard::sig::DarkeningOverlayImage>("darkeningOverlayImage",
                                                                     [&](const runtime::Id&) { return overlay; });
  auto containerClass = runtime::Class::make("SBDeckSwitcherItemContainer");
  containerClass->addIvar("_iconImageView");  // declared, left empty
  int taps = 0;
  containerClass->addMethod<springboard::sig::HandlePageViewTap>("_handlePageViewTap:",
                                                                 [&](const runtime::Id&, const runtime::Id&) { ++taps; });
  runtime::objc_registerClassPair(imageViewClass);
  runtime::objc_registerClassPair(containerClass);
  installHooksWith(&w_);
  later();
  EXPECT_EQ(runtime::msgSend<springboard::sig::DarkeningOverlayImage>(imageViewClass->createInstance(),
                                                                      "darkeningOverlayImage"),
            overlay);
  runtime::msgSend<springboard::sig::HandlePageViewTap>(containerClass->createInstance(), "_handlePageViewTap:",
                                                        nullptr);
  EXPECT_EQ(taps, 1);
  EXPECT_EQ(uikit::AlertController::visibleAlert(), nullptr);
  runtime::objc_disposeClassPair("SBIconImageView");
  runtime::objc_disposeClassPair("SBDeckSwitcherItemContainer");
}

TEST_F(HooksTest, AlertWindowStyleAnchorAndOk) {
  install();
  home_.finishUnlock();
  later();
  EXPECT_EQ(w_.alertWindow(), nullptr);

  struct Case {
    double version;
    uikit::AlertControllerStyle style;
  } cases[] = {{1141.14, uikit::AlertControllerStyle::Alert},
               {1240.1, uikit::AlertControllerStyle::Alert},
               {1240.11, uikit::AlertControllerStyle::ActionSheet},
               {1348.22, uikit::AlertControllerStyle::ActionSheet}};
  for (const auto& c : cases) {
    corefoundation::setCoreFoundationVersionNumber(c.version);
    later();
    ASSERT_EQ(home_.launchFromIcon("com.example.game"), true);
    auto window = w_.alertWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isHidden());
    EXPECT_EQ(window->windowLevel(), 666666.0);
    EXPECT_EQ(window->frame(), uikit::Screen::mainScreen().bounds());
    auto alert = uikit::AlertController::visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->preferredStyle(), c.style) << c.version;
    auto rootView = window->rootViewController()->view();
    EXPECT_EQ(alert->popoverPresentationController()->sourceView(), rootView);
    EXPECT_EQ(alert->popoverPresentationController()->sourceRect(), rootView->bounds());
    ASSERT_EQ(alert->actions().size(), 1u);
    EXPECT_EQ(alert->actions()[0]->title(), "Ok");
    EXPECT_TRUE(alert->chooseActionWithTitle("Ok"));
    EXPECT_TRUE(window->isHidden());
    EXPECT_EQ(uikit::AlertController::visibleAlert(), nullptr);
    EXPECT_EQ(w_.alertWindow(), window);  // kept for the next alert
  }
  corefoundation::setCoreFoundationVersionNumber(corefoundation::kDefaultCoreFoundationVersionNumber);
}

TEST_F(HooksTest, AlertsOffRefuseSilentlyAndMissingNamesLeaveItOut) {
  install();
  home_.finishUnlock();
  settings_[kShowAlertsKey] = false;
  root_.writeSettings(settings_);
  later();
  EXPECT_EQ(home_.launchFromIcon("com.example.game"), true);
  EXPECT_EQ(w_.alertWindow(), nullptr);

  Dictionary records;
  records["com.example.notes"] = record(true, at(9, 0), at(17, 0));
  settings_[kRecordsKey] = records;
  settings_[kShowAlertsKey] = true;
  root_.writeSettings(settings_);
  later();
  EXPECT_EQ(home_.launchFromIcon("com.example.notes"), true);
  auto alert = uikit::AlertController::visibleAlert();
  ASSERT_NE(alert, nullptr);
  EXPECT_EQ(alert->message(), " is currently restricted!");
}

TEST_F(HooksTest, AppListLeavesOutHiddenAndUnknownIdentifiers) {
  install();
  // The list library knows one app the application controller does not.
  auto& list = springboard::ALApplicationList::sharedApplicationList();
  auto entries = std::vector<springboard::ALApplicationList::Entry>{
      {"com.example.game", "Game", fixtureApps()[0].icon},
      {"com.example.ghost", "Ghost", nullptr},
      {"com.example.notes", "Notes", nullptr},
      {"com.apple.springboard", "SpringBoard", nullptr},
  };
  list.setApplications(entries);

  auto ids = [](const Dictionary& reply) {
    std::vector<std::string> out;
    for (const auto& e : *foundation::arrayForKey(reply, kApplicationsArrayKey))
      out.push_back(*foundation::stringForKey(*e.asDictionary(), kBundleIdentifierKey));
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(ids(Wardvane::getAppListInformationWithUserInfo("getAppListInformation", {})),
            (V{"com.example.game", "com.example.notes"}));
  EXPECT_EQ(ids(Wardvane::getAppListInformationWithUserInfo("getAppListInformation",
                                                            {{kShowHiddenKey, Value("YES")}})),
            (V{"com.example.game", "com.example.notes"}));
  auto reply = Wardvane::getAppListInformationWithUserInfo("getAppListInformation", {{kShowHiddenKey, Value(true)}});
  EXPECT_EQ(ids(reply), (V{"com.example.game", "com.example.notes", "com.apple.springboard"}));

  const auto& game = *(*foundation::arrayForKey(reply, kApplicationsArrayKey))[0].asDictionary();
  EXPECT_EQ(foundation::doubleForKey(game, kModificationDateKey), 1.7e9);
  EXPECT_EQ(foundation::intForKey(game, kDataUsageKey), 321);
  EXPECT_EQ(*foundation::stringForKey(game, kDisplayNameKey), "Game");
  auto icon = uikit::Image::imageWithData(*foundation::dataForKey(game, kIconImageKey));
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->pixelWidth(), 59u);
  const auto& notes = *(*foundation::arrayForKey(reply, kApplicationsArrayKey))[1].asDictionary();
  EXPECT_EQ(foundation::dataForKey(notes, kIconImageKey), nullptr);
}

TEST_F(HooksTest, AppListEncodesEachIconOnceUntilTheListGivesAnotherImage) {
  install();
  auto& list = springboard::ALApplicationList::sharedApplicationList();
  auto& cache = Wardvane::appListIconCache();
  auto solid = [](std::uint8_t v) {
    return std::make_shared<uikit::Image>(118, 118, std::vector<std::uint8_t>(118 * 118 * 4, v));
  };
  auto reply = [](bool showHidden) {
    return Wardvane::getAppListInformationWithUserInfo("getAppListInformation", {{kShowHiddenKey, Value(showHidden)}});
  };
  // The first pixel's red of entry i's icon, as the settings application would see it.
  auto red = [](const Dictionary& r, std::size_t i) {
    const auto& entry = *(*foundation::arrayForKey(r, kApplicationsArrayKey))[i].asDictionary();
    const auto* png = foundation::dataForKey(entry, kIconImageKey);
    auto icon = png ? uikit::Image::imageWithData(*png) : nullptr;
    return icon ? int(icon->rgba()[0]) : -1;
  };

  list.setApplications({{"com.example.game", "Game", solid(200)}, {"com.example.notes", "Notes", solid(40)}});
  auto before = cache.encodeCount();
  auto first = reply(false);
  EXPECT_EQ(cache.encodeCount(), before + 2);
  EXPECT_EQ(reply(false), first);
  reply(true);
  EXPECT_EQ(cache.encodeCount(), before + 2);  // unchanged icons are not encoded again
  EXPECT_EQ(red(first, 0), 200);
  EXPECT_EQ(red(first, 1), 40);

  // A changed icon is a new image from the list library: the next reply shows it.
  list.setApplications({{"com.example.game", "Game", solid(90)}, {"com.example.notes", "Notes", solid(40)}});
  auto changed = reply(false);
  EXPECT_EQ(red(changed, 0), 90);
  EXPECT_EQ(red(changed, 1), 40);

  // Apps that are gone, or lost their icon, are forgotten.
  list.setApplications({{"com.example.notes", "Notes", nullptr}});
  auto gone = reply(false);
  EXPECT_EQ(red(gone, 0), -1);
  EXPECT_EQ(cache.size(), 0u);
}

}  // namespace
}  // namespace wardvane
