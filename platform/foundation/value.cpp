#include "platform/foundation/value.h"

#include <cmath>
#include <limits>

namespace foundation {

std::optional<bool> Value::boolValue() const {
  if (auto b = asBoolean()) return *b;
  if (auto i = asInteger()) return *i != 0;
  if (auto r = asReal()) return *r != 0.0;
  return std::nullopt;
}

std::optional<std::int64_t> Value::longLongValue() const {
  if (auto b = asBoolean()) return *b ? 1 : 0;
  if (auto i = asInteger()) return *i;
  if (auto r = asReal()) {
    // Out-of-range and NaN reals have no defined C conversion; clamp instead.
    if (std::isnan(*r)) return 0;
    if (*r >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
    if (*r <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(*r);
  }
  return std::nullopt;
}

std::optional<std::int32_t> Value::intValue() const {
  auto v = longLongValue();
  if (!v) return std::nullopt;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(*v)));
}

std::optional<double> Value::doubleValue() const {
  if (auto b = asBoolean()) return *b ? 1.0 : 0.0;
  if (auto i = asInteger()) return static_cast<double>(*i);
  if (auto r = asReal()) return *r;
  return std::nullopt;
}

const Value* Value::get(std::string_view key) const {
  const auto* d = asDictionary();
  if (!d) return nullptr;
  auto it = d->find(key);
  return it == d->end() ? nullptr : &it->second;
}

Value& Value::operator[](std::string_view key) {
  if (isNull()) v_ = foundation::Dictionary{};
  auto& d = std::get<foundation::Dictionary>(v_);
  auto it = d.find(key);
  if (it == d.end()) it = d.emplace(std::string(key), Value{}).first;
  return it->second;
}

const char* typeName(Value::Type t) {
  switch (t) {
    case Value::Type::Null: return "null";
    case Value::Type::Boolean: return "boolean";
    case Value::Type::Integer: return "integer";
    case Value::Type::Real: return "real";
    case Value::Type::String: return "string";
    case Value::Type::Data: return "data";
    case Value::Type::Date: return "date";
    case Value::Type::Array: return "array";
    case Value::Type::Dictionary: return "dictionary";
  }
  return "?";
}

namespace {
const Value* find(const Dictionary& d, std::string_view key) {
  auto it = d.find(key);
  return it == d.end() ? nullptr : &it->second;
}
}  // namespace

std::optional<bool> boolForKey(const Dictionary& d, std::string_view key) {
  auto v = find(d, key);
  return v ? v->boolValue() : std::nullopt;
}
std::optional<std::int32_t> intForKey(const Dictionary& d, std::string_view key) {
  auto v = find(d, key);
  return v ? v->intValue() : std::nullopt;
}
std::optional<double> doubleForKey(const Dictionary& d, std::string_view key) {
  auto v = find(d, key);
  return v ? v->doubleValue() : std::nullopt;
}
const std::string* stringForKey(const Dictionary& d, std::string_view key) {
  auto v = find(d, key);
  return v ? v->asString() : nullptr;
}
const Dictionary* dictionaryForKey(const Dictionary& d, std::string_view key) {
  auto v = find(d, key);
  return v ? v->asDictionary() : nullptr;
}
const Array* arrayForKey(const Dictionary& d, std::string_view key) {
  auto v = find(d, key);
  return v ? v->asArray() : nullptr;
}
std::optional<Date> dateForKey(const Dictionary& d, std::string_view key) {
  auto v = find(d, key);
  if (!v || !v->asDate()) return std::nullopt;
  return *v->asDate();
}
const Bytes* dataForKey(const Dictionary& d, std::string_view key) {
  auto v = find(d, key);
  return v ? v->asData() : nullptr;
}

bool isStorableDate(Date date) {
  double t = date.timeIntervalSince1970;
  // Fractions of the last second still round down into year 9999.
  return std::isfinite(t) && t >= kEarliestStoredDate && t < kLatestStoredDate + 1.0;
}

void appendUTF8(std::string& out, std::uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool isValidUTF8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int extra;
    unsigned char lo = 0x80, hi = 0xBF;  // the allowed range of the first continuation byte
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) lo = 0xA0;  // overlong
      if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) lo = 0x90;  // overlong
      if (c == 0xF4) hi = 0x8F;  // past U+10FFFF
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (int i = 2; i <= extra; ++i)
      if ((p[i] & 0xC0) != 0x80) return false;
    p += extra + 1;
  }
  return true;
}

bool nestsDeeperThan(const Value& value, int maxDepth) {
  if (const auto* a = value.asArray()) {
    if (maxDepth < 1) return true;
    for (const auto& item : *a)
      if (nestsDeeperThan(item, maxDepth - 1)) return true;
    return false;
  }
  if (const auto* d = value.asDictionary()) {
    if (maxDepth < 1) return true;
    for (const auto& [key, item] : *d)
      if (nestsDeeperThan(item, maxDepth - 1)) return true;
    return false;
  }
  return false;
}

}  // namespace foundation
