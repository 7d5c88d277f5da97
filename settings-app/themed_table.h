#pragma once
// The full-screen tables the application's screens are built on.

#include <memory>

#include "platform/uikit/table_view.h"

namespace wardvane::app {

class AppDelegate;

// A table filling the screen and following its size, in the theme's background and
// separator colours when there is a delegate. A clear footer of `footerFrame` ends it,
// so no empty rows are drawn below the last one.
std::shared_ptr<uikit::TableView> makeThemedTableView(uikit::TableViewStyle style, uikit::Rect footerFrame,
                                                      const std::shared_ptr<AppDelegate>& delegate);

// Makes `table` the controller's table, shown inside a full-screen container view that
// becomes the controller's view.
void showTableViewInContainer(uikit::TableViewController& controller, const std::shared_ptr<uikit::TableView>& table);

}  // namespace wardvane::app
