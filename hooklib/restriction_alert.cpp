#include <cstdio>

#include "hooklib/shared/settings_file.h"
#include "hooklib/shared/string_table.h"
#include "hooklib/wardvane.h"
#include "platform/uikit/alert_controller.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/window.h"

namespace wardvane {

// Above everything else the home screen shows.
inline constexpr double kAlertWindowLevel = 666666.0;
// Systems from this Core Foundation version on show the alert as an action sheet.
inline constexpr double kActionSheetCoreVersion = 1240.1;

void Wardvane::showAlertForBundle(const std::string& bundleIdentifier) {
  if (!showAlerts_) return;
  if (!alertWindow_) {
    alertWindow_ = std::make_shared<uikit::Window>(uikit::Screen::mainScreen().bounds());
    alertWindow_->setWindowLevel(kAlertWindowLevel);
    alertWindow_->setRootViewController(std::make_shared<uikit::ViewController>());
    alertWindow_->setHidden(true);
  }
  alertWindow_->setHidden(false);

  std::string displayName;
  if (auto it = records_->find(bundleIdentifier); it != records_->end()) {
    if (auto record = restrictionRecord(it->second); record && record->displayName) displayName = *record->displayName;
  }
  // The version is held in single precision, so 1240.1 itself reads as just below.
  auto style = static_cast<double>(coreVersionNumber_) < kActionSheetCoreVersion ? uikit::AlertControllerStyle::Alert
                                                                                  : uikit::AlertControllerStyle::ActionSheet;
  auto alert = uikit::AlertController::alertControllerWithTitleMessagePreferredStyle(
      getApplicationStringWithID(kAlertTitleString), displayName + " is currently restricted!", style);
  auto root = alertWindow_->rootViewController();
  auto rootView = root->view();
  alert->popoverPresentationController()->setSourceView(rootView);
  alert->popoverPresentationController()->setSourceRect(rootView->bounds());
  std::weak_ptr<uikit::Window> window = alertWindow_;
  alert->addAction(uikit::AlertAction::actionWithTitleStyleHandler(
      "Ok", uikit::AlertActionStyle::Default, [window](const std::shared_ptr<uikit::AlertAction>&) {
        if (auto w = window.lock()) w->setHidden(true);
      }));
  root->presentViewController(alert, true, nullptr);
}

}  // namespace wardvane
