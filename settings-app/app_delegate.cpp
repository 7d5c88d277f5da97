#include "settings-app/app_delegate.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hooklib/shared/settings_file.h"
#include "platform/corefoundation/core_foundation.h"
#include "hooklib/shared/string_table.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/property_list.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/notify_center.h"
#include "platform/localauthentication/la_context.h"
#include "platform/uikit/screen.h"
#include "settings-app/bc_navigation_controller.h"
#include "settings-app/entries.h"
#include "settings-app/root_view_controller.h"

namespace wardvane::app {

namespace la = localauthentication;

std::shared_ptr<AppDelegate> AppDelegate::shared() {
  return std::dynamic_pointer_cast<AppDelegate>(uikit::Application::sharedApplication()->delegate());
}

void registerAppDelegateClass() {
  uikit::registerApplicationDelegateClass("AppDelegate", [] { return std::make_shared<AppDelegate>(); });
}

// ---- lifecycle ----

void AppDelegate::applicationDidFinishLaunching(const std::shared_ptr<uikit::Application>& app) {
  initializeApplicationStrings();
  loadSettings();

  window = std::make_shared<uikit::Window>(uikit::Screen::mainScreen().bounds());
  window->layer().cornerRadius = 4.0;
  window->layer().masksToBounds = true;
  window->setAutoresizesSubviews(true);

  rootViewController = std::make_shared<RootViewController>();
  navigationController = std::make_shared<BCNavigationController>(rootViewController);
  if (app) app->setStatusBarStyle(uikit::StatusBarStyle::LightContent);
  styleNavigationBar();
  window->setRootViewController(navigationController);
  window->makeKeyAndVisible();
  authenticateWithTouchID();
}

void AppDelegate::applicationWillEnterForeground(const std::shared_ptr<uikit::Application>&) {
  getApplications();
  // The rows must show the list just fetched, or a tap would open another app than the
  // one its row shows. A list screen that is not shown now builds its rows when it is.
  if (rootViewController) rootViewController->tableView()->reloadData();
  authenticateWithTouchID();
}

void AppDelegate::styleNavigationBar() {
  if (!navigationController) return;
  auto bar = navigationController->navigationBar();
  bar->setTitleTextColor(navigationBarTintColor());
  bar->setTranslucent(false);
  bar->setTintColor(navigationBarTintColor());
  bar->setBarTintColor(navigationBarColor());
}

// ---- settings file ----

void AppDelegate::loadSettings() {
  isEnabled = true;
  showAlerts = true;
  uiTheme = 0;
  sortType = 0;
  useTouchID = false;
  showHiddenApps = false;
  coreVersionNumber = float(corefoundation::kCFCoreFoundationVersionNumber());
  colorThemes = initializeThemes();

  auto path = wardvane::settingsFilePath();
  if (!path || !foundation::fileExists(*path)) return;
  auto file = wardvane::readSettingsFile(*path);
  if (!file) return;  // unreadable: a file without keys
  if (auto v = wardvane::settingsBool(*file, wardvane::kIsEnabledKey)) isEnabled = *v;
  if (auto v = wardvane::settingsBool(*file, wardvane::kShowAlertsKey)) showAlerts = *v;
  if (auto v = wardvane::settingsBool(*file, wardvane::kShowHiddenAppsKey)) showHiddenApps = *v;
  if (auto v = wardvane::settingsBool(*file, wardvane::kUseTouchIDKey)) useTouchID = *v;
  if (auto v = wardvane::settingsInt(*file, wardvane::kUIThemeKey)) uiTheme = *v;
  if (auto v = wardvane::settingsInt(*file, wardvane::kSortTypeKey)) sortType = *v;
  if (auto records = wardvane::settingsRecords(*file)) wardvaneions = *records;
}

void AppDelegate::saveSettings(std::optional<Dictionary> dictionary) {
  Dictionary settings = dictionary ? std::move(*dictionary) : Dictionary{};
  settings[wardvane::kIsEnabledKey] = isEnabled;
  settings[wardvane::kShowAlertsKey] = showAlerts;
  settings[wardvane::kShowHiddenAppsKey] = showHiddenApps;
  settings[wardvane::kUseTouchIDKey] = useTouchID;
  settings[wardvane::kUIThemeKey] = uiTheme;
  settings[wardvane::kSortTypeKey] = sortType;
  if (!wardvaneions) wardvaneions = Dictionary{};
  settings[wardvane::kRecordsKey] = *wardvaneions;

  auto path = wardvane::settingsFilePath();
  if (!path) {
    std::fprintf(stderr, "WardvaneApp: the settings path does not decipher; the settings were not saved\n");
  } else if (!foundation::writePropertyListFile(*path, foundation::Value(std::move(settings)))) {
    std::fprintf(stderr, "WardvaneApp: could not write the settings file %s\n", path->c_str());
  }
  ipc::DarwinNotifyCenter::shared().postNotification(wardvane::kSettingsChangedNotification);
}

// ---- app list ----

void AppDelegate::getApplications() {
  appListInformation.reset();
  if (auto name = getApplicationStringWithID(wardvane::kMessagingCenterNameString)) {
    auto center = ipc::DistributedMessagingCenter::centerNamed(*name);
    ipc::rocketbootstrap_distributedmessagingcenter_apply(center);
    center->setReplyTimeout(wardvane::kAppListReplyTimeout);
    Dictionary request{{wardvane::kShowHiddenKey, showHiddenApps}};
    appListInformation = center->sendMessageAndReceiveReplyName(wardvane::kGetAppListInformationMessage, request);
  }
  allApplications = sortApplications(sortType);
}

namespace {
// Case-insensitive comparison of two names; absent names come first.
int compareNames(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  if (!a || !b) return int(bool(a)) - int(bool(b));
  std::size_t n = std::min(a->size(), b->size());
  for (std::size_t i = 0; i < n; ++i) {
    int ca = std::tolower(static_cast<unsigned char>((*a)[i]));
    int cb = std::tolower(static_cast<unsigned char>((*b)[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a->size() == b->size() ? 0 : (a->size() < b->size() ? -1 : 1);
}
}  // namespace

Dictionary AppDelegate::sortApplications(std::int32_t type) const {
  std::vector<const Dictionary*> entries;
  if (appListInformation) {
    auto it = appListInformation->find(wardvane::kApplicationsArrayKey);
    if (it != appListInformation->end())
      if (auto array = it->second.asArray())
        for (auto& v : *array)
          if (auto d = v.asDictionary()) entries.push_back(d);
  }
  if (type == kSortByDisplayName) {
    std::stable_sort(entries.begin(), entries.end(), [](const Dictionary* a, const Dictionary* b) {
      return compareNames(entryString(*a, wardvane::kDisplayNameKey), entryString(*b, wardvane::kDisplayNameKey)) < 0;
    });
  } else {
    // Newest or biggest first; entries without the number last.
    const char* key = type == kSortByDateModified ? wardvane::kModificationDateKey : wardvane::kDataUsageKey;
    std::stable_sort(entries.begin(), entries.end(), [key](const Dictionary* a, const Dictionary* b) {
      auto x = entryNumber(*a, key), y = entryNumber(*b, key);
      if (!x || !y) return bool(x) && !y;
      return *x > *y;
    });
  }
  Dictionary out;
  for (std::size_t i = 0; i < entries.size(); ++i) out[std::to_string(i)] = *entries[i];
  return out;
}

// ---- themes ----

const Theme& AppDelegate::currentTheme() const {
  static const auto fallback = initializeThemes();
  const auto& themes = colorThemes.empty() ? fallback : colorThemes;
  if (uiTheme < 0 || std::size_t(uiTheme) >= themes.size()) return *themes[0];
  return *themes[std::size_t(uiTheme)];
}

std::string AppDelegate::themeName() const { return currentTheme().themeName; }
Color AppDelegate::tableViewBackgroundColor() const { return currentTheme().mainBackgroundColor; }
Color AppDelegate::tableViewSeparatorColor() const { return currentTheme().cellSeparatorColor; }
Color AppDelegate::tableViewCellColor() const { return currentTheme().cellColor; }
Color AppDelegate::tableViewTextColor() const { return currentTheme().cellTextColor; }
Color AppDelegate::navigationBarColor() const { return currentTheme().navigationBarBackgroundColor; }
Color AppDelegate::navigationBarTintColor() const { return currentTheme().navigationBarTintColor; }

// ---- fingerprint lock ----

void AppDelegate::authenticateWithTouchID() {
  if (!useTouchID || !navigationController) return;
  auto nav = navigationController;
  auto cover = nav->vibrancyEffectView;
  if (cover) {
    cover->removeFromSuperview();
  } else {
    auto bounds = uikit::Screen::mainScreen().bounds();
    cover = std::make_shared<uikit::VisualEffectView>(uikit::BlurEffect::effectWithStyle(uikit::BlurEffectStyle::Dark));
    cover->setAlpha(double(0.65f));
    cover->setFrame({0, 0, bounds.size.width, bounds.size.height});
    cover->setAutoresizingMask(63);
    nav->vibrancyEffectView = cover;
  }
  nav->view()->addSubview(cover);

  la::LAContext context;
  if (!context.canEvaluatePolicy(la::LAPolicy::DeviceOwnerAuthenticationWithBiometrics, nullptr)) return;
  std::weak_ptr<uikit::View> weakCover = cover;
  context.evaluatePolicyLocalizedReasonReply(
      la::LAPolicy::DeviceOwnerAuthenticationWithBiometrics, "Unlock with TouchID",
      [weakCover](bool success, std::optional<la::LAError> error) {
        dispatch::RunLoop::main().performBlock([weakCover, success, error] {
          if (!success || error) return;
          if (auto c = weakCover.lock()) c->removeFromSuperview();
        });
      });
}

bool AppDelegate::canAuthenticateWithTouchId() const {
  if (!la::LAContext::isAvailable()) return false;
  return la::LAContext().canEvaluatePolicy(la::LAPolicy::DeviceOwnerAuthenticationWithBiometrics, nullptr);
}

// ---- string table ----

void AppDelegate::initializeApplicationStrings() {
  const auto& table = wardvane::applicationStrings();
  for (std::size_t i = 0; i < applicationStrings.size(); ++i) applicationStrings[i] = std::string(table[i]);
}

std::optional<std::string> AppDelegate::getApplicationStringWithID(int index) const {
  if (index < 0 || std::size_t(index) >= applicationStrings.size()) return std::nullopt;
  return decodeStringWithKey(applicationStrings[std::size_t(index)], std::string(wardvane::kKeyString));
}

std::optional<std::string> AppDelegate::decodeStringWithKey(const std::string& text, const std::string& key) const {
  return wardvane::decodeStringWithKey(text, key);
}

std::optional<std::string> AppDelegate::encodeStringWithKey(const std::string& text, const std::string& key) const {
  return wardvane::encodeStringWithKey(text, key);
}

}  // namespace wardvane::app
