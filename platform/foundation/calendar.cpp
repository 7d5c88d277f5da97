#include "platform/foundation/calendar.h"

#include <time.h>

#include <cmath>
#include <cstdlib>
#include <mutex>

#include "platform/foundation/clock.h"

namespace foundation {
namespace {

std::mutex& tzMutex() {
  static std::mutex m;
  return m;
}

DateComponents fromTm(const tm& t) {
  DateComponents c;
  c.year = t.tm_year + 1900;
  c.month = t.tm_mon + 1;
  c.day = t.tm_mday;
  c.hour = t.tm_hour;
  c.minute = t.tm_min;
  c.second = t.tm_sec;
  c.weekday = t.tm_wday + 1;
  // Week of month with weeks starting on Sunday, the first (partial) week being 1.
  int firstWeekday = ((t.tm_wday - (t.tm_mday - 1)) % 7 + 7) % 7;
  c.weekOfMonth = (t.tm_mday - 1 + firstWeekday) / 7 + 1;
  return c;
}

time_t toTimeT(Date d) { return static_cast<time_t>(std::floor(d.timeIntervalSince1970)); }

}  // namespace

DateComponents Calendar::componentsInLocalTime(Date date) {
  std::lock_guard lock(tzMutex());
  time_t t = toTimeT(date);
  tm out{};
  localtime_r(&t, &out);
  return fromTm(out);
}

DateComponents Calendar::componentsInUTC(Date date) {
  time_t t = toTimeT(date);
  tm out{};
  gmtime_r(&t, &out);
  return fromTm(out);
}

Date Calendar::dateFromLocalComponents(const DateComponents& c) {
  std::lock_guard lock(tzMutex());
  tm t{};
  t.tm_year = c.year - 1900;
  t.tm_mon = c.month - 1;
  t.tm_mday = c.day;
  t.tm_hour = c.hour;
  t.tm_min = c.minute;
  t.tm_sec = c.second;
  t.tm_isdst = -1;
  return Date{static_cast<double>(mktime(&t))};
}

void Calendar::setLocalTimeZone(const std::string& name) {
  std::lock_guard lock(tzMutex());
  setenv("TZ", name.c_str(), 1);
  tzset();
}

std::string Calendar::localTimeZoneName() {
  std::lock_guard lock(tzMutex());
  const char* tz = getenv("TZ");
  return tz && *tz ? tz : "UTC";
}

long Calendar::secondsFromGMT(Date date) {
  std::lock_guard lock(tzMutex());
  time_t t = toTimeT(date);
  tm out{};
  localtime_r(&t, &out);
  return out.tm_gmtoff;
}

Date now() { return Date{Clock::now()}; }

}  // namespace foundation
