#pragma once
// The Gregorian calendar in the local time zone (the TZ environment variable, which
// tests and drivers set through setLocalTimeZone).

#include <string>

#include "platform/foundation/value.h"

namespace foundation {

struct DateComponents {
  int year = 1970;
  int month = 1;   // 1-12
  int day = 1;     // 1-31
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-60
  int weekday = 1; // 1 Sunday .. 7 Saturday
  int weekOfMonth = 1;
};

class Calendar {
 public:
  // Local components of a date; fractions of a second are cut.
  static DateComponents componentsInLocalTime(Date date);
  // The date of local components; out-of-range fields are normalised (25:00 is the next
  // day's 01:00; a local time skipped by a daylight-saving change moves forward).
  static Date dateFromLocalComponents(const DateComponents& c);
  static DateComponents componentsInUTC(Date date);

  // Sets the process's local time zone by name ("Europe/Paris", "UTC", ...).
  static void setLocalTimeZone(const std::string& name);
  static std::string localTimeZoneName();
  // Seconds east of UTC at the given date.
  static long secondsFromGMT(Date date);
};

// The current date.
Date now();

}  // namespace foundation
