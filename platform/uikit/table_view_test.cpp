#include "platform/uikit/table_view.h"

#include <gtest/gtest.h>

#include "platform/uikit/application.h"

namespace uikit {
namespace {

// A small list whose cells carry a per-row reuse identifier and whose builds are logged.
struct List : TableViewController {
  using TableViewController::TableViewController;
  std::vector<std::string> rows{"a", "b", "c"};
  std::string builds;
  std::vector<IndexPath> selections;
  std::optional<double> headerHeight;
  int headersShown = 0;

  long tableViewNumberOfRowsInSection(const std::shared_ptr<TableView>&, long) override { return long(rows.size()); }
  std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(const std::shared_ptr<TableView>& tv,
                                                                IndexPath ip) override {
    std::string id = "cell." + std::to_string(ip.row);
    auto cell = tv->dequeueReusableCellWithIdentifier(id);
    builds += cell ? "r" : "n";
    if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Subtitle, id);
    for (auto& v : std::vector(cell->contentView()->subviews())) v->removeFromSuperview();
    auto label = std::make_shared<Label>(Rect{68, 12, 500, 20});
    label->setText(rows[std::size_t(ip.row)]);
    cell->contentView()->addSubview(label);
    return cell;
  }
  std::optional<double> tableViewHeightForRowAtIndexPath(const std::shared_ptr<TableView>&, IndexPath) override {
    return 64.0;
  }
  std::optional<double> tableViewHeightForHeaderInSection(const std::shared_ptr<TableView>&, long) override {
    return headerHeight;
  }
  void tableViewWillDisplayHeaderViewForSection(const std::shared_ptr<TableView>&,
                                                const std::shared_ptr<TableViewHeaderFooterView>&, long) override {
    ++headersShown;
  }
  void tableViewDidSelectRowAtIndexPath(const std::shared_ptr<TableView>&, IndexPath ip) override {
    selections.push_back(ip);
  }
};

// Shows a list in a window, as the table builds its cells only on screen.
std::shared_ptr<Window> show(const std::shared_ptr<ViewController>& vc) {
  auto w = std::make_shared<Window>(Rect{0, 0, 375, 667});
  w->setRootViewController(vc);
  return w;
}

TEST(TableView, BuildsEveryRowThroughTheDataSourceAndReusesCellsByIdentifier) {
  auto list = std::make_shared<List>(TableViewStyle::Grouped);
  list->headerHeight = 2.2250738585072014e-308;
  auto table = list->tableView();
  ASSERT_EQ(list->view(), table);
  EXPECT_FALSE(table->hasLoadedData());
  auto window = show(list);
  window->setHidden(false);  // the first showing loads the data
  EXPECT_EQ(list->builds, "nnn");
  EXPECT_EQ(list->headersShown, 1);
  auto first = table->cellForRowAtIndexPath({0, 0});
  EXPECT_EQ(table->rectForRowAtIndexPath({0, 2}).origin.y, 2.2250738585072014e-308 + 128);
  EXPECT_EQ(table->rectForRowAtIndexPath({0, 7}), RectZero);

  list->rows = {"x", "y"};
  table->reloadData();
  EXPECT_EQ(list->builds, "nnnrr");
  EXPECT_EQ(table->cellForRowAtIndexPath({0, 0}), first);  // same identifier, same cell
  EXPECT_EQ(table->numberOfRowsInSection(0), 2);
  // A reused cell shows only what its new row put in it.
  ASSERT_EQ(first->contentView()->subviews().size(), 1u);
  EXPECT_EQ(std::static_pointer_cast<Label>(first->contentView()->subviews()[0])->text(), "x");
  EXPECT_EQ(table->visibleCells().size(), 2u);
  EXPECT_EQ(first->superview(), table);

  // Off screen a reload waits until the table is laid out in a window again.
  table->removeFromSuperview();
  list->rows = {"p", "q", "r"};
  table->reloadData();
  EXPECT_EQ(list->builds, "nnnrr");
  EXPECT_TRUE(table->hasPendingReload());
  window->addSubview(table);
  window->layoutIfNeeded();
  EXPECT_EQ(list->builds, "nnnrrrrr");  // row 2's cell waited in the pool
  window->setHidden(true);
}

TEST(TableView, TappingARowSelectsItAndTellsTheDelegate) {
  auto list = std::make_shared<List>();
  auto table = list->tableView();
  auto window = show(list);
  window->setHidden(false);
  table->reloadData();
  EXPECT_TRUE(table->userSelectRowAtIndexPath({0, 1}));
  EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 1}));
  EXPECT_TRUE(table->cellForRowAtIndexPath({0, 1})->isSelected());
  table->deselectRowAtIndexPathAnimated({0, 1}, true);
  EXPECT_FALSE(table->indexPathForSelectedRow());
  EXPECT_FALSE(table->cellForRowAtIndexPath({0, 1})->isSelected());

  EXPECT_FALSE(table->userSelectRowAtIndexPath({0, 9}));
  table->cellForRowAtIndexPath({0, 2})->setUserInteractionEnabled(false);
  EXPECT_FALSE(table->userSelectRowAtIndexPath({0, 2}));
  ASSERT_EQ(list->selections.size(), 1u);
  EXPECT_EQ(list->selections[0], (IndexPath{0, 1}));
  window->setHidden(true);
  EXPECT_FALSE(table->userSelectRowAtIndexPath({0, 1}));  // off screen
}

TEST(TableView, CellStylesHaveTheirLabelsAndAccessoryViewsSitAtTheRight) {
  EXPECT_EQ(TableViewCell(TableViewCellStyle::Default, "d").detailTextLabel(), nullptr);
  EXPECT_NE(TableViewCell(TableViewCellStyle::Value1, "v").detailTextLabel(), nullptr);
  auto cell = std::make_shared<TableViewCell>(TableViewCellStyle::Subtitle, "s");
  cell->setFrame({0, 0, 375, 64});
  auto sw = std::make_shared<Switch>();
  cell->setAccessoryView(sw);
  cell->textLabel()->setText("Enabled");
  cell->layoutIfNeeded();
  EXPECT_EQ(sw->superview(), cell);
  EXPECT_GT(sw->frame().minX(), cell->contentView()->frame().maxX() - 1);
  EXPECT_EQ(cell->textLabel()->superview(), cell->contentView());
}

TEST(Controls, SwitchesAndPickersSendValueChangedOnlyWhenAFingerCanReachThem) {
  auto host = std::make_shared<View>(Rect{0, 0, 100, 100});
  auto sw = std::make_shared<Switch>();
  host->addSubview(sw);
  int changes = 0;
  sw->addTargetActionForControlEvents([&](const std::shared_ptr<Control>& s) {
    EXPECT_EQ(s, sw);
    ++changes;
  }, ControlEvents::ValueChanged);
  sw->setOnAnimated(true, false);  // set by code: no action
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(sw->userToggle());
  EXPECT_FALSE(sw->isOn());
  EXPECT_EQ(changes, 1);
  sw->setEnabled(false);
  EXPECT_FALSE(sw->userToggle());
  sw->setEnabled(true);
  host->setHidden(true);
  EXPECT_FALSE(sw->userToggle());
  EXPECT_EQ(changes, 1);

  auto picker = std::make_shared<DatePicker>(Rect{0, 0, 270, 200});
  picker->setDatePickerMode(DatePickerMode::Time);
  foundation::Date seen{};
  picker->addTargetActionForControlEvents(
      [&](const std::shared_ptr<Control>& s) { seen = std::static_pointer_cast<DatePicker>(s)->date(); },
      ControlEvents::ValueChanged);
  EXPECT_TRUE(picker->userSetDate({1000.0 * 60 + 42}));
  EXPECT_EQ(seen.timeIntervalSince1970, 60000.0);  // the wheels have no seconds
}

struct LifecycleDelegate : ApplicationDelegate {
  std::string log;
  void applicationDidFinishLaunching(const std::shared_ptr<Application>&) override { log += "launch "; }
  void applicationDidEnterBackground(const std::shared_ptr<Application>&) override { log += "bg "; }
  void applicationWillEnterForeground(const std::shared_ptr<Application>&) override { log += "fg "; }
  void applicationDidBecomeActive(const std::shared_ptr<Application>&) override { log += "active "; }
};

TEST(Application, LifecycleRunsInOrderAndIgnoresStepsOutOfState) {
  auto app = std::make_shared<Application>();
  auto d = std::make_shared<LifecycleDelegate>();
  app->setDelegate(d);
  app->enterForeground();  // not in the background yet
  app->launch();
  app->launch();
  app->enterBackground();
  EXPECT_EQ(app->applicationState(), ApplicationState::Background);
  app->enterBackground();
  app->enterForeground();
  EXPECT_EQ(d->log, "launch active bg fg active ");
  EXPECT_EQ(app->applicationState(), ApplicationState::Active);
}

TEST(Application, MainRefusesAnUnknownDelegateClass) {
  char name[] = "app";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(applicationMain(1, argv, "", "NoSuchDelegate"), 1);
}

}  // namespace
}  // namespace uikit
