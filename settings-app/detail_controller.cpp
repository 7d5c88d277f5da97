#include "settings-app/detail_controller.h"

#include <cstdio>

#include "hooklib/shared/settings_file.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/uikit/alert_controller.h"
#include "settings-app/app_delegate.h"
#include "settings-app/entries.h"
#include "settings-app/root_view_controller.h"
#include "settings-app/themed_table.h"

namespace wardvane::app {

using namespace uikit;
using foundation::Calendar;
using foundation::Date;

namespace {
struct References {
  std::shared_ptr<DatePicker> startTimePicker;
  std::shared_ptr<DatePicker> endTimePicker;
  std::shared_ptr<Switch> enabledSwitch;
  std::optional<Date> startTime;
  std::optional<Date> endTime;
};
References& refs() {
  static References r;
  return r;
}

// Today (as `today` gives it) at the hour and minute that `time` has in local time, or
// at `defaultHour`:00; seconds 0.
Date pickerDate(const foundation::DateComponents& today, const std::optional<Date>& time, int defaultHour) {
  foundation::DateComponents c = today;
  c.hour = defaultHour;
  c.minute = 0;
  if (time) {
    auto t = Calendar::componentsInLocalTime(*time);
    c.hour = t.hour;
    c.minute = t.minute;
  }
  c.second = 0;
  return Calendar::dateFromLocalComponents(c);
}

std::shared_ptr<DatePicker> makePicker(std::weak_ptr<DetailController> owner, Date date) {
  auto picker = std::make_shared<DatePicker>(Rect{0, 0, 270, 200});
  picker->setDatePickerMode(DatePickerMode::Time);
  picker->addTargetActionForControlEvents(
      [owner](const std::shared_ptr<Control>& sender) {
        if (auto self = owner.lock()) self->datePickerChanged(sender);
      },
      ControlEvents::ValueChanged);
  picker->setTextColor(Color::blackColor());
  picker->setDate(date);
  return picker;
}

std::string hoursAndMinutes(Date d) {
  auto c = Calendar::componentsInLocalTime(d);
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d:%02d", c.hour, c.minute);
  return buf;
}
}  // namespace

std::shared_ptr<DatePicker> DetailController::startTimePicker() { return refs().startTimePicker; }
std::shared_ptr<DatePicker> DetailController::endTimePicker() { return refs().endTimePicker; }
std::shared_ptr<Switch> DetailController::enabledSwitch() { return refs().enabledSwitch; }
std::optional<Date> DetailController::startTime() { return refs().startTime; }
std::optional<Date> DetailController::endTime() { return refs().endTime; }

void DetailController::loadView() {
  delegate = AppDelegate::shared();
  auto d = delegate.lock();
  showTableViewInContainer(*this, makeThemedTableView(TableViewStyle::Plain, RectZero, d));
}

void DetailController::viewDidLoad() {
  if (auto d = delegate.lock()) setTitle(entryString(d->currentDictionary, wardvane::kDisplayNameKey).value_or(""));
}

std::optional<double> DetailController::tableViewHeightForHeaderInSection(const std::shared_ptr<TableView>&, long) {
  return kNoHeaderHeight;
}

std::optional<double> DetailController::tableViewHeightForRowAtIndexPath(const std::shared_ptr<TableView>&,
                                                                         IndexPath ip) {
  return ip.row >= 0 && ip.row <= 2 ? 64.0 : 0.0;
}

std::shared_ptr<TableViewCell> DetailController::tableViewCellForRowAtIndexPath(const std::shared_ptr<TableView>& tv,
                                                                                IndexPath ip) {
  auto d = delegate.lock();
  std::string identifier = "sounds.cell." + std::to_string(ip.row);
  auto cell = tv->dequeueReusableCellWithIdentifier(identifier);
  if (!cell) cell = std::make_shared<TableViewCell>(TableViewCellStyle::Value1, identifier);
  cell->setSelectionStyle(TableViewCellSelectionStyle::None);
  cell->setUserInteractionEnabled(true);
  cell->setAccessoryType(TableViewCellAccessoryType::None);

  auto today = Calendar::componentsInLocalTime(Date{foundation::Clock::now()});

  std::optional<wardvane::RestrictionRecord> record;
  if (d && d->wardvaneions)
    if (auto id = entryString(d->currentDictionary, wardvane::kBundleIdentifierKey)) {
      auto it = d->wardvaneions->find(*id);
      if (it != d->wardvaneions->end()) record = wardvane::restrictionRecord(it->second);
    }
  auto& r = refs();
  r.startTime = record ? record->startTime : std::nullopt;
  r.endTime = record ? record->endTime : std::nullopt;

  std::weak_ptr<DetailController> weak = std::static_pointer_cast<DetailController>(shared_from_this());
  r.startTimePicker = makePicker(weak, pickerDate(today, r.startTime, wardvane::kDefaultStartHour));
  r.endTimePicker = makePicker(weak, pickerDate(today, r.endTime, wardvane::kDefaultEndHour));

  Color text = d ? d->tableViewTextColor() : Color::blackColor();
  if (ip.row == 0) {
    cell->textLabel()->setText("Enable Restrictions");
    cell->textLabel()->setTextColor(text);
    auto sw = std::make_shared<Switch>();
    sw->setOn(record && record->enableRestrictions);
    sw->addTargetActionForControlEvents(
        [weak](const std::shared_ptr<Control>& sender) {
          if (auto self = weak.lock()) self->isEnabledToggle(sender);
        },
        ControlEvents::ValueChanged);
    r.enabledSwitch = sw;
    cell->setAccessoryView(sw);
  } else if (ip.row == 1 || ip.row == 2) {
    auto picker = ip.row == 1 ? r.startTimePicker : r.endTimePicker;
    cell->textLabel()->setText(ip.row == 1 ? "Start Time" : "End Time");
    cell->detailTextLabel()->setText(hoursAndMinutes(picker->date()));
    cell->textLabel()->setTextColor(text);
    cell->detailTextLabel()->setTextColor(text);
    cell->setUserInteractionEnabled(true);
    cell->setSelectionStyle(TableViewCellSelectionStyle::Default);
  }
  if (d) cell->setBackgroundColor(d->tableViewCellColor());
  return cell;
}

void DetailController::tableViewDidSelectRowAtIndexPath(const std::shared_ptr<TableView>& tv, IndexPath ip) {
  if (ip.row == 0) return;
  auto d = delegate.lock();
  auto container = std::make_shared<View>(Rect{0, 0, view()->frame().size.width, 200});
  container->setBackgroundColor(Color::clearColor());
  auto cell = tableViewCellForRowAtIndexPath(tv, ip);
  Point offset = tv->contentOffset();
  Rect rect = tv->rectForRowAtIndexPath(ip).offsetBy(-offset.x, -offset.y);

  auto alert = AlertController::alertControllerWithTitleMessagePreferredStyle(
      std::nullopt, "\n\n\n\n\n\n\n\n\n\n",
      d && !d->prefersAlertStyle() ? AlertControllerStyle::ActionSheet : AlertControllerStyle::Alert);
  alert->popoverPresentationController()->setSourceView(cell);
  alert->popoverPresentationController()->setSourceRect(rect);
  std::weak_ptr<DetailController> weak = std::static_pointer_cast<DetailController>(shared_from_this());
  std::weak_ptr<TableView> weakTable = tv;
  alert->addAction(AlertAction::actionWithTitleStyleHandler(
      "Ok", AlertActionStyle::Default, [weak, weakTable, ip](const std::shared_ptr<AlertAction>&) {
        auto self = weak.lock();
        auto table = weakTable.lock();
        if (!self || !table) return;
        table->deselectRowAtIndexPathAnimated(ip, true);
        self->saveSettings();
        table->reloadData();
      }));
  container->addSubview(ip.row == 1 ? refs().startTimePicker : refs().endTimePicker);
  alert->view()->addSubview(container);
  presentViewController(alert, true, nullptr);
}

void DetailController::isEnabledToggle(const std::shared_ptr<Control>&) { saveSettings(); }
void DetailController::datePickerChanged(const std::shared_ptr<Control>&) { saveSettings(); }

void DetailController::saveSettings() {
  auto d = delegate.lock();
  if (!d) return;
  auto& r = refs();
  r.startTime = r.startTimePicker ? std::optional(r.startTimePicker->date()) : std::nullopt;
  r.endTime = r.endTimePicker ? std::optional(r.endTimePicker->date()) : std::nullopt;

  auto id = entryString(d->currentDictionary, wardvane::kBundleIdentifierKey);
  if (!id) {
    // An entry without an identifier has nowhere to keep its record.
    std::fprintf(stderr, "WardvaneApp: the app has no bundle identifier; its record was not saved\n");
    return;
  }
  Dictionary record;
  record[wardvane::kEnableRestrictionsKey] = r.enabledSwitch && r.enabledSwitch->isOn();
  if (r.startTime) record[wardvane::kStartTimeKey] = *r.startTime;
  if (r.endTime) record[wardvane::kEndTimeKey] = *r.endTime;
  if (auto name = entryString(d->currentDictionary, wardvane::kDisplayNameKey))
    record[wardvane::kDisplayNameKey] = *name;
  if (!d->wardvaneions) d->wardvaneions = Dictionary{};
  (*d->wardvaneions)[*id] = std::move(record);
  d->saveSettings();
}

}  // namespace wardvane::app
