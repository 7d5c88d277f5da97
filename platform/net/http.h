#pragma once
// Requests, responses, header fields and load errors.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/net/url.h"

namespace net {

using foundation::Bytes;

// Load errors are platform error objects in kErrorDomain.
using foundation::Error;
inline constexpr const char* kErrorDomain = "net.load";
enum ErrorCode : long {
  kErrorUnknown = -1,
  kErrorCancelled = -999,
  kErrorBadURL = -1000,
  kErrorTimedOut = -1001,
  kErrorUnsupportedURL = -1002,
  kErrorCannotFindHost = -1003,
  kErrorCannotConnectToHost = -1004,
  kErrorNetworkConnectionLost = -1005,
  kErrorTooManyRedirects = -1007,
  kErrorBadServerResponse = -1011,
  kErrorSecureConnectionFailed = -1200,
};
Error makeLoadError(long code, std::string description);

// Header fields in arrival order; names compare without regard to case.
class HTTPHeaders {
 public:
  using Field = std::pair<std::string, std::string>;
  HTTPHeaders() = default;
  HTTPHeaders(std::initializer_list<Field> fields);

  std::optional<std::string> get(std::string_view name) const;
  bool has(std::string_view name) const { return get(name).has_value(); }
  // Replaces every field of the name.
  void set(std::string_view name, std::string value);
  // A repeated field joins the earlier value with ", ", as one field.
  void add(std::string_view name, std::string_view value);
  void remove(std::string_view name);
  const std::vector<Field>& fields() const { return fields_; }
  bool empty() const { return fields_.empty(); }

 private:
  std::vector<Field> fields_;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Cache policies of a request. Nothing here keeps a disk cache: both load from the
// network; the value travels with the request for the caller's own use.
enum class CachePolicy : std::uint64_t { UseProtocolCachePolicy = 0, ReloadIgnoringLocalCacheData = 1 };

struct URLRequest {
  explicit URLRequest(URL u) : url(std::move(u)) {}
  URL url;
  std::string method = "GET";
  HTTPHeaders headers;
  std::optional<Bytes> body;
  double timeoutInterval = 60.0;  // seconds without any answer from the server
  CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy;
  bool handlesCookies = true;
};

struct URLResponse {
  URL url;
  bool isHTTP = true;
  int statusCode = 0;
  HTTPHeaders headers;
  std::string mimeType;
  std::int64_t expectedContentLength = -1;
};
using URLResponsePtr = std::shared_ptr<const URLResponse>;

}  // namespace net
