#include "platform/springboard/home_screen.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include "platform/foundation/json.h"
#include "platform/foundation/property_list.h"
#include "platform/springboard/application_list.h"

namespace springboard {

using runtime::ClassRef;
using runtime::Id;
using runtime::msgSend;

namespace {

// Objects that carry host data next to their instance variables.
struct IconObject : runtime::Object {
  IconObject(ClassRef c, std::string id) : Object(std::move(c)), bundleID(std::move(id)) {}
  std::string bundleID;
};
struct DisplayItemObject : runtime::Object {
  DisplayItemObject(ClassRef c, std::string id) : Object(std::move(c)), displayIdentifier(std::move(id)) {}
  std::string displayIdentifier;
};
struct ApplicationObject : runtime::Object {
  ApplicationObject(ClassRef c, const InstalledApp& a) : Object(std::move(c)), app(a) {}
  InstalledApp app;
};

template <typename T>
T& as(const Id& self) {
  return static_cast<T&>(*self);
}

// The app an object on screen stands for, read the way the home screen itself does.
std::string bundleIDOfIconHolder(const Id& holder) {
  auto icon = msgSend<sig::Icon>(holder, "icon");
  return msgSend<sig::ApplicationBundleID>(icon, "applicationBundleID");
}

const std::vector<std::string> kClassNames = {
    "SpringBoard",
    "SBLockScreenViewController",
    "SBIconImageView",
    "SBDeckSwitcherViewController",
    "SBHomeScreenWindow",
    "SBDeckSwitcherItemContainer",
    "SBAppSwitcherController",
    "SBAppSwitcherIconController",
    "SBIconController",
    "SBApplicationController",
    "SBApplication",
    "SBIcon",
    "SBIconView",
    "SBDisplayItem",
    "SBHomeScreenViewController",
    "SBAppSwitcherScrollView",
};

// A fixture's value as an error message shows it: short JSON.
std::string describe(const foundation::Value& v) {
  if (v.asArray()) return "an array";
  if (v.asDictionary()) return "an object";
  auto text = foundation::jsonSerialize(v);
  return text.size() > 40 ? text.substr(0, 37) + "..." : text;
}

}  // namespace

const std::vector<std::string>& HomeScreen::classNames() { return kClassNames; }

std::optional<std::vector<InstalledApp>> loadInstalledAppsFixture(const std::string& path, std::string* error) {
  auto fail = [&](std::string message) -> std::optional<std::vector<InstalledApp>> {
    if (error) *error = path + ": " + message;
    return std::nullopt;
  };
  auto bytes = foundation::readFileBytes(path);
  if (!bytes) return fail("cannot read the file");
  auto root = foundation::jsonParse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (!root) return fail("not JSON");
  const foundation::Array* list = root->asArray();
  if (!list && root->asDictionary()) list = foundation::arrayForKey(*root->asDictionary(), "apps");
  if (!list) return fail("expected an array of apps, or {\"apps\": [...]}");
  auto folder = std::filesystem::path(path).parent_path();
  std::vector<InstalledApp> apps;
  std::set<std::string> seen;
  for (std::size_t i = 0; i < list->size(); ++i) {
    const auto* d = (*list)[i].asDictionary();
    std::string where = "app " + std::to_string(i);
    if (!d) return fail(where + ": not an object");
    InstalledApp a;
    // A key of the wrong type is refused, never read as its default: a typo in a fixture
    // must not quietly become another app.
    auto field = [&](const char* key) -> const foundation::Value* {
      auto it = d->find(key);
      return it == d->end() ? nullptr : &it->second;
    };
    const auto* idValue = field("bundleIdentifier");
    if (!idValue) return fail(where + ": missing \"bundleIdentifier\"");
    if (!idValue->asString() || idValue->asString()->empty())
      return fail(where + ": \"bundleIdentifier\" must be a non-empty string, not " + describe(*idValue));
    const auto& id = *idValue->asString();
    where += " (" + id + ")";
    if (!seen.insert(id).second) return fail(where + ": duplicate bundle identifier " + id);
    a.bundleIdentifier = id;
    if (const auto* v = field("displayName")) {
      if (!v->asString()) return fail(where + ": \"displayName\" must be a string, not " + describe(*v));
      a.displayName = *v->asString();
    } else {
      a.displayName = id;
    }
    if (const auto* v = field("modificationDate")) {
      if (!v->isNumber())
        return fail(where + ": \"modificationDate\" must be a number (seconds since 1970), not " + describe(*v));
      a.modificationDate = *v->doubleValue();
    }
    if (const auto* v = field("dataUsage")) {
      // The home screen keeps data usage as a 32-bit count; anything else would wrap.
      auto usage = v->asInteger() ? std::optional<double>(static_cast<double>(*v->asInteger()))
                                  : (v->asReal() ? std::optional<double>(*v->asReal()) : std::nullopt);
      if (!usage) return fail(where + ": \"dataUsage\" must be a whole number, not " + describe(*v));
      if (*usage != std::floor(*usage) || *usage < -2147483648.0 || *usage > 2147483647.0)
        return fail(where + ": \"dataUsage\" " + describe(*v) +
                    " is not a whole number from -2147483648 to 2147483647 (a 32-bit count)");
      a.dataUsage = static_cast<std::int32_t>(*usage);
    }
    if (const auto* v = field("restrictedByHost")) {
      if (!v->asBoolean()) return fail(where + ": \"restrictedByHost\" must be true or false, not " + describe(*v));
      a.restrictedByHost = *v->asBoolean();
    }
    if (const auto* v = field("icon")) {
      if (!v->asString()) return fail(where + ": \"icon\" must be a path to a PNG file, not " + describe(*v));
      auto iconPath = std::filesystem::path(*v->asString());
      if (iconPath.is_relative()) iconPath = folder / iconPath;
      auto png = foundation::readFileBytes(iconPath.string());
      a.icon = png ? uikit::Image::imageWithData(*png) : nullptr;
      if (!a.icon) return fail(where + ": icon " + iconPath.string() + " is not a readable PNG");
    }
    apps.push_back(std::move(a));
  }
  return apps;
}

HomeScreen::HomeScreen(std::vector<InstalledApp> apps) : apps_(std::move(apps)) {}

HomeScreen::~HomeScreen() { uninstall(); }

const InstalledApp* HomeScreen::app(const std::string& bundleIdentifier) const {
  for (const auto& a : apps_)
    if (a.bundleIdentifier == bundleIdentifier) return &a;
  return nullptr;
}

bool HomeScreen::hasClass(const std::string& name) const {
  return std::find(defined_.begin(), defined_.end(), name) != defined_.end();
}

std::size_t HomeScreen::openCount(const std::string& bundleIdentifier) const {
  return static_cast<std::size_t>(std::count(events_.begin(), events_.end(), "opened " + bundleIdentifier));
}

ClassRef HomeScreen::define(const std::string& name, const std::set<std::string>& leaveOut) {
  auto cls = runtime::Class::make(name);
  if (leaveOut.count(name)) return cls;  // this home screen has no such class: not registered
  runtime::objc_registerClassPair(cls);
  defined_.push_back(name);
  return cls;
}

void HomeScreen::install(const std::set<std::string>& leaveOut) {
  uninstall();
  auto make = [&](const std::string& name) { return define(name, leaveOut); };

  auto iconClass = make("SBIcon");
  iconClass->addMethod<sig::ApplicationBundleID>("applicationBundleID",
                                                 [](const Id& self) { return as<IconObject>(self).bundleID; });

  auto iconImageViewClass = make("SBIconImageView");
  iconImageViewClass->addIvar("_icon");
  iconImageViewClass->addMethod<sig::Icon>("icon", [](const Id& self) { return self->ivarValue("_icon"); });
  iconImageViewClass->addMethod<sig::DarkeningOverlayImage>("darkeningOverlayImage",
                                                            [this](const Id&) { return overlayImage_; });

  auto iconViewClass = make("SBIconView");
  iconViewClass->addIvar("_icon");
  iconViewClass->addMethod<sig::Icon>("icon", [](const Id& self) { return self->ivarValue("_icon"); });

  auto displayItemClass = make("SBDisplayItem");
  displayItemClass->addMethod<sig::DisplayIdentifier>(
      "displayIdentifier", [](const Id& self) { return as<DisplayItemObject>(self).displayIdentifier; });

  auto applicationClass = make("SBApplication");
  applicationClass->addMethod<sig::ModificationDate>(
      "modificationDate", [](const Id& self) { return as<ApplicationObject>(self).app.modificationDate; });
  applicationClass->addMethod<sig::DataUsage>("dataUsage",
                                              [](const Id& self) { return as<ApplicationObject>(self).app.dataUsage; });
  applicationClass->addMethod<sig::BundleIdentifier>(
      "bundleIdentifier", [](const Id& self) { return as<ApplicationObject>(self).app.bundleIdentifier; });
  applicationClass->addMethod<sig::DisplayName>("displayName",
                                                [](const Id& self) { return as<ApplicationObject>(self).app.displayName; });

  auto springBoardClass = make("SpringBoard");
  springBoardClass->addMethod<sig::IsBundleIdentifierRestrictionDisabled>(
      "isBundleIdentifierRestrictionDisabled:", [this](const Id&, const std::string& id) {
        const auto* a = app(id);
        return a && a->restrictedByHost;
      });

  auto lockScreenClass = make("SBLockScreenViewController");
  lockScreenClass->addMethod<sig::FinishUIUnlockFromSource>("finishUIUnlockFromSource:",
                                                            [this](const Id&, int) { record("unlocked"); });

  auto deckSwitcherClass = make("SBDeckSwitcherViewController");
  deckSwitcherClass->addMethod<sig::LoadView>("loadView", [this](const Id&) { record("switcher view loaded"); });

  auto homeViewControllerClass = make("SBHomeScreenViewController");
  auto homeWindowClass = make("SBHomeScreenWindow");
  homeWindowClass->addMethod<sig::HomeScreenViewController>("homeScreenViewController", [this](const Id&) {
    record("home screen view controller");
    return homeViewController_;
  });

  auto containerClass = make("SBDeckSwitcherItemContainer");
  containerClass->addIvar("_iconImageView");
  containerClass->addMethod<sig::HandlePageViewTap>("_handlePageViewTap:", [this](const Id& self, const Id&) {
    openApp(bundleIDOfIconHolder(self->ivarValue("_iconImageView")));
  });

  auto scrollerClass = make("SBAppSwitcherScrollView");
  auto switcherClass = make("SBAppSwitcherController");
  switcherClass->addMethod<sig::SwitcherScrollerItemTapped>(
      "switcherScroller:itemTapped:", [this](const Id&, const Id&, const Id& item) {
        openApp(msgSend<sig::DisplayIdentifier>(item, "displayIdentifier"));
      });

  auto switcherIconClass = make("SBAppSwitcherIconController");
  switcherIconClass->addMethod<sig::IconTapped>(
      "iconTapped:", [this](const Id&, const Id& iconView) { openApp(bundleIDOfIconHolder(iconView)); });

  auto iconControllerClass = make("SBIconController");
  iconControllerClass->addMethod<sig::InstalledAppsDidChange>(
      "_installedAppsDidChange:", [this](const Id&, const Id&) { record("installed apps changed"); });

  auto applicationControllerClass = make("SBApplicationController");
  applicationControllerClass->addClassMethod<sig::SharedInstance>("sharedInstance",
                                                                  [this] { return applicationController_; });
  applicationControllerClass->addMethod<sig::ApplicationWithBundleIdentifier>(
      "applicationWithBundleIdentifier:", [this](const Id&, const std::string& id) -> Id {
        auto it = applications_.find(id);
        return it == applications_.end() ? nullptr : it->second;
      });

  // The objects on screen.
  overlayImage_ = std::make_shared<runtime::Object>(runtime::Class::make("SBDarkeningOverlayImage"));
  springBoard_ = springBoardClass->createInstance();
  lockScreen_ = lockScreenClass->createInstance();
  deckSwitcher_ = deckSwitcherClass->createInstance();
  homeWindow_ = homeWindowClass->createInstance();
  homeViewController_ = homeViewControllerClass->createInstance();
  switcherController_ = switcherClass->createInstance();
  switcherScroller_ = scrollerClass->createInstance();
  switcherIconController_ = switcherIconClass->createInstance();
  iconController_ = iconControllerClass->createInstance();
  applicationController_ = applicationControllerClass->createInstance();

  std::vector<ALApplicationList::Entry> listed;
  for (const auto& a : apps_) {
    const auto& id = a.bundleIdentifier;
    Id icon = std::make_shared<IconObject>(iconClass, id);
    auto imageView = iconImageViewClass->createInstance();
    imageView->setIvar("_icon", icon);
    iconImageViews_[id] = imageView;
    auto cardImageView = iconImageViewClass->createInstance();
    cardImageView->setIvar("_icon", icon);
    auto container = containerClass->createInstance();
    container->setIvar("_iconImageView", cardImageView);
    cardContainers_[id] = container;
    switcherItems_[id] = std::make_shared<DisplayItemObject>(displayItemClass, id);
    auto iconView = iconViewClass->createInstance();
    iconView->setIvar("_icon", icon);
    iconViews_[id] = iconView;
    applications_[id] = std::make_shared<ApplicationObject>(applicationClass, a);
    listed.push_back({id, a.displayName, a.icon});
  }
  ALApplicationList::sharedApplicationList().setApplications(std::move(listed));
}

void HomeScreen::uninstall() {
  for (const auto& name : defined_) runtime::objc_disposeClassPair(name);
  defined_.clear();
}

void HomeScreen::openApp(const std::string& bundleIdentifier) { record("opened " + bundleIdentifier); }

std::optional<bool> HomeScreen::launchFromIcon(const std::string& bundleIdentifier) {
  if (!hasClass("SpringBoard")) {
    openApp(bundleIdentifier);
    return std::nullopt;
  }
  bool disabled = msgSend<sig::IsBundleIdentifierRestrictionDisabled>(
      springBoard_, "isBundleIdentifierRestrictionDisabled:", bundleIdentifier);
  if (!disabled) openApp(bundleIdentifier);
  return disabled;
}

void HomeScreen::finishUnlock() {
  if (hasClass("SBLockScreenViewController")) {
    msgSend<sig::FinishUIUnlockFromSource>(lockScreen_, "finishUIUnlockFromSource:", 1);
  } else {
    record("unlocked");
  }
}

bool HomeScreen::pressIcon(const std::string& bundleIdentifier) {
  auto it = iconImageViews_.find(bundleIdentifier);
  if (it == iconImageViews_.end()) return false;
  if (!hasClass("SBIconImageView")) return true;
  return msgSend<sig::DarkeningOverlayImage>(it->second, "darkeningOverlayImage") != nullptr;
}

void HomeScreen::tapCardSwitcher(const std::string& bundleIdentifier) {
  auto it = cardContainers_.find(bundleIdentifier);
  if (it == cardContainers_.end()) return;
  auto gesture = std::make_shared<runtime::Object>(runtime::Class::make("UITapGestureRecognizer"));
  msgSend<sig::HandlePageViewTap>(it->second, "_handlePageViewTap:", gesture);
}

void HomeScreen::tapSwitcherItem(const std::string& bundleIdentifier) {
  auto it = switcherItems_.find(bundleIdentifier);
  if (it == switcherItems_.end()) return;
  msgSend<sig::SwitcherScrollerItemTapped>(switcherController_, "switcherScroller:itemTapped:", switcherScroller_,
                                           it->second);
}

void HomeScreen::tapSwitcherIcon(const std::string& bundleIdentifier) {
  auto it = iconViews_.find(bundleIdentifier);
  if (it == iconViews_.end()) return;
  msgSend<sig::IconTapped>(switcherIconController_, "iconTapped:", it->second);
}

void HomeScreen::loadSwitcherView() { msgSend<sig::LoadView>(deckSwitcher_, "loadView"); }

runtime::Id HomeScreen::homeScreenViewController() {
  return msgSend<sig::HomeScreenViewController>(homeWindow_, "homeScreenViewController");
}

void HomeScreen::installedAppsDidChange() {
  auto notification = std::make_shared<runtime::Object>(runtime::Class::make("NSNotification"));
  msgSend<sig::InstalledAppsDidChange>(iconController_, "_installedAppsDidChange:", notification);
}

}  // namespace springboard
