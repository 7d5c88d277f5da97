#include "platform/net/http_date.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace net {

namespace {

constexpr std::array<const char*, 7> kShortDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 7> kLongDays = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool sameLetters(std::string_view a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == 0 || std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return b[i] == 0;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

unsigned daysInMonth(std::int64_t y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

struct Fields {
  std::int64_t year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int offsetSeconds = 0;  // east of GMT
};

std::optional<double> toSeconds(const Fields& f) {
  if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > daysInMonth(f.year, f.month)) return std::nullopt;
  if (f.hour > 23 || f.minute > 59 || f.second > 59) return std::nullopt;
  double days = static_cast<double>(daysFromCivil(f.year, f.month, f.day));
  return days * 86400.0 + f.hour * 3600.0 + f.minute * 60.0 + f.second - f.offsetSeconds;
}

class Scanner {
 public:
  explicit Scanner(std::string_view s) : s_(s) {}
  bool atEnd() const { return pos_ == s_.size(); }
  bool literal(char c) {
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool spaces() {  // one or more
    std::size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] == ' ') ++pos_;
    return pos_ > start;
  }
  std::string_view word() {
    std::size_t start = pos_;
    while (pos_ < s_.size() && std::isalpha(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    return s_.substr(start, pos_ - start);
  }
  std::optional<unsigned> number(std::size_t minDigits, std::size_t maxDigits) {
    std::size_t start = pos_;
    unsigned value = 0;
    while (pos_ < s_.size() && pos_ - start < maxDigits && std::isdigit(static_cast<unsigned char>(s_[pos_])))
      value = value * 10 + static_cast<unsigned>(s_[pos_++] - '0');
    if (pos_ - start < minDigits) return std::nullopt;
    if (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) return std::nullopt;
    return value;
  }
  std::string_view rest() const { return s_.substr(pos_); }

 private:
  std::string_view s_;
  std::size_t pos_ = 0;
};

bool weekday(Scanner& sc, bool allowLong) {
  auto w = sc.word();
  for (std::size_t i = 0; i < 7; ++i)
    if (sameLetters(w, kShortDays[i]) || (allowLong && sameLetters(w, kLongDays[i]))) return true;
  return false;
}

std::optional<unsigned> month(Scanner& sc) {
  auto w = sc.word();
  for (unsigned i = 0; i < 12; ++i)
    if (sameLetters(w, kMonths[i])) return i + 1;
  return std::nullopt;
}

bool timeOfDay(Scanner& sc, Fields& f) {
  auto h = sc.number(2, 2);
  if (!h || !sc.literal(':')) return false;
  auto m = sc.number(2, 2);
  if (!m || !sc.literal(':')) return false;
  auto s = sc.number(2, 2);
  if (!s) return false;
  f.hour = *h;
  f.minute = *m;
  f.second = *s;
  return true;
}

std::optional<int> offset(std::string_view text) {
  // "+hh", "+hhmm" or "+hh:mm"
  if (text.size() < 2) return std::nullopt;
  int sign = text[0] == '+' ? 1 : text[0] == '-' ? -1 : 0;
  if (!sign) return std::nullopt;
  std::string_view rest = text.substr(1);
  std::string_view hh = rest, mm;
  if (auto colon = rest.find(':'); colon != std::string_view::npos) {
    hh = rest.substr(0, colon);
    mm = rest.substr(colon + 1);
    if (mm.size() != 2) return std::nullopt;
  } else if (rest.size() == 4) {
    hh = rest.substr(0, 2);
    mm = rest.substr(2);
  }
  if (hh.empty() || hh.size() > 2) return std::nullopt;
  Scanner h(hh), m(mm);
  auto hours = h.number(1, 2);
  std::optional<unsigned> minutes = mm.empty() ? std::optional<unsigned>(0) : m.number(2, 2);
  if (!hours || !minutes || !h.atEnd() || !m.atEnd() || *hours > 23 || *minutes > 59) return std::nullopt;
  return sign * static_cast<int>(*hours * 3600 + *minutes * 60);
}

std::optional<int> zone(std::string_view z) {
  struct Named {
    const char* name;
    int hours;
  };
  static const Named kNamed[] = {{"GMT", 0}, {"UTC", 0}, {"UT", 0},  {"Z", 0},   {"EST", -5}, {"EDT", -4},
                                 {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
  for (const auto& n : kNamed)
    if (sameLetters(z, n.name)) return n.hours * 3600;
  for (const char* prefix : {"GMT", "UTC"}) {
    if (z.size() > 3 && sameLetters(z.substr(0, 3), prefix)) return offset(z.substr(3));
  }
  return offset(z);
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// "EEE, dd MMM yyyy HH:mm:ss", leaving the scanner after the seconds.
bool rfc1123Body(Scanner& sc, Fields& f) {
  if (!weekday(sc, false) || !sc.literal(',') || !sc.spaces()) return false;
  auto d = sc.number(1, 2);
  if (!d || !sc.spaces()) return false;
  auto m = month(sc);
  if (!m || !sc.spaces()) return false;
  auto y = sc.number(4, 4);
  if (!y || !sc.spaces()) return false;
  f.day = *d;
  f.month = *m;
  f.year = *y;
  return timeOfDay(sc, f);
}

}  // namespace

std::optional<double> parseRFC1123Date(std::string_view text) {
  Scanner sc(trim(text));
  Fields f;
  if (!rfc1123Body(sc, f) || !sc.spaces()) return std::nullopt;
  auto z = zone(sc.rest());
  if (!z) return std::nullopt;
  f.offsetSeconds = *z;
  return toSeconds(f);
}

std::optional<double> parseAsctimeDate(std::string_view text) {
  Scanner sc(trim(text));
  Fields f;
  if (!weekday(sc, false) || !sc.spaces()) return std::nullopt;
  auto m = month(sc);
  if (!m || !sc.spaces()) return std::nullopt;
  auto d = sc.number(1, 2);
  if (!d || !sc.spaces() || !timeOfDay(sc, f) || !sc.spaces()) return std::nullopt;
  auto y = sc.number(4, 4);
  if (!y || !sc.atEnd()) return std::nullopt;
  f.day = *d;
  f.month = *m;
  f.year = *y;
  return toSeconds(f);
}

std::optional<double> parseRFC850Date(std::string_view text, double now) {
  Scanner sc(trim(text));
  Fields f;
  if (!weekday(sc, true) || !sc.literal(',') || !sc.spaces()) return std::nullopt;
  auto d = sc.number(1, 2);
  if (!d || !sc.literal('-')) return std::nullopt;
  auto m = month(sc);
  if (!m || !sc.literal('-')) return std::nullopt;
  auto y = sc.number(2, 2);
  if (!y || !sc.spaces() || !timeOfDay(sc, f) || !sc.spaces()) return std::nullopt;
  auto z = zone(sc.rest());
  if (!z) return std::nullopt;
  if (!std::isfinite(now) || std::fabs(now) > 1e14) now = 0;
  std::int64_t cy;
  unsigned cm, cd;
  civilFromDays(static_cast<std::int64_t>(std::floor(now / 86400.0)), cy, cm, cd);
  std::int64_t start = cy - 80;
  std::int64_t century = start - ((start % 100) + 100) % 100;
  std::int64_t year = century + *y;
  if (year < start) year += 100;
  f.year = year;
  f.day = *d;
  f.month = *m;
  f.offsetSeconds = *z;
  return toSeconds(f);
}

std::optional<double> parseHTTPDate(std::string_view text, double now) {
  if (auto t = parseRFC1123Date(text)) return t;
  if (auto t = parseAsctimeDate(text)) return t;
  return parseRFC850Date(text, now);
}

std::string formatHTTPDateWithoutZone(double secondsSince1970) {
  auto total = static_cast<std::int64_t>(std::floor(secondsSince1970));
  std::int64_t days = total >= 0 ? total / 86400 : -((-total + 86399) / 86400);
  std::int64_t secs = total - days * 86400;
  std::int64_t y;
  unsigned m, d;
  civilFromDays(days, y, m, d);
  int weekdayIndex = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02u %s %04lld %02d:%02d:%02d", kShortDays[weekdayIndex], d, kMonths[m - 1],
                static_cast<long long>(y), static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  return buf;
}

std::optional<double> parseHTTPDateWithoutZone(std::string_view text) {
  Scanner sc(trim(text));
  Fields f;
  if (!rfc1123Body(sc, f) || !sc.atEnd()) return std::nullopt;
  return toSeconds(f);
}

}  // namespace net
