#pragma once
// The home-screen process's own classes, defined in the object runtime with working
// original implementations, and the home screen that drives them the way a finger and
// the system would. The originals record what they did, so a caller can tell an app that
// opened from a tap that never arrived.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/runtime/runtime.h"
#include "platform/uikit/image.h"

namespace springboard {

// Method signatures of the home-screen classes, as the hook library must use them.
namespace sig {
using IsBundleIdentifierRestrictionDisabled = bool(const std::string& bundleIdentifier);  // SpringBoard
using FinishUIUnlockFromSource = void(int source);                                         // SBLockScreenViewController
using DarkeningOverlayImage = runtime::Id();                                                // SBIconImageView
using LoadView = void();                                                                    // SBDeckSwitcherViewController
using HomeScreenViewController = runtime::Id();                                             // SBHomeScreenWindow
using HandlePageViewTap = void(const runtime::Id& gesture);                                 // SBDeckSwitcherItemContainer
using SwitcherScrollerItemTapped = void(const runtime::Id& scroller, const runtime::Id& item);  // SBAppSwitcherController
using IconTapped = void(const runtime::Id& iconView);                                       // SBAppSwitcherIconController
using InstalledAppsDidChange = void(const runtime::Id& notification);                       // SBIconController
using ApplicationBundleID = std::string();        // SBIcon
using Icon = runtime::Id();                       // SBIconImageView, SBIconView
using DisplayIdentifier = std::string();          // SBDisplayItem
using SharedInstance = runtime::Id();             // +[SBApplicationController sharedInstance]
using ApplicationWithBundleIdentifier = runtime::Id(const std::string& bundleIdentifier);
using ModificationDate = double();                // SBApplication
using DataUsage = std::int32_t();
using BundleIdentifier = std::string();
using DisplayName = std::string();
}  // namespace sig

struct InstalledApp {
  std::string bundleIdentifier;
  std::string displayName;
  double modificationDate = 0;
  std::int32_t dataUsage = 0;
  std::shared_ptr<uikit::Image> icon;  // may be null
  bool restrictedByHost = false;       // the home screen's own restriction answer
};

// Reads a fixture of installed apps: a JSON array (or {"apps": [...]}) of objects with
// "bundleIdentifier" (a non-empty string) and, each optional, "displayName" (a string;
// default the identifier), "modificationDate" (a number; default 0), "dataUsage" (a
// whole number that fits 32 bits; default 0), "icon" (a PNG path, relative to the
// fixture's folder) and "restrictedByHost" (true or false). Nullopt with a message
// naming the entry in `error` when the fixture is unusable, a value of the wrong type
// included.
std::optional<std::vector<InstalledApp>> loadInstalledAppsFixture(const std::string& path, std::string* error);

class HomeScreen {
 public:
  // The names of every class this home screen defines, the nine hooked ones among them.
  static const std::vector<std::string>& classNames();

  explicit HomeScreen(std::vector<InstalledApp> apps);
  ~HomeScreen();
  HomeScreen(const HomeScreen&) = delete;
  HomeScreen& operator=(const HomeScreen&) = delete;

  // Defines the classes in the runtime registry (all but `leaveOut`), makes the objects
  // on screen, and fills the application-list library.
  void install(const std::set<std::string>& leaveOut = {});
  // Removes the classes again.
  void uninstall();

  const std::vector<InstalledApp>& apps() const { return apps_; }
  const InstalledApp* app(const std::string& bundleIdentifier) const;
  bool hasClass(const std::string& name) const;

  // What the originals did, in order: "opened <id>", "unlocked", "switcher view loaded",
  // "installed apps changed", "home screen view controller".
  const std::vector<std::string>& events() const { return events_; }
  std::size_t openCount(const std::string& bundleIdentifier) const;

  // The user's actions. Each sends the message the real home screen sends.
  // A launch from the icon: asks the restriction query and opens the app unless it says
  // the app is disabled. Returns the query's answer (nullopt without the SpringBoard class).
  std::optional<bool> launchFromIcon(const std::string& bundleIdentifier);
  void finishUnlock();
  // Pressing an icon: is the darkening overlay drawn?
  bool pressIcon(const std::string& bundleIdentifier);
  void tapCardSwitcher(const std::string& bundleIdentifier);
  void tapSwitcherItem(const std::string& bundleIdentifier);
  void tapSwitcherIcon(const std::string& bundleIdentifier);
  void loadSwitcherView();
  runtime::Id homeScreenViewController();
  void installedAppsDidChange();

 private:
  void record(std::string event) { events_.push_back(std::move(event)); }
  void openApp(const std::string& bundleIdentifier);
  runtime::ClassRef define(const std::string& name, const std::set<std::string>& leaveOut);

  std::vector<InstalledApp> apps_;
  std::vector<std::string> events_;
  std::vector<std::string> defined_;
  runtime::Id springBoard_, lockScreen_, deckSwitcher_, homeWindow_, homeViewController_, switcherController_,
      switcherScroller_, switcherIconController_, iconController_, applicationController_, overlayImage_;
  std::map<std::string, runtime::Id> iconImageViews_, cardContainers_, switcherItems_, iconViews_, applications_;
};

}  // namespace springboard
