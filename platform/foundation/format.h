#pragma once
// Printf-style formatting with the platform's object specifier: "%@" inserts the text of
// its argument (a string, or a value's description); the other specifiers ("%d", "%ld",
// "%lu", "%qu", "%tu", "%f", "%.0f", "%s", "%p", "%x"...) behave as in printf, whatever
// C++ integer type is passed for them. A missing argument formats as nothing; "%%" is "%".

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/foundation/value.h"

namespace foundation {

// Text of a value as the platform's "description" gives it: strings as they are, numbers
// in decimal, collections in the old-style property-list form.
std::string description(const Value& value);

class FormatArg {
 public:
  template <class T>
    requires(std::is_integral_v<T> && std::is_signed_v<T> && !std::is_same_v<T, bool>)
  FormatArg(T v) : v_(static_cast<std::int64_t>(v)) {}
  template <class T>
    requires(std::is_integral_v<T> && std::is_unsigned_v<T> && !std::is_same_v<T, bool>)
  FormatArg(T v) : v_(static_cast<std::uint64_t>(v)) {}
  FormatArg(bool v) : v_(static_cast<std::int64_t>(v)) {}
  FormatArg(double v) : v_(v) {}
  FormatArg(float v) : v_(static_cast<double>(v)) {}
  FormatArg(const char* v) : v_(std::string(v ? v : "(null)")) {}
  FormatArg(std::string v) : v_(std::move(v)) {}
  FormatArg(std::string_view v) : v_(std::string(v)) {}
  FormatArg(const void* v) : v_(v) {}
  FormatArg(const Value& v) : v_(description(v)) {}

  std::string format(std::string_view spec, char conversion) const;

 private:
  std::variant<std::int64_t, std::uint64_t, double, std::string, const void*> v_;
};

std::string stringWithFormatArgs(std::string_view format, const std::vector<FormatArg>& args);

template <class... Args>
std::string stringWithFormat(std::string_view format, Args&&... args) {
  return stringWithFormatArgs(format, std::vector<FormatArg>{FormatArg(std::forward<Args>(args))...});
}

}  // namespace foundation
