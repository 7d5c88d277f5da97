#include "hooklib/wardvane.h"

#include <cmath>
#include <mutex>

#include "hooklib/shared/settings_file.h"
#include "hooklib/shared/string_table.h"
#include "platform/corefoundation/core_foundation.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/device_path.h"
#include "platform/foundation/property_list.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/notify_center.h"

namespace wardvane {

Wardvane* wardvane = nullptr;

namespace {
const std::shared_ptr<const Dictionary>& emptyDictionary() {
  static const auto empty = std::make_shared<const Dictionary>();
  return empty;
}
}  // namespace

Wardvane* Wardvane::sharedInstance() {
  static std::once_flag once;
  static Wardvane* instance = nullptr;
  std::call_once(once, [] {
    instance = new Wardvane();  // never released: it lives as long as the process
    instance->startServices();
    instance->loadSettings();
  });
  return instance;
}

Wardvane::Wardvane() : settings_(emptyDictionary()), records_(emptyDictionary()) {
  for (auto s : wardvane::applicationStrings()) applicationStrings_.emplace_back(s);
}

Wardvane::~Wardvane() {
  if (observerToken_) ipc::DarwinNotifyCenter::shared().removeObserver(observerToken_);
  if (center_) center_->stopServer();
}

void Wardvane::startServices() {
  if (auto name = getApplicationStringWithID(kMessagingCenterNameString)) {
    center_ = ipc::DistributedMessagingCenter::centerNamed(*name);
    ipc::rocketbootstrap_distributedmessagingcenter_apply(center_);
    center_->runServerOnCurrentThread();
    center_->registerForMessageName(kGetAppListInformationMessage,
                                    [](const std::string& message, const Dictionary& userInfo) {
                                      return std::optional<Dictionary>(
                                          Wardvane::getAppListInformationWithUserInfo(message, userInfo));
                                    });
  }
  observerToken_ = ipc::DarwinNotifyCenter::shared().addObserver(kSettingsChangedNotification, settingsChangedCallback);
}

void settingsChangedCallback(const std::string&) {
  if (wardvane) wardvane->loadSettings();
}

std::optional<std::string> Wardvane::getApplicationStringWithID(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= applicationStrings_.size()) return std::nullopt;
  return decodeStringWithKey(applicationStrings_[static_cast<std::size_t>(index)], kKeyString);
}

void Wardvane::loadSettings() {
  isEnabled_ = true;
  showAlerts_ = true;
  settings_ = emptyDictionary();
  coreVersionNumber_ = static_cast<float>(corefoundation::kCFCoreFoundationVersionNumber());

  auto phonePath = getApplicationStringWithID(kSettingsPathString);
  if (!phonePath) return;
  auto file = readSettingsFile(foundation::devicePath(*phonePath));
  if (!file) return;  // missing or unreadable: defaults, and the records in force stay
  settings_ = std::make_shared<const Dictionary>(std::move(*file));
  if (auto b = settingsBool(*settings_, kIsEnabledKey)) isEnabled_ = *b;
  if (auto b = settingsBool(*settings_, kShowAlertsKey)) showAlerts_ = *b;
  if (const Dictionary* records = settingsRecords(*settings_)) records_ = std::shared_ptr<const Dictionary>(settings_, records);
}

Date Wardvane::getCorrectedDate(Date date) const {
  auto today = foundation::Calendar::componentsInLocalTime(Date{foundation::Clock::now()});
  auto given = foundation::Calendar::componentsInLocalTime(date);
  today.hour = given.hour;
  today.minute = given.minute;
  today.second = 0;
  return foundation::Calendar::dateFromLocalComponents(today);
}

float Wardvane::getFloatFromTime(Date date) const {
  auto c = foundation::Calendar::componentsInLocalTime(date);
  float h = static_cast<float>(c.hour);
  float m = static_cast<float>(c.minute);
  float tenths = static_cast<float>(static_cast<double>(h) * 10.0 + static_cast<double>(m) / 10.0);
  return std::round(tenths * 100.0f) / 100.0f * 10.0f;
}

bool Wardvane::dateIsBetweenDateAndDate(Date date, Date begin, Date end) const {
  if (date < begin) return false;
  return !(date > end);
}

bool Wardvane::checkBundle(const std::string& bundleIdentifier) {
  loadSettings();
  if (!isEnabled_) return true;

  Date now{foundation::Clock::now()};
  // Calls that come in a burst (the same tap reaching several hooks) are let through.
  if (now.timeIntervalSinceDate(lastAlertDate_) <= 0.01) return true;
  lastAlertDate_ = now;

  auto it = records_->find(bundleIdentifier);
  if (it == records_->end()) return true;
  auto record = restrictionRecord(it->second);
  if (!record || !record->enableRestrictions) return true;

  // A missing end of the window reads as what the detail screen shows for it.
  auto defaultTime = [&](int hour) {
    auto c = foundation::Calendar::componentsInLocalTime(now);
    c.hour = hour;
    c.minute = 0;
    c.second = 0;
    return foundation::Calendar::dateFromLocalComponents(c);
  };
  Date current = getCorrectedDate(now);
  Date start = getCorrectedDate(record->startTime.value_or(defaultTime(kDefaultStartHour)));
  Date end = getCorrectedDate(record->endTime.value_or(defaultTime(kDefaultEndHour)));

  if (getFloatFromTime(end) >= getFloatFromTime(start)) return !dateIsBetweenDateAndDate(current, start, end);
  // The window runs across midnight.
  bool restricted = current >= start || current <= end;
  return !restricted;
}

}  // namespace wardvane
