#include "platform/foundation/error.h"

namespace foundation {

std::string Error::localizedDescription() const {
  if (const std::string* s = stringForKey(userInfo, kLocalizedDescriptionKey)) return *s;
  return "The operation couldn't be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

std::optional<std::string> Error::localizedFailureReason() const {
  if (const std::string* s = stringForKey(userInfo, kLocalizedFailureReasonErrorKey)) return *s;
  return std::nullopt;
}

}  // namespace foundation
