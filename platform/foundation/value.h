#pragma once
// The value type of property lists and JSON: null, Boolean, integer, real, string,
// data, date, array and dictionary. Values are plain C++ values: copying one copies
// the whole tree, so no two owners ever share a mutable container.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace foundation {

// A point in time, as seconds since 1970-01-01 00:00:00 UTC.
struct Date {
  double timeIntervalSince1970 = 0;

  // Seconds between 1970 and the platform's reference date, 2001-01-01 00:00:00 UTC.
  static constexpr double kReferenceDateOffset = 978307200.0;

  double timeIntervalSinceReferenceDate() const { return timeIntervalSince1970 - kReferenceDateOffset; }
  static Date fromReferenceDate(double seconds) { return Date{seconds + kReferenceDateOffset}; }
  double timeIntervalSinceDate(Date other) const { return timeIntervalSince1970 - other.timeIntervalSince1970; }
  Date dateByAddingTimeInterval(double seconds) const { return Date{timeIntervalSince1970 + seconds}; }

  friend auto operator<=>(const Date&, const Date&) = default;
};

using Bytes = std::vector<std::uint8_t>;
class Value;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value, std::less<>>;

class Value {
 public:
  enum class Type { Null, Boolean, Integer, Real, String, Data, Date, Array, Dictionary };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int i) : v_(std::int64_t{i}) {}
  Value(unsigned i) : v_(std::int64_t{i}) {}
  Value(long i) : v_(std::int64_t{i}) {}
  Value(long long i) : v_(std::int64_t{i}) {}
  Value(unsigned long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(unsigned long long i) : v_(static_cast<std::int64_t>(i)) {}
  Value(double d) : v_(d) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(Bytes d) : v_(std::move(d)) {}
  Value(Date d) : v_(d) {}
  Value(foundation::Array a) : v_(std::move(a)) {}
  Value(foundation::Dictionary d) : v_(std::move(d)) {}

  Type type() const { return static_cast<Type>(v_.index()); }
  bool isNull() const { return type() == Type::Null; }
  // Integer or Real: what the platform calls a number (Booleans are numbers too there,
  // but callers that accept them say so with boolValue()).
  bool isNumber() const { return type() == Type::Integer || type() == Type::Real; }

  // Typed access: null when the value holds another type.
  const bool* asBoolean() const { return std::get_if<bool>(&v_); }
  const std::int64_t* asInteger() const { return std::get_if<std::int64_t>(&v_); }
  const double* asReal() const { return std::get_if<double>(&v_); }
  const std::string* asString() const { return std::get_if<std::string>(&v_); }
  const Bytes* asData() const { return std::get_if<Bytes>(&v_); }
  const Date* asDate() const { return std::get_if<Date>(&v_); }
  const foundation::Array* asArray() const { return std::get_if<foundation::Array>(&v_); }
  foundation::Array* asArray() { return std::get_if<foundation::Array>(&v_); }
  const foundation::Dictionary* asDictionary() const { return std::get_if<foundation::Dictionary>(&v_); }
  foundation::Dictionary* asDictionary() { return std::get_if<foundation::Dictionary>(&v_); }

  // Number conversions of the platform's number class. A Boolean, integer or real
  // converts; anything else (strings included) is "not a number" and gives nullopt.
  std::optional<bool> boolValue() const;
  std::optional<std::int32_t> intValue() const;  // truncates reals, wraps like a C cast
  std::optional<std::int64_t> longLongValue() const;
  std::optional<double> doubleValue() const;

  // Dictionary lookup; null when this is not a dictionary or the key is absent.
  const Value* get(std::string_view key) const;
  // Dictionary insertion; turns a null value into an empty dictionary first.
  Value& operator[](std::string_view key);

  friend bool operator==(const Value&, const Value&) = default;

 private:
  std::variant<std::monostate, bool, std::int64_t, double, std::string, Bytes, Date, foundation::Array,
               foundation::Dictionary>
      v_;
};

const char* typeName(Value::Type t);

// What the readers of property lists and JSON accept from outside the process (files,
// messaging frames, fixtures, the ad network's answers). A document that passes a limit
// is refused as a whole, with a log line naming the limit: a value is never cut short.
// Nesting is checked before a reader goes a level deeper, so no input can run a reader
// (or the values it builds, whose copies and destructors recurse) out of stack.
inline constexpr int kMaxValueDepth = 512;                   // arrays and dictionaries inside each other
inline constexpr std::size_t kMaxValueCount = 1u << 18;      // values in one document
inline constexpr std::size_t kMaxReadFileSize = 16u << 20;   // bytes of one file read whole

// Dates are stored to the second in XML property lists as years 0001 to 9999; both
// forms keep to that range, so whatever one form holds the other can too.
inline constexpr double kEarliestStoredDate = -62135596800.0;  // 0001-01-01T00:00:00Z, seconds since 1970
inline constexpr double kLatestStoredDate = 253402300799.0;    // 9999-12-31T23:59:59Z
bool isStorableDate(Date date);

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or code points
// past U+10FFFF). U+0000 is allowed: strings may hold it.
bool isValidUTF8(std::string_view text);
// Appends code point `cp` as UTF-8; a value that is no Unicode scalar value (a surrogate,
// or past U+10FFFF) becomes U+FFFD.
void appendUTF8(std::string& out, std::uint32_t cp);
// Whether `value` nests arrays and dictionaries more than `maxDepth` deep (a scalar is
// depth 0; an array or dictionary one more than its deepest member, 1 when empty). Looks
// no deeper than the limit, so it is safe on any value.
bool nestsDeeperThan(const Value& value, int maxDepth);

// Typed reads from a dictionary: nullopt/null when the key is absent or of another type.
std::optional<bool> boolForKey(const Dictionary& d, std::string_view key);
std::optional<std::int32_t> intForKey(const Dictionary& d, std::string_view key);
std::optional<double> doubleForKey(const Dictionary& d, std::string_view key);
const std::string* stringForKey(const Dictionary& d, std::string_view key);
const Dictionary* dictionaryForKey(const Dictionary& d, std::string_view key);
const Array* arrayForKey(const Dictionary& d, std::string_view key);
std::optional<Date> dateForKey(const Dictionary& d, std::string_view key);
const Bytes* dataForKey(const Dictionary& d, std::string_view key);

}  // namespace foundation
