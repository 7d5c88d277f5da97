#pragma once
// The one public error of the ad component. Every failure that reaches a host's delegate
// is a QMARequestError: the domain "com.quillon.ads", a code, and a user-info dictionary
// holding the message (the code's default one unless the caller gives its own), the
// underlying error, the HTTP status text, and for an invalid request the request's
// parameters. It is a foundation::Error with nothing of its own, so any part that carries
// platform errors carries it unchanged. Immutable once made; any thread.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/error.h"

class QMARequest;

inline constexpr const char* kQMAErrorDomain = "com.quillon.ads";
// The user-info key of the HTTP status text.
inline constexpr const char* kQMAHTTPStatusKey = "HttpStatus";

enum QMARequestErrorCode : long {
  QMARequestErrorCodeInvalidRequest = 0,
  QMARequestErrorCodeNoAd = 1,
  QMARequestErrorCodeNetworkError = 2,
  QMARequestErrorCodeServerError = 3,
  QMARequestErrorCodeOSVersionTooLow = 4,
  QMARequestErrorCodeTimeout = 5,
  QMARequestErrorCodeInterstitialAlreadyUsed = 6,
  QMARequestErrorCodeInvalidMediationResponse = 7,
  QMARequestErrorCodeNoAdapter = 8,
  QMARequestErrorCodeNoAdFromAnyNetwork = 9,
  QMARequestErrorCodeIncompatibleAdType = 10,
  QMARequestErrorCodeInternalError = 11,
  QMARequestErrorCodeInvalidArgument = 12,
  QMARequestErrorCodeInvalidResponse = 13,
};

class QMARequestError : public foundation::Error {
 public:
  // The designated initialiser. Any code is kept; one outside 0..13 takes code 0's
  // message. The request's parameters join the user info for code 0 only, and never in
  // place of the error's own keys. An HTTP status of 1 or more adds "HttpStatus".
  QMARequestError(long code, const std::shared_ptr<QMARequest>& request, long httpStatusCode,
                  const std::optional<std::string>& customMessage,
                  const std::optional<foundation::Error>& underlyingError);

  static QMARequestError errorWithCodeRequestHTTPStatusCodeCustomMessageUnderlyingError(
      long code, const std::shared_ptr<QMARequest>& request, long httpStatusCode,
      const std::optional<std::string>& customMessage, const std::optional<foundation::Error>& underlyingError) {
    return QMARequestError(code, request, httpStatusCode, customMessage, underlyingError);
  }
  static QMARequestError errorWithCodeRequestHTTPStatusCodeCustomMessage(
      long code, const std::shared_ptr<QMARequest>& request, long httpStatusCode,
      const std::optional<std::string>& customMessage) {
    return QMARequestError(code, request, httpStatusCode, customMessage, std::nullopt);
  }
  static QMARequestError errorWithCodeRequestHTTPStatusCode(long code, const std::shared_ptr<QMARequest>& request,
                                                            long httpStatusCode) {
    return QMARequestError(code, request, httpStatusCode, std::nullopt, std::nullopt);
  }
  static QMARequestError errorWithCodeRequest(long code, const std::shared_ptr<QMARequest>& request) {
    return QMARequestError(code, request, 0, std::nullopt, std::nullopt);
  }
  static QMARequestError errorWithCodeCustomMessage(long code, const std::optional<std::string>& customMessage) {
    return QMARequestError(code, nullptr, 0, customMessage, std::nullopt);
  }
  static QMARequestError errorWithCode(long code) {
    return QMARequestError(code, nullptr, 0, std::nullopt, std::nullopt);
  }
  // The underlying error's description becomes the message, and the error is recorded.
  static QMARequestError errorWithCodeUnderlyingError(long code, const std::optional<foundation::Error>& underlying);
  // The platform initialiser: a plain error of the three becomes the underlying error of
  // an internal error (code 11), so the given domain and code survive only inside it.
  static QMARequestError initWithDomainCodeUserInfo(const std::string& domain, long code,
                                                    const foundation::Dictionary& userInfo);

  // A plain platform error with the same domain, code and user info.
  foundation::Error error() const { return foundation::Error{domain, code, userInfo}; }

  // The code's default message ("Request Error: ..."); code 0's outside the table.
  static std::string defaultMessageForCode(long code);
  // The OS-minimum message of code 4 for a system version.
  static std::string OSMinimumMessageForVersion(const std::string& systemVersion);
};
