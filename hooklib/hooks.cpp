#include "hooklib/hooks.h"

#include <cstdio>

#include "hooklib/wardvane.h"
#include "platform/corefoundation/core_foundation.h"
#include "platform/foundation/clock.h"
#include "platform/runtime/runtime.h"
#include "platform/springboard/home_screen.h"

namespace wardvane {
namespace {

namespace sig = springboard::sig;
using runtime::Id;
using runtime::Imp;
using runtime::msgSend;

// The implementations in force before each hook, through which the hooks pass calls on.
Imp<sig::IsBundleIdentifierRestrictionDisabled> orig_SpringBoard_isBundleIdentifierRestrictionDisabled;
Imp<sig::FinishUIUnlockFromSource> orig_SBLockScreenViewController_finishUIUnlockFromSource;
Imp<sig::DarkeningOverlayImage> orig_SBIconImageView_darkeningOverlayImage;
Imp<sig::LoadView> orig_SBDeckSwitcherViewController_loadView;
Imp<sig::HomeScreenViewController> orig_SBHomeScreenWindow_homeScreenViewController;
Imp<sig::HandlePageViewTap> orig_SBDeckSwitcherItemContainer_handlePageViewTap;
Imp<sig::SwitcherScrollerItemTapped> orig_SBAppSwitcherController_switcherScrollerItemTapped;
Imp<sig::IconTapped> orig_SBAppSwitcherIconController_iconTapped;
Imp<sig::InstalledAppsDidChange> orig_SBIconController_installedAppsDidChange;

// The object held in the named instance variable, or null when this version of the class
// has no such variable.
Id ivarNamed(const Id& self, const char* name) {
  if (!self) return nullptr;
  return runtime::object_getIvar(self, runtime::class_getInstanceVariable(self->isa(), name));
}

// The bundle identifier of an icon; empty when there is no icon or it has none.
std::string applicationBundleIDOf(const Id& icon) {
  if (!icon || !runtime::respondsToSelector(icon, "applicationBundleID")) return {};
  return msgSend<sig::ApplicationBundleID>(icon, "applicationBundleID");
}

std::string iconBundleIDOf(const Id& iconHolder) {
  if (!iconHolder || !runtime::respondsToSelector(iconHolder, "icon")) return {};
  return applicationBundleIDOf(msgSend<sig::Icon>(iconHolder, "icon"));
}

// An identifier that could not be read has no record, so the app is never stopped.
bool mayOpen(const std::string& bundleIdentifier) {
  return bundleIdentifier.empty() || !wardvane || wardvane->checkBundle(bundleIdentifier);
}

bool hook_SpringBoard_isBundleIdentifierRestrictionDisabled(const Id& self, const std::string& bundleIdentifier) {
  bool answer = orig_SpringBoard_isBundleIdentifierRestrictionDisabled
                    ? orig_SpringBoard_isBundleIdentifierRestrictionDisabled(self, bundleIdentifier)
                    : false;
  if (wardvane && wardvane->hasLoadedSpringBoard() && !wardvane->checkBundle(bundleIdentifier)) {
    wardvane->showAlertForBundle(bundleIdentifier);
    return true;
  }
  return answer;
}

void hook_SBLockScreenViewController_finishUIUnlockFromSource(const Id& self, int source) {
  if (orig_SBLockScreenViewController_finishUIUnlockFromSource)
    orig_SBLockScreenViewController_finishUIUnlockFromSource(self, source);
  if (wardvane) wardvane->setHasLoadedSpringBoard(true);
}

Id hook_SBIconImageView_darkeningOverlayImage(const Id& self) {
  Id image = orig_SBIconImageView_darkeningOverlayImage ? orig_SBIconImageView_darkeningOverlayImage(self) : nullptr;
  std::string bundleIdentifier = applicationBundleIDOf(ivarNamed(self, "_icon"));
  return mayOpen(bundleIdentifier) ? image : nullptr;
}

void hook_SBDeckSwitcherViewController_loadView(const Id& self) {
  if (orig_SBDeckSwitcherViewController_loadView) orig_SBDeckSwitcherViewController_loadView(self);
}

Id hook_SBHomeScreenWindow_homeScreenViewController(const Id& self) {
  return orig_SBHomeScreenWindow_homeScreenViewController ? orig_SBHomeScreenWindow_homeScreenViewController(self)
                                                           : nullptr;
}

// A switcher tap on a restricted app gets the alert and never reaches the switcher.
bool swallowTap(const std::string& bundleIdentifier) {
  if (mayOpen(bundleIdentifier)) return false;
  wardvane->showAlertForBundle(bundleIdentifier);
  return true;
}

void hook_SBDeckSwitcherItemContainer_handlePageViewTap(const Id& self, const Id& gesture) {
  if (swallowTap(iconBundleIDOf(ivarNamed(self, "_iconImageView")))) return;
  if (orig_SBDeckSwitcherItemContainer_handlePageViewTap) orig_SBDeckSwitcherItemContainer_handlePageViewTap(self, gesture);
}

void hook_SBAppSwitcherController_switcherScrollerItemTapped(const Id& self, const Id& scroller, const Id& item) {
  std::string bundleIdentifier;
  if (item && runtime::respondsToSelector(item, "displayIdentifier"))
    bundleIdentifier = msgSend<sig::DisplayIdentifier>(item, "displayIdentifier");
  if (swallowTap(bundleIdentifier)) return;
  if (orig_SBAppSwitcherController_switcherScrollerItemTapped)
    orig_SBAppSwitcherController_switcherScrollerItemTapped(self, scroller, item);
}

void hook_SBAppSwitcherIconController_iconTapped(const Id& self, const Id& iconView) {
  if (swallowTap(iconBundleIDOf(iconView))) return;
  if (orig_SBAppSwitcherIconController_iconTapped) orig_SBAppSwitcherIconController_iconTapped(self, iconView);
}

void hook_SBIconController_installedAppsDidChange(const Id& self, const Id& notification) {
  if (orig_SBIconController_installedAppsDidChange) orig_SBIconController_installedAppsDidChange(self, notification);
}

void logNilClass(const char* className) {
  char line[512];
  std::snprintf(line, sizeof line, "[%s: %s:%d] %s: %s", "Wardvane", "Wardvane", 425, "ERROR",
                ("logos: nil class " + std::string(className)).c_str());
  corefoundation::CFLog(corefoundation::kCFLogLevelError, line);
}

template <typename Sig>
void hook(const char* className, const char* selector, Imp<Sig> replacement, Imp<Sig>* saved) {
  auto cls = runtime::objc_getClass(className);
  if (!cls) {
    logNilClass(className);
    return;
  }
  runtime::MSHookMessageEx<Sig>(cls, selector, std::move(replacement), saved);
}

}  // namespace

void installHooks() { installHooksWith(Wardvane::sharedInstance()); }

void installHooksWith(Wardvane* instance) {
  wardvane = instance;
  wardvane->setHasLoadedSpringBoard(false);
  wardvane->setLastAlertDate(foundation::Date{foundation::Clock::now()});
  if (corefoundation::CFBundleGetMainBundleIdentifier() != kHomeScreenBundleIdentifier) return;

  hook<sig::IsBundleIdentifierRestrictionDisabled>("SpringBoard", "isBundleIdentifierRestrictionDisabled:",
                                                   hook_SpringBoard_isBundleIdentifierRestrictionDisabled,
                                                   &orig_SpringBoard_isBundleIdentifierRestrictionDisabled);
  hook<sig::FinishUIUnlockFromSource>("SBLockScreenViewController", "finishUIUnlockFromSource:",
                                      hook_SBLockScreenViewController_finishUIUnlockFromSource,
                                      &orig_SBLockScreenViewController_finishUIUnlockFromSource);
  hook<sig::DarkeningOverlayImage>("SBIconImageView", "darkeningOverlayImage", hook_SBIconImageView_darkeningOverlayImage,
                                   &orig_SBIconImageView_darkeningOverlayImage);
  hook<sig::LoadView>("SBDeckSwitcherViewController", "loadView", hook_SBDeckSwitcherViewController_loadView,
                      &orig_SBDeckSwitcherViewController_loadView);
  hook<sig::HomeScreenViewController>("SBHomeScreenWindow", "homeScreenViewController",
                                      hook_SBHomeScreenWindow_homeScreenViewController,
                                      &orig_SBHomeScreenWindow_homeScreenViewController);
  hook<sig::HandlePageViewTap>("SBDeckSwitcherItemContainer", "_handlePageViewTap:",
                               hook_SBDeckSwitcherItemContainer_handlePageViewTap,
                               &orig_SBDeckSwitcherItemContainer_handlePageViewTap);
  hook<sig::SwitcherScrollerItemTapped>("SBAppSwitcherController", "switcherScroller:itemTapped:",
                                        hook_SBAppSwitcherController_switcherScrollerItemTapped,
                                        &orig_SBAppSwitcherController_switcherScrollerItemTapped);
  hook<sig::IconTapped>("SBAppSwitcherIconController", "iconTapped:", hook_SBAppSwitcherIconController_iconTapped,
                        &orig_SBAppSwitcherIconController_iconTapped);
  hook<sig::InstalledAppsDidChange>("SBIconController", "_installedAppsDidChange:",
                                    hook_SBIconController_installedAppsDidChange,
                                    &orig_SBIconController_installedAppsDidChange);
}

}  // namespace wardvane
