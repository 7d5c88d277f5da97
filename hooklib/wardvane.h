#pragma once
// The hook library's singleton: the settings in force, the per-app records, the string
// table, the alert window, the unlock flag and the time of the last decision. It
// answers the one question the hooks ask: may this app open now?

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

namespace ipc {
class DistributedMessagingCenter;
}
namespace uikit {
class Window;
}

namespace wardvane {

class IconPNGCache;
class SettingsSnapshot;
using foundation::Date;
using foundation::Dictionary;

class Wardvane {
 public:
  // The process's instance, made (with its app-list server, its notification observer
  // and a first settings read) on the first call. It lives as long as the process.
  static Wardvane* sharedInstance();

  // A bare instance: switches on, the string table set; no server, no observer, no read.
  Wardvane();
  ~Wardvane();
  Wardvane(const Wardvane&) = delete;
  Wardvane& operator=(const Wardvane&) = delete;

  // Creation steps after the string table: the app-list server on the current thread's
  // run loop and the observer of the change notification.
  void startServices();

  // Re-reads the settings file.
  void loadSettings();
  // YES when the app may open now, NO when it is restricted now.
  bool checkBundle(const std::string& bundleIdentifier);
  // Today at the date's local hour and minute, seconds 0.
  Date getCorrectedDate(Date date) const;
  // The date's local time of day as hour * 100 + minute.
  float getFloatFromTime(Date date) const;
  bool dateIsBetweenDateAndDate(Date date, Date begin, Date end) const;

  // The restriction alert for a refused app.
  void showAlertForBundle(const std::string& bundleIdentifier);

  // String table.
  std::optional<std::string> getApplicationStringWithID(int index) const;

  // The app-list message's handler. Main thread (the server's run loop).
  static Dictionary getAppListInformationWithUserInfo(const std::string& message, const Dictionary& userInfo);
  // The icons' PNG data the handler keeps between replies.
  static IconPNGCache& appListIconCache();

  // Fields.
  bool isEnabled() const { return isEnabled_; }
  void setIsEnabled(bool v) { isEnabled_ = v; }
  bool showAlerts() const { return showAlerts_; }
  void setShowAlerts(bool v) { showAlerts_ = v; }
  bool hasLoadedSpringBoard() const { return hasLoadedSpringBoard_; }
  void setHasLoadedSpringBoard(bool v) { hasLoadedSpringBoard_ = v; }
  float coreVersionNumber() const { return coreVersionNumber_; }
  void setCoreVersionNumber(float v) { coreVersionNumber_ = v; }
  // The records in force and the file's content at the last read, converted on request.
  Dictionary wardvaneions() const;
  const std::vector<std::string>& applicationStrings() const { return applicationStrings_; }
  Dictionary settings() const;
  const std::shared_ptr<uikit::Window>& alertWindow() const { return alertWindow_; }
  Date lastAlertDate() const { return lastAlertDate_; }
  void setLastAlertDate(Date d) { lastAlertDate_ = d; }
  const std::shared_ptr<ipc::DistributedMessagingCenter>& messagingCenter() const { return center_; }

 private:
  bool isEnabled_ = true;
  bool showAlerts_ = true;
  bool hasLoadedSpringBoard_ = false;
  float coreVersionNumber_ = 0;
  // The file as parsed at the last read, and the read whose records are in force (an
  // earlier one when the last file had none). Neither is converted as a whole: a
  // decision converts only the record it needs.
  std::shared_ptr<const SettingsSnapshot> settings_;
  std::shared_ptr<const SettingsSnapshot> records_;
  std::optional<foundation::Value> recordFor(const std::string& bundleIdentifier) const;
  std::vector<std::string> applicationStrings_;
  std::shared_ptr<uikit::Window> alertWindow_;
  Date lastAlertDate_{};
  std::shared_ptr<ipc::DistributedMessagingCenter> center_;
  int observerToken_ = 0;
};

// The process-wide reference through which the hooks, the alert and the notification
// callback reach the singleton; set by the image constructor.
extern Wardvane* wardvane;

// The change notification's callback: re-reads the settings of `wardvane`.
void settingsChangedCallback(const std::string& name);

}  // namespace wardvane
