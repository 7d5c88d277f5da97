#pragma once
// The global settings screen: four switches and the theme row; every change is saved
// at once, and a theme choice re-colours the whole application.

#include <memory>

#include "platform/uikit/table_view.h"

namespace wardvane::app {

class AppDelegate;

class SettingsController : public uikit::TableViewController {
 public:
  SettingsController() : uikit::TableViewController(uikit::TableViewStyle::Grouped) {}
  std::string className() const override { return "SettingsController"; }

  std::weak_ptr<AppDelegate> delegate;

  // The selected-background view of the cell built last.
  static std::shared_ptr<uikit::View> selectedView();

  void loadView() override;
  void viewDidLoad() override;

  long numberOfSectionsInTableView(const std::shared_ptr<uikit::TableView>&) override { return 1; }
  long tableViewNumberOfRowsInSection(const std::shared_ptr<uikit::TableView>&, long) override { return 5; }
  std::optional<std::string> tableViewTitleForHeaderInSection(const std::shared_ptr<uikit::TableView>&,
                                                              long) override {
    return std::nullopt;
  }
  std::shared_ptr<uikit::TableViewCell> tableViewCellForRowAtIndexPath(const std::shared_ptr<uikit::TableView>& tv,
                                                                       uikit::IndexPath ip) override;
  std::optional<double> tableViewHeightForHeaderInSection(const std::shared_ptr<uikit::TableView>& tv,
                                                          long section) override;
  std::optional<double> tableViewHeightForRowAtIndexPath(const std::shared_ptr<uikit::TableView>&,
                                                         uikit::IndexPath) override;
  void tableViewDidSelectRowAtIndexPath(const std::shared_ptr<uikit::TableView>& tv, uikit::IndexPath ip) override;

  void isEnabledToggle(const std::shared_ptr<uikit::Control>& sender);
  void showHiddenAppsToggle(const std::shared_ptr<uikit::Control>& sender);
  void showAlertsToggle(const std::shared_ptr<uikit::Control>& sender);
  void useTouchIDToggle(const std::shared_ptr<uikit::Control>& sender);
  // Saves, then applies the current theme to the list screen, this screen and the bar.
  void reloadThemeSettings();
};

}  // namespace wardvane::app
