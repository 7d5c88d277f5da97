// XML property lists: an iterative reader (an explicit stack of open containers, so the
// depth limit is a plain comparison and the C++ stack never grows with the input) and a
// writer in the platform's layout.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/foundation/base64.h"
#include "platform/foundation/property_list_forms.h"

namespace foundation::plist_forms {
namespace {

// ---- calendar arithmetic for <date> (proleptic Gregorian, UTC) ----

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
  std::int64_t year;
  unsigned month, day;
};

Civil civilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

bool isLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(std::int64_t y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// ---- scalar contents ----

std::optional<std::int64_t> parseInteger(std::string_view s) {
  s = trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return std::nullopt;
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  if (negative) {
    if (magnitude > (std::uint64_t{1} << 63)) return std::nullopt;
    return static_cast<std::int64_t>(~magnitude + 1);
  }
  // Unsigned 64-bit values past the signed range keep their bits, as they always have.
  return static_cast<std::int64_t>(magnitude);
}

std::optional<double> parseReal(std::string_view s) {
  s = trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (equalsIgnoringCase(s, "nan")) return std::nan("");
  if (equalsIgnoringCase(s, "inf") || equalsIgnoringCase(s, "infinity"))
    return negative ? -HUGE_VAL : HUGE_VAL;
  if (s.empty() || s.front() == '-' || s.front() == '+') return std::nullopt;
  double d = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d, std::chars_format::general);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return negative ? -d : d;
}

// "YYYY-MM-DDTHH:MM:SSZ", seconds optionally with a fraction.
std::optional<Date> parseDate(std::string_view s) {
  s = trim(s);
  auto digits = [&](std::size_t at, std::size_t n, unsigned& out) {
    if (at + n > s.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + n; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      out = out * 10 + static_cast<unsigned>(s[i] - '0');
    }
    return true;
  };
  unsigned y, mo, d, h, mi, sec;
  if (s.size() < 20 || !digits(0, 4, y) || s[4] != '-' || !digits(5, 2, mo) || s[7] != '-' || !digits(8, 2, d) ||
      s[10] != 'T' || !digits(11, 2, h) || s[13] != ':' || !digits(14, 2, mi) || s[16] != ':' || !digits(17, 2, sec))
    return std::nullopt;
  double fraction = 0;
  std::size_t at = 19;
  if (s[at] == '.') {
    std::size_t begin = ++at;
    double scale = 0.1;
    while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
      fraction += (s[at] - '0') * scale;
      scale /= 10;
      ++at;
    }
    if (at == begin) return std::nullopt;
  }
  if (at + 1 != s.size() || s[at] != 'Z') return std::nullopt;
  if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || sec > 59)
    return std::nullopt;
  double t = static_cast<double>(daysFromCivil(y, mo, d)) * 86400.0 + h * 3600.0 + mi * 60.0 + sec + fraction;
  return Date{t};
}

std::optional<Bytes> parseData(std::string_view s) {
  std::string compact;
  compact.reserve(s.size());
  for (char c : s)
    if (!isSpace(c)) compact.push_back(c);
  // Writers that leave the padding off are read too.
  if (compact.size() % 4 == 1) return std::nullopt;
  while (compact.size() % 4 != 0) compact.push_back('=');
  return base64Decode(compact);
}

// ---- the reader ----

class XMLReader {
 public:
  explicit XMLReader(std::string_view in) : in_(in) {}

  std::optional<Value> read(std::string& error) {
    auto v = document();
    if (!v) error = error_.empty() ? "malformed XML" : error_;
    return v;
  }

 private:
  struct Tag {
    std::string_view name;
    bool closing = false;      // </name>
    bool selfClosing = false;  // <name/>
  };
  struct Open {
    std::string_view name;
    Value container;
    std::optional<std::string> key;  // a dictionary's key still waiting for its value
  };

  bool fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    return false;
  }

  std::nullopt_t refuse(std::string why) {
    fail(std::move(why));
    return std::nullopt;
  }

  bool startsWith(std::string_view s) const { return in_.substr(pos_, s.size()) == s; }

  bool skipPast(std::string_view end) {
    auto at = in_.find(end, pos_);
    if (at == std::string_view::npos) return fail("unterminated markup");
    pos_ = at + end.size();
    return true;
  }

  void skipSpace() {
    while (pos_ < in_.size() && isSpace(in_[pos_])) ++pos_;
  }

  // White space, comments and processing instructions between elements.
  bool skipMisc() {
    for (;;) {
      skipSpace();
      if (startsWith("<!--")) {
        if (!skipPast("-->")) return false;
      } else if (startsWith("<?")) {
        if (!skipPast("?>")) return false;
      } else {
        return true;
      }
    }
  }

  bool skipDoctype() {
    // An internal subset could declare entities; a property list never has one.
    auto close = in_.find('>', pos_);
    if (close == std::string_view::npos) return fail("unterminated DOCTYPE");
    if (in_.substr(pos_, close - pos_).find('[') != std::string_view::npos)
      return fail("DOCTYPE with an internal subset");
    pos_ = close + 1;
    return true;
  }

  // At '<' of an element tag.
  bool readTag(Tag& tag) {
    if (pos_ >= in_.size()) return fail("unexpected end");
    if (in_[pos_] != '<') return fail("text where an element belongs");
    ++pos_;
    tag = {};
    if (pos_ < in_.size() && in_[pos_] == '/') {
      tag.closing = true;
      ++pos_;
    }
    std::size_t begin = pos_;
    while (pos_ < in_.size() && !isSpace(in_[pos_]) && in_[pos_] != '>' && in_[pos_] != '/') ++pos_;
    tag.name = in_.substr(begin, pos_ - begin);
    if (tag.name.empty()) return fail("element without a name");
    // Attributes (only <plist version>) carry nothing we use: step over them.
    char quote = 0;
    while (pos_ < in_.size()) {
      char c = in_[pos_];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      } else if (c == '/' && pos_ + 1 < in_.size() && in_[pos_ + 1] == '>') {
        if (tag.closing) return fail("malformed end tag");
        tag.selfClosing = true;
        ++pos_;
        break;
      } else if (tag.closing && !isSpace(c)) {
        return fail("malformed end tag");
      }
      ++pos_;
    }
    if (pos_ >= in_.size()) return fail("unterminated tag");
    ++pos_;  // '>'
    return true;
  }

  bool entity(std::string& out) {
    // References are short: look no further, or text of bare '&'s would be scanned to
    // its end once for each of them.
    auto semi = in_.substr(pos_, 16).find(';');
    if (semi == std::string_view::npos) return fail("malformed entity");
    semi += pos_;
    std::string_view name = in_.substr(pos_ + 1, semi - pos_ - 1);
    pos_ = semi + 1;
    if (name == "lt") return out.push_back('<'), true;
    if (name == "gt") return out.push_back('>'), true;
    if (name == "amp") return out.push_back('&'), true;
    if (name == "quot") return out.push_back('"'), true;
    if (name == "apos") return out.push_back('\''), true;
    if (name.size() < 2 || name[0] != '#') return fail("unknown entity");
    int base = 10;
    name.remove_prefix(1);
    if (name[0] == 'x' || name[0] == 'X') {
      base = 16;
      name.remove_prefix(1);
    }
    std::uint32_t cp = 0;
    auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), cp, base);
    if (name.empty() || ec != std::errc() || end != name.data() + name.size() || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return fail("character reference outside Unicode");
    appendUTF8(out, cp);
    return true;
  }

  // The text of a scalar element up to its end tag, with references and CDATA resolved.
  bool text(std::string_view name, std::string& out) {
    for (;;) {
      if (pos_ >= in_.size()) return fail("unexpected end");
      char c = in_[pos_];
      if (c == '&') {
        if (!entity(out)) return false;
      } else if (c != '<') {
        auto next = in_.find_first_of("<&", pos_);
        if (next == std::string_view::npos) next = in_.size();
        out.append(in_.substr(pos_, next - pos_));
        pos_ = next;
      } else if (startsWith("<![CDATA[")) {
        auto end = in_.find("]]>", pos_ + 9);
        if (end == std::string_view::npos) return fail("unterminated CDATA");
        out.append(in_.substr(pos_ + 9, end - pos_ - 9));
        pos_ = end + 3;
      } else if (startsWith("<!--")) {
        if (!skipPast("-->")) return false;
      } else {
        Tag tag;
        if (!readTag(tag)) return false;
        if (!tag.closing || tag.name != name) return fail("element inside <" + std::string(name) + ">");
        return true;
      }
    }
  }

  bool scalar(const Tag& tag, Value& out) {
    std::string content;
    if (!tag.selfClosing && !text(tag.name, content)) return false;
    const std::string_view n = tag.name;
    if (n == "string") {
      out = Value(std::move(content));
    } else if (n == "true" || n == "false") {
      if (!trim(content).empty()) return fail("text inside <" + std::string(n) + ">");
      out = Value(n == "true");
    } else if (n == "integer") {
      auto i = parseInteger(content);
      if (!i) return fail("malformed or out-of-range <integer>");
      out = Value(static_cast<long long>(*i));
    } else if (n == "real") {
      auto d = parseReal(content);
      if (!d) return fail("malformed <real>");
      out = Value(*d);
    } else if (n == "date") {
      auto d = parseDate(content);
      if (!d) return fail("malformed <date> or one outside years 0001 to 9999");
      out = Value(*d);
    } else if (n == "data") {
      auto d = parseData(content);
      if (!d) return fail("malformed base64 in <data>");
      out = Value(std::move(*d));
    } else {
      return fail("unknown element <" + std::string(n) + ">");
    }
    return true;
  }

  bool count() {
    if (++values_ > kMaxValueCount) return fail("more than " + std::to_string(kMaxValueCount) + " values");
    return true;
  }

  // Hands a finished value to the open container, or makes it the root.
  bool deliver(std::vector<Open>& stack, Value v, std::optional<Value>& root) {
    if (stack.empty()) {
      root = std::move(v);
      return true;
    }
    Open& top = stack.back();
    if (auto* a = top.container.asArray()) {
      a->push_back(std::move(v));
    } else {
      top.container.asDictionary()->insert_or_assign(std::move(*top.key), std::move(v));
      top.key.reset();
    }
    return true;
  }

  // One value, starting at its start tag; containers are kept on an explicit stack.
  std::optional<Value> value() {
    std::vector<Open> stack;
    std::optional<Value> root;
    while (!root) {
      if (!skipMisc()) return std::nullopt;
      Tag tag;
      if (!readTag(tag)) return std::nullopt;
      if (tag.closing) {
        if (stack.empty() || stack.back().name != tag.name) return refuse("mismatched </" + std::string(tag.name) + ">");
        if (stack.back().key) return refuse("dictionary key without a value");
        Value done = std::move(stack.back().container);
        stack.pop_back();
        if (!deliver(stack, std::move(done), root)) return std::nullopt;
        continue;
      }
      if (!stack.empty() && stack.back().container.asDictionary() && !stack.back().key) {
        if (tag.name != "key") return refuse("dictionary entry without a <key>");
        if (!count()) return std::nullopt;
        std::string key;
        if (!tag.selfClosing && !text(tag.name, key)) return std::nullopt;
        stack.back().key = std::move(key);
        continue;
      }
      if (!count()) return std::nullopt;
      if (tag.name == "array" || tag.name == "dict") {
        if (static_cast<int>(stack.size()) >= kMaxValueDepth)
          return refuse("nesting deeper than " + std::to_string(kMaxValueDepth) + " levels");
        Value empty = tag.name == "array" ? Value(Array{}) : Value(Dictionary{});
        if (tag.selfClosing) {
          if (!deliver(stack, std::move(empty), root)) return std::nullopt;
          continue;
        }
        stack.push_back(Open{tag.name, std::move(empty), std::nullopt});
        continue;
      }
      Value v;
      if (!scalar(tag, v) || !deliver(stack, std::move(v), root)) return std::nullopt;
    }
    return root;
  }

  std::optional<Value> document() {
    if (startsWith("\xEF\xBB\xBF")) pos_ += 3;
    if (!isValidUTF8(in_.substr(pos_))) return refuse("not UTF-8");
    for (;;) {
      if (!skipMisc()) return std::nullopt;
      if (!startsWith("<!DOCTYPE")) break;
      if (!skipDoctype()) return std::nullopt;
    }
    // The value may sit inside <plist>, as the platform writes it, or stand alone.
    bool wrapped = false;
    if (startsWith("<plist") && pos_ + 6 < in_.size() &&
        (isSpace(in_[pos_ + 6]) || in_[pos_ + 6] == '>' || in_[pos_ + 6] == '/')) {
      Tag tag;
      if (!readTag(tag)) return std::nullopt;
      if (tag.selfClosing) return refuse("empty <plist>");
      wrapped = true;
    }
    auto v = value();
    if (!v) return std::nullopt;
    if (wrapped) {
      if (!skipMisc()) return std::nullopt;
      Tag tag;
      if (!readTag(tag)) return std::nullopt;
      if (!tag.closing || tag.name != "plist") return refuse("more than one value in <plist>");
    }
    if (!skipMisc()) return std::nullopt;
    if (pos_ != in_.size()) return refuse("content after the property list");
    return v;
  }

  std::string_view in_;
  std::size_t pos_ = 0;
  std::size_t values_ = 0;
  std::string error_;
};

// ---- the writer ----

void appendEscaped(std::string& out, std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '\t':
      case '\n': out.push_back(static_cast<char>(c)); break;
      default:
        // Control characters (U+0000 included) and carriage returns, which XML readers
        // would drop or fold, go as references so they come back as they were.
        if (c < 0x20 || c == 0x7F) {
          char ref[8];
          std::snprintf(ref, sizeof ref, "&#x%X;", c);
          out += ref;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
}

void appendDate(std::string& out, Date date) {
  auto t = static_cast<std::int64_t>(std::floor(date.timeIntervalSince1970));
  std::int64_t days = t >= 0 ? t / 86400 : -((-t + 86399) / 86400);
  auto secs = static_cast<unsigned>(t - days * 86400);
  Civil c = civilFromDays(days);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(c.year), c.month, c.day,
                secs / 3600, secs / 60 % 60, secs % 60);
  out += buf;
}

void appendReal(std::string& out, double d) {
  if (std::isnan(d)) {
    out += "nan";
  } else if (std::isinf(d)) {
    out += d > 0 ? "+infinity" : "-infinity";
  } else {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    out.append(buf, ec == std::errc() ? end : buf);
  }
}

void write(std::string& out, const Value& v, int indent) {
  auto tabs = [&](int n) { out.append(static_cast<std::size_t>(n), '\t'); };
  tabs(indent);
  switch (v.type()) {
    case Value::Type::Null: break;  // left out by the caller
    case Value::Type::Boolean: out += *v.asBoolean() ? "<true/>" : "<false/>"; break;
    case Value::Type::Integer: {
      char buf[32];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, *v.asInteger());
      out += "<integer>";
      out.append(buf, ec == std::errc() ? end : buf);
      out += "</integer>";
      break;
    }
    case Value::Type::Real:
      out += "<real>";
      appendReal(out, *v.asReal());
      out += "</real>";
      break;
    case Value::Type::String:
      out += "<string>";
      appendEscaped(out, *v.asString());
      out += "</string>";
      break;
    case Value::Type::Data:
      out += "<data>";
      out += base64Encode(*v.asData());
      out += "</data>";
      break;
    case Value::Type::Date:
      out += "<date>";
      appendDate(out, *v.asDate());
      out += "</date>";
      break;
    case Value::Type::Array: {
      const auto& a = *v.asArray();
      bool any = false;
      for (const auto& item : a) any = any || !item.isNull();
      if (!any) {
        out += "<array/>";
        break;
      }
      out += "<array>\n";
      for (const auto& item : a) {
        if (item.isNull()) continue;
        write(out, item, indent + 1);
        out += '\n';
      }
      tabs(indent);
      out += "</array>";
      break;
    }
    case Value::Type::Dictionary: {
      const auto& d = *v.asDictionary();
      bool any = false;
      for (const auto& [key, item] : d) any = any || !item.isNull();
      if (!any) {
        out += "<dict/>";
        break;
      }
      out += "<dict>\n";
      for (const auto& [key, item] : d) {
        if (item.isNull()) continue;
        tabs(indent + 1);
        out += "<key>";
        appendEscaped(out, key);
        out += "</key>\n";
        write(out, item, indent + 1);
        out += '\n';
      }
      tabs(indent);
      out += "</dict>";
      break;
    }
  }
}

}  // namespace

std::optional<Value> readXML(std::string_view in, std::string& error) { return XMLReader(in).read(error); }

bool writeXML(const Value& value, std::string& out, std::string& error) {
  if (!checkWritable(value, error)) return false;
  out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
  write(out, value, 0);
  out += "\n</plist>\n";
  return true;
}

}  // namespace foundation::plist_forms
