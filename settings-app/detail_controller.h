#pragma once
// The per-app restriction screen: "Enable Restrictions" and the daily window's two
// ends, each change saved at once as the app's whole record.

#include <memory>
#include <optional>

#include "platform/foundation/value.h"
#include "platform/uikit/table_view.h"

namespace wardvane::app {

class AppDelegate;

class DetailController : public uikit::TableViewController {
 public:
  DetailController() : uikit::TableViewController(uikit::TableViewStyle::Plain) {}
  std::string className() const override { return "DetailController"; }

  std::weak_ptr<AppDelegate> delegate;

  // The controls of the cells built last, and the window ends they hold.
  static std::shared_ptr<uikit::DatePicker> startTimePicker();
  static std::shared_ptr<uikit::DatePicker> endTimePicker();
  static std::shared_ptr<uikit::Switch> enabledSwitch();
  static std::optional<foundation::Date> startTime();
  static std::optional<foundation::Date> endTime();

  void loadView() override;
  void viewDidLoad() override;
  void willMoveToParentViewController(const std::shared_ptr<uikit::ViewController>&) override {}

  long numberOfSectionsInTableView(const std::shared_ptr<uikit::TableView>&) override { return 1; }
  long tableViewNumberOfRowsInSection(const std::shared_ptr<uikit::TableView>&, long) override { return 3; }
  std::shared_ptr<uikit::TableViewCell> tableViewCellForRowAtIndexPath(const std::shared_ptr<uikit::TableView>& tv,
                                                                       uikit::IndexPath ip) override;
  std::optional<double> tableViewHeightForHeaderInSection(const std::shared_ptr<uikit::TableView>&, long) override;
  std::optional<double> tableViewHeightForRowAtIndexPath(const std::shared_ptr<uikit::TableView>&,
                                                         uikit::IndexPath ip) override;
  void tableViewDidSelectRowAtIndexPath(const std::shared_ptr<uikit::TableView>& tv, uikit::IndexPath ip) override;

  void isEnabledToggle(const std::shared_ptr<uikit::Control>& sender);
  void datePickerChanged(const std::shared_ptr<uikit::Control>& sender);
  // Stores the app's whole record and saves the settings file.
  void saveSettings();
};

}  // namespace wardvane::app
