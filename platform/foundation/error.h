#pragma once
// The platform's error object: a domain, a code and a user-info dictionary.

#include <optional>
#include <string>

#include "platform/foundation/value.h"

namespace foundation {

inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";

struct Error {
  std::string domain;
  long code = 0;
  Dictionary userInfo;

  // The user info's description, or a generic text made from the domain and code.
  std::string localizedDescription() const;
  std::optional<std::string> localizedFailureReason() const;

  friend bool operator==(const Error&, const Error&) = default;
};

}  // namespace foundation
