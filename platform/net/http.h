#pragma once
// Requests, responses, header fields and load errors.

#include <cstddef>
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
  kErrorDataLengthExceedsMaximum = -1103,
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
// The most body bytes a request takes unless it says otherwise: far more than any ad
// answer, page, script, configuration or report answer, and little enough that a server
// sending without end costs the process nothing it would miss.
inline constexpr std::size_t kDefaultMaxBodySize = std::size_t{8} << 20;

// Five minutes: a page, an answer or a picture takes seconds even on a slow network.
inline constexpr double kDefaultResourceTimeoutInterval = 300.0;

enum class CachePolicy : std::uint64_t { UseProtocolCachePolicy = 0, ReloadIgnoringLocalCacheData = 1 };

struct URLRequest {
  explicit URLRequest(URL u) : url(std::move(u)) {}
  URL url;
  std::string method = "GET";
  HTTPHeaders headers;
  std::optional<Bytes> body;
  double timeoutInterval = 60.0;  // seconds without any answer from the server
  // The longest the whole load may take, redirects included, however the server keeps it
  // busy (a byte now and then is no silence); it then fails as timed out.
  double resourceTimeoutInterval = kDefaultResourceTimeoutInterval;
  CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy;
  bool handlesCookies = true;
  // The most body bytes one answer may bring (each answer of a redirect chain alike),
  // counted as they arrive, after decoding. One more fails the load at once with
  // kErrorDataLengthExceedsMaximum and cuts the transfer; an announced Content-Length
  // over it fails before any of the body is read. URL protocols are held to it too.
  std::size_t maxBodySize = kDefaultMaxBodySize;
  // A page's request (a web view's resource): it takes its turn in the pages' line, at
  // most kPageConnectionsPerHost at once to one host and kPageConnectionsPerProcess in all,
  // the rest waiting in the order they came. Its silence is counted from when it goes
  // out; its whole load's time from when it was started. Other requests go out at once.
  bool waitsInPagesLine = false;
};

// The pages' line: what browsers allow one host, and far more than the pages of a
// process's ads need at once while a small share of its descriptors.
inline constexpr std::size_t kPageConnectionsPerHost = 6;
inline constexpr std::size_t kPageConnectionsPerProcess = 128;

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
