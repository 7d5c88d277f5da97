#include "ads/model/request_error.h"

#include <mutex>

#include "ads/model/request.h"
#include "ads/services/device.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/format.h"
#include "platform/net/http_status.h"
#include "platform/system/device_facts.h"

using foundation::Dictionary;

namespace {

constexpr const char* kMessages[] = {
    "Request Error: Invalid ad request parameter(s). Check the Xcode console for details.",
    "Request Error: No ad to show.",
    "Request Error: A network error occurred.",
    "Request Error: Server error processing the request.",
    nullptr,  // the OS-minimum message, built from the device
    "Request Error: The Quillon Ad request was unable to be fulfilled before a timeout occurred.",
    "Request Error: Will not send request because interstitial object has been used.",
    "Request Error: The mediation response was invalid.",
    "Request Error: Cannot find an ad network adapter for mediation.",
    "Request Error: No ad to show from all configured ad networks.",
    "Request Error: Incompatible ad type requested.",
    "Request Error: Internal error.",
    "Request Error: Invalid argument.",
    "Request Error: Received invalid response.",
};

// The OS-minimum message, built once the system version is known and then kept.
std::optional<std::string> OSMinimumMessage() {
  static std::mutex* mu = new std::mutex();
  static std::optional<std::string>* kept = new std::optional<std::string>();
  std::lock_guard lock(*mu);
  if (*kept) return *kept;
  // The device facts are cached on the main thread; elsewhere, and before the early
  // activities cache them, the platform knows the version.
  std::optional<std::string> version;
  if (dispatch::isMainThread()) version = QMADevice::sharedInstance()->systemVersion();
  if (!version || version->empty()) version = system_facts::device().systemVersion;
  if (!version || version->empty()) return std::nullopt;
  *kept = QMARequestError::OSMinimumMessageForVersion(*version);
  return *kept;
}

bool isOwnKey(const std::string& key) {
  return key == foundation::kLocalizedDescriptionKey || key == foundation::kLocalizedFailureReasonErrorKey ||
         key == foundation::kUnderlyingErrorKey || key == kQMAHTTPStatusKey;
}

}  // namespace

std::string QMARequestError::OSMinimumMessageForVersion(const std::string& systemVersion) {
  return foundation::stringWithFormat("Request Error: This device's OS is %@. It is below the minimum of %ld.%ld.",
                                      systemVersion, 6L, 0L);
}

std::string QMARequestError::defaultMessageForCode(long code) {
  if (code == QMARequestErrorCodeOSVersionTooLow) return OSMinimumMessage().value_or(kMessages[0]);
  if (code < 0 || code > QMARequestErrorCodeInvalidResponse) return kMessages[0];
  return kMessages[code];
}

QMARequestError::QMARequestError(long errorCode, const std::shared_ptr<QMARequest>& request, long httpStatusCode,
                                 const std::optional<std::string>& customMessage,
                                 const std::optional<foundation::Error>& underlyingError) {
  Dictionary info;
  // The request's parameters first: hosts choose their names, so none of them may stand
  // in for the message, the underlying error or the status that this error reports.
  if (errorCode == QMARequestErrorCodeInvalidRequest && request) {
    for (auto& [key, value] : request->parameters())
      if (!isOwnKey(key)) info[key] = std::move(value);
  }
  std::string message = customMessage ? *customMessage : defaultMessageForCode(errorCode);
  info[foundation::kLocalizedDescriptionKey] = message;
  info[foundation::kLocalizedFailureReasonErrorKey] = message;
  if (underlyingError) info[foundation::kUnderlyingErrorKey] = foundation::errorValue(*underlyingError);
  if (httpStatusCode >= 1) {
    info[kQMAHTTPStatusKey] = foundation::stringWithFormat("HTTP status %ld: %@", httpStatusCode,
                                                           net::localizedStringForStatusCode(httpStatusCode));
  }
  domain = kQMAErrorDomain;
  code = errorCode;
  userInfo = std::move(info);
}

QMARequestError QMARequestError::errorWithCodeUnderlyingError(long code,
                                                              const std::optional<foundation::Error>& underlying) {
  std::optional<std::string> message;
  if (underlying) message = underlying->localizedDescription();
  return QMARequestError(code, nullptr, 0, message, underlying);
}

QMARequestError QMARequestError::initWithDomainCodeUserInfo(const std::string& domain, long code,
                                                            const Dictionary& userInfo) {
  return QMARequestError(QMARequestErrorCodeInternalError, nullptr, 0, std::nullopt,
                         foundation::Error{domain, code, userInfo});
}
