#include "platform/net/http_date.h"

#include <gtest/gtest.h>

namespace net {
namespace {

constexpr double k1994 = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
constexpr double kNow2024 = 1717200000;

TEST(HTTPDate, ReadsTheThreeFormsServersSend) {
  const char* forms[] = {
      "Sun, 06 Nov 1994 08:49:37 GMT", "Sun Nov  6 08:49:37 1994",   "Sunday, 06-Nov-94 08:49:37 GMT",
      "sun, 06 nov 1994 08:49:37 gmt", "Sun, 6 Nov 1994 08:49:37 UTC", "  Sun, 06 Nov 1994 08:49:37 GMT \r\n",
      "Sun, 06 Nov 1994 09:49:37 +0100", "Sun, 06 Nov 1994 00:49:37 PST", "Sun, 06 Nov 1994 07:49:37 GMT-01:00",
      "Sun Nov 6 08:49:37 1994",
  };
  for (const char* text : forms) EXPECT_EQ(parseHTTPDate(text, kNow2024), k1994) << text;
}

TEST(HTTPDate, RefusesWhatIsNoDate) {
  const char* bad[] = {
      "",
      "Sun, 06 Nov 1994 08:49:37",      // RFC 1123 needs its zone
      "Sun, 31 Feb 1994 08:49:37 GMT",  // no such day
      "Sun, 06 Nov 1994 24:00:00 GMT",
      "Sun, 06 Nov 1994 08:60:00 GMT",
      "Sun, 06 Foo 1994 08:49:37 GMT",
      "Xyz, 06 Nov 1994 08:49:37 GMT",
      "Sun, 06 Nov 1994 08:49:37 GMT junk",
      "Sun, 06 Nov 1994 08:49:37 +2500",
      "Sun, 06 Nov 19945 08:49:37 GMT",
      "Sunday, 06-Nov-1994 08:49:37 GMT",
      "Sun Nov  6 08:49:37 94",
      "1994-11-06T08:49:37Z",
  };
  for (const char* text : bad) EXPECT_FALSE(parseHTTPDate(text, kNow2024)) << text;
}

TEST(HTTPDate, PlacesTwoDigitYearsWithinEightyYearsBeforeNow) {
  auto year = [](const char* text, double now) { return parseRFC850Date(text, now); };
  // In 2024: 94 is 1994, 30 is 2030, 44 is 2044 (exactly 80 years back is 1944, the earliest).
  EXPECT_EQ(year("Sunday, 06-Nov-94 08:49:37 GMT", kNow2024), k1994);
  EXPECT_EQ(year("Monday, 01-Jan-30 00:00:00 GMT", kNow2024), 1893456000);
  EXPECT_EQ(year("Saturday, 01-Jan-44 00:00:00 GMT", kNow2024), -820540800);
  EXPECT_EQ(year("Tuesday, 01-Jan-95 00:00:00 GMT", 0), -2366755200);  // seen from 1970: 1895
}

TEST(HTTPDate, WritesTheZonelessFormAndReadsItBack) {
  EXPECT_EQ(formatHTTPDateWithoutZone(k1994), "Sun, 06 Nov 1994 08:49:37");
  EXPECT_EQ(formatHTTPDateWithoutZone(k1994 + 0.9), "Sun, 06 Nov 1994 08:49:37");
  EXPECT_EQ(formatHTTPDateWithoutZone(-1), "Wed, 31 Dec 1969 23:59:59");
  EXPECT_EQ(parseHTTPDateWithoutZone("Sun, 06 Nov 1994 08:49:37  "), k1994);
  EXPECT_FALSE(parseHTTPDateWithoutZone("Sun, 06 Nov 1994 08:49:37 GMT"));
}

}  // namespace
}  // namespace net
