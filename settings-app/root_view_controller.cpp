#include "settings-app/root_view_controller.h"

#include "hooklib/shared/settings_file.h"
#include "platform/uikit/alert_controller.h"
#include "platform/uikit/application.h"
#include "settings-app/app_delegate.h"
#include "settings-app/detail_controller.h"
#include "settings-app/entries.h"
#include "settings-app/settings_controller.h"
#include "settings-app/themed_table.h"

namespace wardvane::app {

using namespace uikit;

namespace {
std::weak_ptr<TableView>& currentTable() {
  static std::weak_ptr<TableView> table;
  return table;
}
}  // namespace

std::shared_ptr<TableView> RootViewController::currentTableView() { return currentTable().lock(); }
void RootViewController::setCurrentTableView(const std::shared_ptr<TableView>& table) { currentTable() = table; }

void RootViewController::loadView() {
  TableViewController::loadView();
  delegate = AppDelegate::shared();
  setTitle("Wardvane");
}

void RootViewController::viewDidLoad() {
  auto d = delegate.lock();
  auto table = makeThemedTableView(TableViewStyle::Grouped, Rect{0, 0, 1, 1}, d);
  table->setEditing(false);
  table->setCellLayoutMarginsFollowReadableWidth(false);
  setTableView(table);

  std::weak_ptr<RootViewController> weak = std::static_pointer_cast<RootViewController>(shared_from_this());
  navigationItem()->setLeftBarButtonItem(std::make_shared<BarButtonItem>(
      "Sort", BarButtonItemStyle::Plain, [weak](const std::shared_ptr<BarButtonItem>& sender) {
        if (auto self = weak.lock()) self->Sort(sender);
      }));
  navigationItem()->setRightBarButtonItem(std::make_shared<BarButtonItem>(
      "Settings", BarButtonItemStyle::Plain, [weak](const std::shared_ptr<BarButtonItem>& sender) {
        if (auto self = weak.lock()) self->Settings(sender);
      }));
}

void RootViewController::viewDidAppear(bool animated) {
  if (auto d = delegate.lock()) {
    d->loadSettings();
    d->getApplications();
  }
  tableView()->reloadData();
}

long RootViewController::tableViewNumberOfRowsInSection(const std::shared_ptr<TableView>&, long) {
  auto d = delegate.lock();
  return d ? long(d->allApplications.size()) : 0;
}

std::optional<double> RootViewController::tableViewHeightForHeaderInSection(const std::shared_ptr<TableView>&,
                                                                            long) {
  return kNoHeaderHeight;
}

std::optional<double> RootViewController::tableViewHeightForRowAtIndexPath(const std::shared_ptr<TableView>&,
                                                                           IndexPath) {
  return 64.0;
}

void RootViewController::tableViewWillDisplayHeaderViewForSection(
    const std::shared_ptr<TableView>&, const std::shared_ptr<TableViewHeaderFooterView>& view, long) {
  auto d = delegate.lock();
  if (!d || !view) return;
  view->backgroundView()->setBackgroundColor(d->tableViewSeparatorColor());
  view->textLabel()->setTextColor(d->tableViewTextColor());
}

std::shared_ptr<TableViewCell> RootViewController::tableViewCellForRowAtIndexPath(
    const std::shared_ptr<TableView>& tv, IndexPath ip) {
  setCurrentTableView(tv);
  auto d = delegate.lock();
  std::string identifier = "Cell." + std::to_string(ip.row) + "." + std::to_string(ip.section);
  auto cell = tv->dequeueReusableCellWithIdentifier(identifier);
  if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Default, identifier);
  for (auto& sub : std::vector(cell->contentView()->subviews())) sub->removeFromSuperview();

  Dictionary entry;
  if (d)
    if (auto e = entryAtRow(d->allApplications, ip.row)) entry = *e;
  Color text = d ? d->tableViewTextColor() : Color::blackColor();

  auto icon = std::make_shared<ImageView>(Rect{4, 4, 56, 56});
  if (auto png = entryData(entry, wardvane::kIconImageKey)) icon->setImage(Image::imageWithData(*png));
  cell->contentView()->addSubview(icon);

  auto name = std::make_shared<Label>(Rect{68, 12, 500, 20});
  name->setText(entryString(entry, wardvane::kDisplayNameKey).value_or(""));
  name->setTextColor(text);
  name->setFont(Font::systemFontOfSize(14));
  cell->contentView()->addSubview(name);

  auto identifierLabel = std::make_shared<Label>(Rect{68, 30, 500, 20});
  identifierLabel->setText(entryString(entry, wardvane::kBundleIdentifierKey).value_or(""));
  identifierLabel->setTextColor(text);
  identifierLabel->setFont(Font::systemFontOfSize(12));
  identifierLabel->setAlpha(0.5);
  cell->contentView()->addSubview(identifierLabel);

  cell->setAccessoryType(TableViewCellAccessoryType::DisclosureIndicator);
  if (d) cell->setBackgroundColor(d->tableViewCellColor());
  return cell;
}

void RootViewController::tableViewDidSelectRowAtIndexPath(const std::shared_ptr<TableView>& tv, IndexPath ip) {
  auto d = delegate.lock();
  if (!d) return;
  auto entry = entryAtRow(d->allApplications, ip.row);
  if (!entry) {
    tv->deselectRowAtIndexPathAnimated(ip, true);
    return;
  }
  d->currentDictionary = *entry;
  if (auto nav = navigationController()) nav->pushViewController(std::make_shared<DetailController>(), true);
  tv->deselectRowAtIndexPathAnimated(ip, true);
}

void RootViewController::Settings(const std::shared_ptr<BarButtonItem>&) {
  if (auto nav = navigationController()) nav->pushViewController(std::make_shared<SettingsController>(), true);
}

void RootViewController::Sort(const std::shared_ptr<BarButtonItem>& sender) {
  auto d = delegate.lock();
  if (!d) return;
  auto alert = AlertController::alertControllerWithTitleMessagePreferredStyle(
      "Choose Sorting Type", "Select how you wish your apps to be sorted by.",
      d->prefersAlertStyle() ? AlertControllerStyle::Alert : AlertControllerStyle::ActionSheet);
  if (sender) {
    auto anchor = sender->view();
    alert->popoverPresentationController()->setSourceView(anchor);
    alert->popoverPresentationController()->setSourceRect(anchor->bounds());
  }
  std::weak_ptr<RootViewController> weak = std::static_pointer_cast<RootViewController>(shared_from_this());
  const std::pair<const char*, std::int32_t> choices[] = {
      {"Display Name", kSortByDisplayName}, {"Date Modified", kSortByDateModified}, {"Data Usage", kSortByDataUsage}};
  for (const auto& choice : choices) {
    std::int32_t type = choice.second;
    alert->addAction(AlertAction::actionWithTitleStyleHandler(
        choice.first, AlertActionStyle::Default, [weak, type](const std::shared_ptr<AlertAction>&) {
          auto self = weak.lock();
          if (!self) return;
          if (auto del = self->delegate.lock()) del->sortType = type;
          self->refreshUI();
        }));
  }
  presentViewController(alert, true, nullptr);
}

void RootViewController::refreshUI() {
  if (auto d = delegate.lock()) {
    d->saveSettings();
    d->allApplications = d->sortApplications(d->sortType);
  }
  tableView()->reloadData();
}

void RootViewController::refreshTheme() {
  auto table = tableView();
  if (auto d = delegate.lock()) {
    table->setBackgroundColor(d->tableViewBackgroundColor());
    table->setSeparatorColor(d->tableViewSeparatorColor());
  }
  table->reloadData();
}

}  // namespace wardvane::app
