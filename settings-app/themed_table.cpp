#include "settings-app/themed_table.h"

#include "platform/uikit/screen.h"
#include "settings-app/app_delegate.h"

namespace wardvane::app {

using namespace uikit;

std::shared_ptr<TableView> makeThemedTableView(TableViewStyle style, Rect footerFrame,
                                               const std::shared_ptr<AppDelegate>& delegate) {
  auto table = std::make_shared<TableView>(Screen::mainScreen().bounds(), style);
  table->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  auto footer = std::make_shared<View>(footerFrame);
  footer->setBackgroundColor(Color::clearColor());
  table->setTableFooterView(footer);
  if (delegate) {
    table->setBackgroundColor(delegate->tableViewBackgroundColor());
    table->setSeparatorColor(delegate->tableViewSeparatorColor());
  }
  return table;
}

void showTableViewInContainer(TableViewController& controller, const std::shared_ptr<TableView>& table) {
  controller.setTableView(table);
  auto container = std::make_shared<View>(Screen::mainScreen().bounds());
  container->addSubview(table);
  container->layoutIfNeeded();
  controller.setView(container);
}

}  // namespace wardvane::app
