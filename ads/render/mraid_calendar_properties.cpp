#include "ads/render/mraid_calendar_properties.h"

#include <cstdint>

namespace {

std::optional<std::string> calendarText(const foundation::Dictionary& d, const char* key) {
  auto it = d.find(key);
  if (it == d.end()) return std::nullopt;
  if (auto* s = it->second.asString()) return *s;
  return std::nullopt;
}

// Reads exactly `n` digits at `at`.
bool calendarDigits(std::string_view t, std::size_t at, std::size_t n, int& out) {
  if (at + n > t.size()) return false;
  out = 0;
  for (std::size_t i = at; i < at + n; ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    out = out * 10 + (t[i] - '0');
  }
  return true;
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::optional<foundation::Date> QMAMRAIDCalendarProperties::dateFromString(std::string_view t) {
  int year, month, day, hour, minute, second;
  if (!calendarDigits(t, 0, 4, year) || t.size() < 19 || t[4] != '-' || !calendarDigits(t, 5, 2, month) || t[7] != '-' ||
      !calendarDigits(t, 8, 2, day) || t[10] != 'T' || !calendarDigits(t, 11, 2, hour) || t[13] != ':' ||
      !calendarDigits(t, 14, 2, minute) || t[16] != ':' || !calendarDigits(t, 17, 2, second))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 || second > 59)
    return std::nullopt;
  const std::string_view zone = t.substr(19);
  long offset = 0;
  if (zone == "Z") {
    offset = 0;
  } else {
    int zh, zm;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || !calendarDigits(zone, 1, 2, zh) || zone[3] != ':' ||
        !calendarDigits(zone, 4, 2, zm) || zh > 23 || zm > 59)
      return std::nullopt;
    offset = (zh * 3600L + zm * 60L) * (zone[0] == '-' ? -1 : 1);
  }
  const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  const double seconds = static_cast<double>(days * 86400 + hour * 3600L + minute * 60L + second - offset);
  return foundation::Date{seconds};
}

QMAMRAIDCalendarProperties::QMAMRAIDCalendarProperties(const foundation::Dictionary& d)
    : summary_(calendarText(d, "summary")), eventDescription_(calendarText(d, "description")), location_(calendarText(d, "location")) {
  if (auto start = calendarText(d, "start")) startTime_ = dateFromString(*start);
  if (auto end = calendarText(d, "end")) endTime_ = dateFromString(*end);
}
