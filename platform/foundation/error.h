#pragma once
// The platform's error object: a domain, a code and a user-info dictionary.

#include <optional>
#include <string>

#include "platform/foundation/value.h"

namespace foundation {

inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
// The error that caused this one, kept in the user info in the form errorValue() gives.
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";

struct Error {
  std::string domain;
  long code = 0;
  Dictionary userInfo;

  // The user info's description, or a generic text made from the domain and code.
  std::string localizedDescription() const;
  std::optional<std::string> localizedFailureReason() const;
  // The error under kUnderlyingErrorKey; nullopt when there is none or the entry is not
  // in error form.
  std::optional<Error> underlyingError() const;

  friend bool operator==(const Error&, const Error&) = default;
};

// An error as a user-info value, {"domain", "code", "userInfo"}, so that one error can
// carry another (and both survive a trip through a property list).
Value errorValue(const Error& error);
// Nullopt unless the value is a dictionary with a string "domain", an integer "code" and,
// when present, a dictionary "userInfo".
std::optional<Error> errorFromValue(const Value& value);

}  // namespace foundation
