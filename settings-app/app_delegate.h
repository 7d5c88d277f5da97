#pragma once
// The settings application's model and lifecycle: the settings and per-app records read
// from the settings file, the app list asked from the hook library and its sorted form,
// the colour themes and the string table. It builds the window and navigation at
// launch, writes the settings file (then posts the change notification) and answers
// the screens' colour questions.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/uikit/application.h"
#include "settings-app/theme.h"

namespace wardvane::app {

using foundation::Dictionary;

class BCNavigationController;
class RootViewController;

// Sort orders of the list.
enum SortType : std::int32_t { kSortByDisplayName = 0, kSortByDateModified = 1, kSortByDataUsage = 2 };

class AppDelegate : public uikit::ApplicationDelegate, public std::enable_shared_from_this<AppDelegate> {
 public:
  // The delegate of the running application, when it is an AppDelegate.
  static std::shared_ptr<AppDelegate> shared();

  // Fields, as the screens use them directly.
  std::shared_ptr<uikit::Window> window;
  std::shared_ptr<BCNavigationController> navigationController;
  std::shared_ptr<RootViewController> rootViewController;
  // The records in force; none until a file with records was read or a record saved.
  std::optional<Dictionary> wardvaneions;
  // The app-list entry whose detail screen is open.
  Dictionary currentDictionary;
  // The list in display order, "0" the first row.
  Dictionary allApplications;
  // The last reply to the app-list message, as received; none when none came.
  std::optional<Dictionary> appListInformation;
  std::vector<std::shared_ptr<Theme>> colorThemes;
  std::array<std::string, 9> applicationStrings;
  bool isEnabled = true;
  bool showAlerts = true;
  bool useTouchID = false;
  bool showHiddenApps = false;
  std::int32_t sortType = 0;
  std::int32_t uiTheme = 0;
  float coreVersionNumber = 0;

  // Lifecycle.
  void applicationDidFinishLaunching(const std::shared_ptr<uikit::Application>& app) override;
  void applicationWillEnterForeground(const std::shared_ptr<uikit::Application>& app) override;
  void applicationDidBecomeActive(const std::shared_ptr<uikit::Application>& app) override {}

  void loadSettings();
  // Writes the whole settings file atomically, then posts the change notification
  // (also when the write failed, which is logged on standard error).
  void saveSettings(std::optional<Dictionary> dictionary = std::nullopt);
  // Asks the hook library for the list and re-sorts it.
  void getApplications();
  // The reply's entries sorted by `type`, keyed by their decimal position. Entries that
  // compare equal keep the reply's order; entries that are not dictionaries are left out.
  Dictionary sortApplications(std::int32_t type) const;

  // Colours of the current theme ("Light" for a theme number outside the list).
  std::string themeName() const;
  Color tableViewBackgroundColor() const;
  Color tableViewSeparatorColor() const;
  Color tableViewCellColor() const;
  Color tableViewTextColor() const;
  Color navigationBarColor() const;
  Color navigationBarTintColor() const;

  // Title and buttons of the navigation bar from the current theme.
  void styleNavigationBar();

  // The fingerprint lock: cover the application and start the check.
  void authenticateWithTouchID();
  bool canAuthenticateWithTouchId() const;

  // The string table: fills applicationStrings with the stored entries (launch step 1).
  void initializeApplicationStrings();
  std::optional<std::string> getApplicationStringWithID(int index) const;
  std::optional<std::string> decodeStringWithKey(const std::string& text, const std::string& key) const;
  std::optional<std::string> encodeStringWithKey(const std::string& text, const std::string& key) const;

  // Whether a choice of this application shows as an alert (older systems) or an action sheet.
  bool prefersAlertStyle() const { return double(coreVersionNumber) < 1240.1; }

 private:
  const Theme& currentTheme() const;
};

// Registers "AppDelegate" with the application's main entry.
void registerAppDelegateClass();

}  // namespace wardvane::app
