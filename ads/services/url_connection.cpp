#include "ads/services/url_connection.h"

#include <cctype>
#include <cstdlib>

#include "ads/services/url_utilities.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/device_path.h"
#include "platform/foundation/format.h"
#include "platform/crypto/md5.h"
#include "platform/net/http_date.h"
#include "platform/unicode/charset.h"

namespace {

constexpr const char* kRequestErrorDomain = "com.quillon.ads";
constexpr long kRequestErrorNetworkError = 2;

// The public request error of the component, as it is made from a code and a message.
foundation::Error requestError(long code, const std::string& message) {
  return {kRequestErrorDomain,
          code,
          {{foundation::kLocalizedDescriptionKey, message}, {foundation::kLocalizedFailureReasonErrorKey, message}}};
}

// Whether an answer of this Content-Type is text (an untyped one counts as text).
bool isTextType(std::string contentType) {
  contentType = contentType.substr(0, contentType.find(';'));
  for (auto& c : contentType) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!contentType.empty() && contentType.back() == ' ') contentType.pop_back();
  while (!contentType.empty() && contentType.front() == ' ') contentType.erase(0, 1);
  auto endsWith = [&](std::string_view tail) {
    return contentType.size() >= tail.size() && contentType.compare(contentType.size() - tail.size(), tail.size(), tail) == 0;
  };
  return contentType.empty() || contentType.rfind("text/", 0) == 0 || endsWith("/json") || endsWith("+json") ||
         endsWith("/xml") || endsWith("+xml") || endsWith("/javascript") || endsWith("/ecmascript");
}

// The answer's text. UTF-8 unless the answer declares another charset (by its
// Content-Type, its own <meta> or a byte order mark), and then UTF-8 strictly: bytes that
// are not UTF-8 give no text, so binary bytes served untyped are no ad. A declared charset
// other than UTF-8 is read as a browser reads it, bytes not valid there becoming
// replacement characters. An answer typed as something other than text (a picture,
// octet-stream) has text only when its bytes are UTF-8.
std::optional<std::string> documentText(const foundation::Bytes& data, const net::URLResponsePtr& response) {
  const std::string contentType = response ? response->headers.get("Content-Type").value_or("") : std::string();
  const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
  if (!isTextType(contentType)) {
    if (!net::isValidUTF8(bytes)) return std::nullopt;
    return std::string(bytes);
  }
  const std::string charset = unicode::documentCharset(bytes, contentType);
  if ((charset.empty() || charset == "UTF-8") && !net::isValidUTF8(bytes)) return std::nullopt;
  return unicode::decodeDocument(bytes, contentType);
}

foundation::Date currentDate() { return foundation::Date{foundation::Clock::now()}; }

// Reads an integer the way a scanner does: leading white space, an optional sign, digits.
std::optional<long long> scanInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i == digits) return std::nullopt;
  std::string number(text.substr(start, i - start));
  long long value = std::strtoll(number.c_str(), nullptr, 10);
  return value;
}

}  // namespace

// ---- cache entries and the memory cache

std::shared_ptr<QMACachedURLResponse> QMACachedURLResponse::initWithResponseDataExpirationDateDestinationURL(
    net::URLResponsePtr response, std::optional<foundation::Bytes> data, std::optional<foundation::Date> expirationDate,
    std::optional<net::URL> destinationURL) {
  if (!response || !data || !expirationDate) return nullptr;
  std::shared_ptr<QMACachedURLResponse> entry(new QMACachedURLResponse());
  entry->response_ = std::move(response);
  entry->data_ = std::move(*data);
  entry->expirationDate_ = *expirationDate;
  entry->destinationURL_ = std::move(destinationURL);
  return entry;
}

std::shared_ptr<QMACachedURLResponse> QMAMemoryCache::objectForKey(const foundation::Bytes& key) {
  std::lock_guard lock(mu_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return nullptr;
  it->second.lastUse = ++clock_;
  return it->second.object;
}

void QMAMemoryCache::setObjectForKey(std::shared_ptr<QMACachedURLResponse> object, const foundation::Bytes& key) {
  if (!object) return;
  std::lock_guard lock(mu_);
  entries_[key] = Entry{std::move(object), ++clock_};
  while (countLimit_ > 0 && entries_.size() > countLimit_) {
    auto oldest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
      if (it->second.lastUse < oldest->second.lastUse) oldest = it;
    entries_.erase(oldest);
  }
}

void QMAMemoryCache::removeObjectForKey(const foundation::Bytes& key) {
  std::lock_guard lock(mu_);
  entries_.erase(key);
}

void QMAMemoryCache::removeAllObjects() {
  std::lock_guard lock(mu_);
  entries_.clear();
}

std::size_t QMAMemoryCache::count() const {
  std::lock_guard lock(mu_);
  return entries_.size();
}

// ---- the connection

std::shared_ptr<QMAURLConnection> QMAURLConnection::create() {
  return std::shared_ptr<QMAURLConnection>(new QMAURLConnection());
}

QMAURLConnection::~QMAURLConnection() { stop(); }

QMAMemoryCache& QMAURLConnection::memoryCache() {
  static QMAMemoryCache* cache = new QMAMemoryCache(25);
  return *cache;
}

foundation::Bytes QMAURLConnection::cacheKeyForURL(const net::URL& url) {
  std::string text;
  if (auto slotname = qma_parameterValueForKey(url, "slotname")) {
    text = url.host().value_or("") + url.path() + *slotname;
  } else {
    text = url.absoluteString();
  }
  auto digest = crypto::md5(text);
  return foundation::Bytes(digest.begin(), digest.end());
}

void QMAURLConnection::clearCache() { memoryCache().removeAllObjects(); }

std::string QMAURLConnection::defaultCachePath() { return foundation::cachesDirectory() + "/Pelmark"; }

std::shared_ptr<QMACachedURLResponse> QMAURLConnection::cachedResponseForURL(const net::URL& url) {
  auto key = cacheKeyForURL(url);
  auto entry = memoryCache().objectForKey(key);
  if (!entry) return nullptr;
  if (entry->expirationDate() > currentDate()) return entry;
  memoryCache().removeObjectForKey(key);
  return nullptr;
}

bool QMAURLConnection::tryToStoreResponseAndData() {
  if (!response_ || !response_->isHTTP || !sourceURL_) return false;
  auto expiry = qma_expirationDate(*response_);
  if (!expiry || *expiry < currentDate()) return false;
  auto entry = QMACachedURLResponse::initWithResponseDataExpirationDateDestinationURL(response_, receivedData_, expiry,
                                                                                      destinationURL_);
  if (!entry) return false;
  memoryCache().setObjectForKey(entry, cacheKeyForURL(*sourceURL_));
  return true;
}

bool QMAURLConnection::answerFromCache(const std::shared_ptr<QMAURLConnectionDelegate>& delegate) {
  if (!sourceURL_) return false;
  auto entry = cachedResponseForURL(*sourceURL_);
  if (!entry) return false;
  if (delegate) {
    delegate->connectionLoadDidReceiveCachedResponse(*this, entry->response());
    delegate->connectionLoadDidFinishBaseURL(*this, documentText(entry->data(), entry->response()),
                                             entry->destinationURL());
  }
  return true;
}

bool QMAURLConnection::startWithRequestURLDelegateError(const net::URLRequest& request,
                                                        std::weak_ptr<QMAURLConnectionDelegate> delegate,
                                                        foundation::Error* error) {
  if (isInProgress_) {
    if (error) {
      *error = requestError(kRequestErrorNetworkError,
                            foundation::stringWithFormat("Ignoring -- Currently loading %@",
                                                         sourceURL_ ? sourceURL_->absoluteString() : std::string()));
    }
    return false;
  }
  auto self = shared_from_this();
  delegate_ = std::move(delegate);
  sourceURL_ = request.url;
  destinationURL_ = request.url;

  if (allowCache_ && answerFromCache(delegate_.lock())) return true;

  connection_ = net::URLConnection::create(request, weak_from_this(), net::deliverOnRunLoop(dispatch::RunLoop::main()));
  if (!connection_) {
    // Nothing is loading: the object stays free for the next start.
    stop();
    if (auto d = delegate_.lock()) d->connectionLoadDidFailHttpStatusCode(*this, std::nullopt, -1);
    if (error) {
      *error = requestError(kRequestErrorNetworkError,
                            foundation::stringWithFormat("Cannot load %@", request.url.absoluteString()));
    }
    return false;
  }
  receivedData_ = foundation::Bytes{};
  isInProgress_ = true;
  connection_->start();
  return true;
}

void QMAURLConnection::stop() {
  if (connection_) connection_->cancel();
  connection_.reset();
  sourceURL_.reset();
  destinationURL_.reset();
  response_.reset();
  receivedData_.reset();
  isInProgress_ = false;
}

void QMAURLConnection::cancel() {
  delegate_.reset();
  stop();
}

std::optional<net::URLRequest> QMAURLConnection::connectionWillSendRequest(net::URLConnection&,
                                                                           const net::URLRequest& request,
                                                                           const net::URLResponsePtr& redirectResponse) {
  if (!redirectResponse) return request;
  auto self = shared_from_this();
  auto delegate = delegate_.lock();
  auto veto = delegate ? delegate->connectionShouldRedirectToURL(*this, request.url) : std::nullopt;
  if (veto) {
    stop();
    delegate->connectionLoadDidFailHttpStatusCode(*this, veto, -1);
  }
  destinationURL_ = request.url;
  if (delegate) delegate->connectionLoadDidReceiveRedirectResponse(*this, redirectResponse);
  return request;  // a stopped connection sends nothing more
}

void QMAURLConnection::connectionDidReceiveResponse(net::URLConnection&, const net::URLResponsePtr& response) {
  auto self = shared_from_this();
  response_ = response;
  receivedData_ = foundation::Bytes{};
  auto delegate = delegate_.lock();
  if (!delegate || !delegate->connectionLoadShouldUseCachedResponse(*this, response)) return;
  allowCache_ = true;
  if (isInProgress_ && answerFromCache(delegate)) stop();  // the network body is not needed
}

void QMAURLConnection::connectionDidReceiveData(net::URLConnection&, const foundation::Bytes& data) {
  if (receivedData_) receivedData_->insert(receivedData_->end(), data.begin(), data.end());
}

void QMAURLConnection::connectionDidFinishLoading(net::URLConnection&) {
  auto self = shared_from_this();
  if (allowCache_) tryToStoreResponseAndData();
  if (auto delegate = delegate_.lock()) {
    delegate->connectionLoadDidFinishBaseURL(*this, documentText(receivedData_.value_or(foundation::Bytes{}), response_),
                                             destinationURL_);
  }
  stop();
}

void QMAURLConnection::connectionDidFailWithError(net::URLConnection&, const foundation::Error& error) {
  auto self = shared_from_this();
  long status = response_ && response_->isHTTP ? response_->statusCode : -1;
  if (auto delegate = delegate_.lock()) delegate->connectionLoadDidFailHttpStatusCode(*this, error, status);
  stop();
}

// ---- expiry from the response headers

std::optional<foundation::Date> qma_dateFromHttpDateString(std::string_view text) {
  auto seconds = net::parseHTTPDate(text, foundation::Clock::now());
  if (!seconds) return std::nullopt;
  return foundation::Date{*seconds};
}

std::optional<foundation::Date> qma_expirationDate(const net::URLResponse& response) {
  const auto& headers = response.headers;
  if (headers.get("Pragma") == "no-cache") return std::nullopt;

  // A "Date" the server wrote unreadably counts as absent: the local clock stands in.
  foundation::Date base = currentDate();
  if (auto date = headers.get("Date")) {
    if (auto parsed = qma_dateFromHttpDateString(*date)) base = *parsed;
  }
  if (auto control = headers.get("Cache-Control")) {
    if (control->find("no-store") != std::string::npos) return std::nullopt;
    if (auto at = control->find("max-age="); at != std::string::npos) {
      if (auto maxAge = scanInteger(std::string_view(*control).substr(at + 8))) {
        if (*maxAge < 1) return std::nullopt;
        return base.dateByAddingTimeInterval(static_cast<double>(*maxAge));
      }
    }
  }
  auto expires = headers.get("Expires");
  if (!expires) return std::nullopt;
  auto expiresDate = qma_dateFromHttpDateString(*expires);
  if (!expiresDate) return std::nullopt;
  double lifetime = expiresDate->timeIntervalSinceDate(base);
  if (lifetime <= 0) return std::nullopt;
  return currentDate().dateByAddingTimeInterval(lifetime);
}
