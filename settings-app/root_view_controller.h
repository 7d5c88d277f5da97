#pragma once
// The list screen: one row per installed app (icon, name, identifier) in the chosen
// order; a tap opens the app's restriction screen, "Sort" chooses the order and
// "Settings" opens the global settings.

#include <memory>

#include "platform/uikit/navigation_item.h"
#include "platform/uikit/table_view.h"

namespace wardvane::app {

class AppDelegate;

class RootViewController : public uikit::TableViewController {
 public:
  RootViewController() : uikit::TableViewController(uikit::TableViewStyle::Plain) {}
  std::string className() const override { return "RootViewController"; }

  std::weak_ptr<AppDelegate> delegate;

  // The table that built a cell last (this screen's or the settings screen's).
  static std::shared_ptr<uikit::TableView> currentTableView();
  static void setCurrentTableView(const std::shared_ptr<uikit::TableView>& table);

  void loadView() override;
  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;

  long tableViewNumberOfRowsInSection(const std::shared_ptr<uikit::TableView>& tv, long section) override;
  std::shared_ptr<uikit::TableViewCell> tableViewCellForRowAtIndexPath(const std::shared_ptr<uikit::TableView>& tv,
                                                                       uikit::IndexPath ip) override;
  std::optional<double> tableViewHeightForHeaderInSection(const std::shared_ptr<uikit::TableView>&, long) override;
  std::optional<double> tableViewHeightForRowAtIndexPath(const std::shared_ptr<uikit::TableView>&,
                                                         uikit::IndexPath) override;
  void tableViewWillDisplayHeaderViewForSection(const std::shared_ptr<uikit::TableView>& tv,
                                                const std::shared_ptr<uikit::TableViewHeaderFooterView>& view,
                                                long section) override;
  void tableViewDidSelectRowAtIndexPath(const std::shared_ptr<uikit::TableView>& tv, uikit::IndexPath ip) override;

  void Sort(const std::shared_ptr<uikit::BarButtonItem>& sender);
  void Settings(const std::shared_ptr<uikit::BarButtonItem>& sender);
  void refreshUI();
  void refreshTheme();
};

// The smallest positive normal double: a header that takes no room.
inline constexpr double kNoHeaderHeight = 2.2250738585072014e-308;

}  // namespace wardvane::app
