#include "settings-app/settings_controller.h"

#include "platform/uikit/alert_controller.h"
#include "platform/uikit/application.h"
#include "settings-app/app_delegate.h"
#include "settings-app/bc_navigation_controller.h"
#include "settings-app/root_view_controller.h"
#include "settings-app/themed_table.h"

namespace wardvane::app {

using namespace uikit;

namespace {
std::shared_ptr<View>& selected() {
  static std::shared_ptr<View> v;
  return v;
}

struct Row {
  const char* title;
  const char* subtitle;
  bool AppDelegate::*setting;
  void (SettingsController::*action)(const std::shared_ptr<Control>&);
};
const Row kSwitchRows[] = {
    {"Enabled", "Globally enable or disable Wardvane.", &AppDelegate::isEnabled, &SettingsController::isEnabledToggle},
    {"Show Hidden Apps", "Also show the hidden applications on this system.", &AppDelegate::showHiddenApps,
     &SettingsController::showHiddenAppsToggle},
    {"Show Alerts", "Show an alert when an app is prevented from launching.", &AppDelegate::showAlerts,
     &SettingsController::showAlertsToggle},
    {"Use TouchID", "Lock the Wardvane app with your fingerprint.", &AppDelegate::useTouchID,
     &SettingsController::useTouchIDToggle},
};
constexpr long kThemeRow = 4;

bool isOn(const std::shared_ptr<Control>& sender) {
  auto sw = std::dynamic_pointer_cast<Switch>(sender);
  return sw && sw->isOn();
}
}  // namespace

std::shared_ptr<View> SettingsController::selectedView() { return selected(); }

void SettingsController::loadView() {
  delegate = AppDelegate::shared();
  auto d = delegate.lock();
  auto table = makeThemedTableView(TableViewStyle::Grouped, Rect{0, 0, 1, 1}, d);
  table->setEditing(false);
  table->setCellLayoutMarginsFollowReadableWidth(false);
  showTableViewInContainer(*this, table);
}

void SettingsController::viewDidLoad() { setTitle("Settings"); }

std::optional<double> SettingsController::tableViewHeightForHeaderInSection(const std::shared_ptr<TableView>& tv,
                                                                            long section) {
  return section == 0 ? kNoHeaderHeight : tv->sectionHeaderHeight();
}

std::optional<double> SettingsController::tableViewHeightForRowAtIndexPath(const std::shared_ptr<TableView>&,
                                                                           IndexPath) {
  return 64.0;
}

std::shared_ptr<TableViewCell> SettingsController::tableViewCellForRowAtIndexPath(
    const std::shared_ptr<TableView>& tv, IndexPath ip) {
  RootViewController::setCurrentTableView(tv);
  auto d = delegate.lock();
  if (d) d->loadSettings();  // every cell shows the file as it is now

  std::string identifier = "settings." + std::to_string(ip.row);
  auto cell = tv->dequeueReusableCellWithIdentifier(identifier);
  if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Subtitle, identifier);
  cell->setUserInteractionEnabled(true);
  cell->setAccessoryType(TableViewCellAccessoryType::None);
  cell->setSelectionStyle(TableViewCellSelectionStyle::None);

  auto sv = std::make_shared<View>(cell->frame());
  if (d) sv->setBackgroundColor(d->navigationBarColor());
  selected() = sv;
  cell->setSelectedBackgroundView(sv);

  Color text = d ? d->tableViewTextColor() : Color::blackColor();
  if (ip.row >= 0 && ip.row < 4) {
    const Row& row = kSwitchRows[ip.row];
    cell->textLabel()->setText(row.title);
    cell->detailTextLabel()->setText(row.subtitle);
    cell->textLabel()->setTextColor(text);
    cell->detailTextLabel()->setTextColor(text);
    auto sw = std::make_shared<Switch>();
    sw->setOnAnimated(d && (*d).*row.setting, false);
    std::weak_ptr<SettingsController> weak = std::static_pointer_cast<SettingsController>(shared_from_this());
    auto action = row.action;
    sw->addTargetActionForControlEvents(
        [weak, action](const std::shared_ptr<Control>& sender) {
          if (auto self = weak.lock()) ((*self).*action)(sender);
        },
        ControlEvents::ValueChanged);
    if (ip.row == 3) sw->setEnabled(d && d->canAuthenticateWithTouchId());
    cell->setAccessoryView(sw);
  } else if (ip.row == kThemeRow) {
    cell->setAccessoryView(nullptr);
    cell->textLabel()->setText("UI Theme:");
    cell->detailTextLabel()->setText(d ? d->themeName() : "");
    cell->textLabel()->setTextColor(text);
    cell->detailTextLabel()->setTextColor(text);
    cell->setSelectionStyle(TableViewCellSelectionStyle::Default);
  }
  if (d) cell->setBackgroundColor(d->tableViewCellColor());
  return cell;
}

void SettingsController::isEnabledToggle(const std::shared_ptr<Control>& sender) {
  auto d = delegate.lock();
  if (!d) return;
  d->isEnabled = isOn(sender);
  d->saveSettings();
  reloadThemeSettings();
}

void SettingsController::showHiddenAppsToggle(const std::shared_ptr<Control>& sender) {
  if (auto d = delegate.lock()) {
    d->showHiddenApps = isOn(sender);
    d->saveSettings();
  }
}

void SettingsController::showAlertsToggle(const std::shared_ptr<Control>& sender) {
  if (auto d = delegate.lock()) {
    d->showAlerts = isOn(sender);
    d->saveSettings();
  }
}

void SettingsController::useTouchIDToggle(const std::shared_ptr<Control>& sender) {
  if (auto d = delegate.lock()) {
    d->useTouchID = isOn(sender);
    d->saveSettings();
  }
}

void SettingsController::tableViewDidSelectRowAtIndexPath(const std::shared_ptr<TableView>& tv, IndexPath ip) {
  if (ip.row != kThemeRow) return;
  auto d = delegate.lock();
  if (!d) return;
  auto cell = tableViewCellForRowAtIndexPath(tv, ip);
  Point offset = tv->contentOffset();
  Rect rect = tv->rectForRowAtIndexPath(ip).offsetBy(offset.x, offset.y);
  auto alert = AlertController::alertControllerWithTitleMessagePreferredStyle(
      "Choose Theme", "Select the UI theme that you wish to use.",
      d->prefersAlertStyle() ? AlertControllerStyle::Alert : AlertControllerStyle::ActionSheet);
  alert->popoverPresentationController()->setSourceView(cell);
  alert->popoverPresentationController()->setSourceRect(rect);
  std::weak_ptr<SettingsController> weak = std::static_pointer_cast<SettingsController>(shared_from_this());
  std::weak_ptr<TableView> weakTable = tv;
  for (std::size_t i = 0; i < d->colorThemes.size(); ++i) {
    alert->addAction(AlertAction::actionWithTitleStyleHandler(
        d->colorThemes[i]->themeName, AlertActionStyle::Default,
        [weak, weakTable, ip, i](const std::shared_ptr<AlertAction>&) {
          auto self = weak.lock();
          if (!self) return;
          if (auto table = weakTable.lock()) table->deselectRowAtIndexPathAnimated(ip, true);
          if (auto del = self->delegate.lock()) del->uiTheme = std::int32_t(i);
          self->reloadThemeSettings();
        }));
  }
  presentViewController(alert, true, nullptr);
}

void SettingsController::reloadThemeSettings() {
  auto d = delegate.lock();
  if (!d) return;
  d->saveSettings();
  if (d->rootViewController) d->rootViewController->refreshTheme();
  auto table = RootViewController::currentTableView();
  if (table) {
    table->setBackgroundColor(d->tableViewBackgroundColor());
    table->setSeparatorColor(d->tableViewSeparatorColor());
  }
  Application::sharedApplication()->setStatusBarStyle(StatusBarStyle::LightContent);
  d->styleNavigationBar();
  if (table) table->reloadData();
}

}  // namespace wardvane::app
