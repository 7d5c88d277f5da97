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

std::optional<Error> Error::underlyingError() const {
  auto it = userInfo.find(kUnderlyingErrorKey);
  if (it == userInfo.end()) return std::nullopt;
  return errorFromValue(it->second);
}

Value errorValue(const Error& error) {
  return Dictionary{{"domain", error.domain}, {"code", error.code}, {"userInfo", error.userInfo}};
}

std::optional<Error> errorFromValue(const Value& value) {
  const Dictionary* d = value.asDictionary();
  if (!d) return std::nullopt;
  const std::string* domain = stringForKey(*d, "domain");
  const Value* code = value.get("code");
  if (!domain || !code || !code->asInteger()) return std::nullopt;
  Error error{*domain, static_cast<long>(*code->asInteger()), {}};
  if (const Value* info = value.get("userInfo")) {
    if (!info->asDictionary()) return std::nullopt;
    error.userInfo = *info->asDictionary();
  }
  return error;
}

}  // namespace foundation
