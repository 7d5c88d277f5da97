#pragma once
// The calendar event a creative asks for ("createCalendarEvent"), as typed values: two
// dates and three texts. The creative's text is hostile: a date that is not exactly
// yyyy-MM-ddTHH:mm:ss with "Z" or a +hh:mm / -hh:mm zone, or names no real time, is no
// date. Reading never fails; what is missing or unreadable is simply absent, and the
// opener judges the event. Plain values, usable on any thread.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

class QMAMRAIDCalendarProperties {
 public:
  // Reads "start", "end", "summary", "description" and "location".
  explicit QMAMRAIDCalendarProperties(const foundation::Dictionary& dictionary);

  // The shared reading of the dates: yyyy-MM-dd'T'HH:mm:ssZZZZZ, as a POSIX-locale
  // formatter reads it.
  static std::optional<foundation::Date> dateFromString(std::string_view text);

  const std::optional<foundation::Date>& startTime() const { return startTime_; }
  const std::optional<foundation::Date>& endTime() const { return endTime_; }
  const std::optional<std::string>& summary() const { return summary_; }
  const std::optional<std::string>& eventDescription() const { return eventDescription_; }
  const std::optional<std::string>& location() const { return location_; }

 private:
  std::optional<foundation::Date> startTime_, endTime_;
  std::optional<std::string> summary_, eventDescription_, location_;
};
