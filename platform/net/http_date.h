#pragma once
// HTTP dates. Servers send three forms:
//   "Sun, 06 Nov 1994 08:49:37 GMT"    (RFC 1123)
//   "Sun Nov  6 08:49:37 1994"         (asctime, always GMT)
//   "Sunday, 06-Nov-94 08:49:37 GMT"   (RFC 850, two-digit year)
// Names are English and read without regard to case; the weekday is read but not
// checked against the date. Results are seconds since 1970.

#include <optional>
#include <string>
#include <string_view>

namespace net {

// The RFC 1123 form with a zone ("GMT", "UTC", "UT", "Z", US zone names, or an offset
// "+0100" / "GMT+01:00").
std::optional<double> parseRFC1123Date(std::string_view text);
std::optional<double> parseAsctimeDate(std::string_view text);
// A two-digit year is placed in the century that puts it less than 80 years before
// and at most 20 years after `now` (seconds since 1970).
std::optional<double> parseRFC850Date(std::string_view text, double now);
// Tries the three forms in the order above; surrounding white space does not count.
std::optional<double> parseHTTPDate(std::string_view text, double now);

// The RFC 1123 form without its zone field ("Sun, 06 Nov 1994 08:49:37"), always GMT:
// what file stamps are written and read as.
std::string formatHTTPDateWithoutZone(double secondsSince1970);
std::optional<double> parseHTTPDateWithoutZone(std::string_view text);

}  // namespace net
