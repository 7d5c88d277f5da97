#pragma once
// One HTTP load at a time for a delegate (the ad fetcher), with a veto on each redirect,
// and a small process-wide memory cache of responses whose headers allow caching. The
// delegate decides, once it has seen a response, whether the cache may answer and store.
// Loads start on the main thread and report on the main run loop.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/net/connection.h"

class QMAURLConnection;

// One cache entry: a response, its body, when it goes stale and the URL its body came from.
class QMACachedURLResponse {
 public:
  // Null when the response, the data or the expiration date is missing.
  static std::shared_ptr<QMACachedURLResponse> initWithResponseDataExpirationDateDestinationURL(
      net::URLResponsePtr response, std::optional<foundation::Bytes> data,
      std::optional<foundation::Date> expirationDate, std::optional<net::URL> destinationURL);

  const net::URLResponsePtr& response() const { return response_; }
  const foundation::Bytes& data() const { return data_; }
  foundation::Date expirationDate() const { return expirationDate_; }
  const std::optional<net::URL>& destinationURL() const { return destinationURL_; }

 private:
  QMACachedURLResponse() = default;
  net::URLResponsePtr response_;
  foundation::Bytes data_;
  foundation::Date expirationDate_;
  std::optional<net::URL> destinationURL_;
};

class QMAURLConnectionDelegate {
 public:
  virtual ~QMAURLConnectionDelegate() = default;
  // An error stops the load; nullopt follows the redirect.
  virtual std::optional<foundation::Error> connectionShouldRedirectToURL(QMAURLConnection& connection,
                                                                         const net::URL& url) = 0;
  virtual void connectionLoadDidReceiveRedirectResponse(QMAURLConnection& connection,
                                                        const net::URLResponsePtr& response) = 0;
  // Whether the cache may answer and store for this connection.
  virtual bool connectionLoadShouldUseCachedResponse(QMAURLConnection& connection,
                                                     const net::URLResponsePtr& response) = 0;
  virtual void connectionLoadDidReceiveCachedResponse(QMAURLConnection& connection,
                                                      const net::URLResponsePtr& response) = 0;
  // The body as UTF-8 text (nullopt when it is not UTF-8) and the URL it came from.
  virtual void connectionLoadDidFinishBaseURL(QMAURLConnection& connection, const std::optional<std::string>& body,
                                              const std::optional<net::URL>& baseURL) = 0;
  // The HTTP status of the last response, or -1 without one.
  virtual void connectionLoadDidFailHttpStatusCode(QMAURLConnection& connection,
                                                   const std::optional<foundation::Error>& error,
                                                   long httpStatusCode) = 0;
};

// The process-wide memory cache: at most 25 entries, the least recently used going
// first. Safe from any thread.
class QMAMemoryCache {
 public:
  explicit QMAMemoryCache(std::size_t countLimit) : countLimit_(countLimit) {}
  std::shared_ptr<QMACachedURLResponse> objectForKey(const foundation::Bytes& key);
  void setObjectForKey(std::shared_ptr<QMACachedURLResponse> object, const foundation::Bytes& key);
  void removeObjectForKey(const foundation::Bytes& key);
  void removeAllObjects();
  std::size_t count() const;
  std::size_t countLimit() const { return countLimit_; }

 private:
  struct Entry {
    std::shared_ptr<QMACachedURLResponse> object;
    std::uint64_t lastUse;
  };
  mutable std::mutex mu_;
  std::map<foundation::Bytes, Entry> entries_;
  std::uint64_t clock_ = 0;
  std::size_t countLimit_;
};

class QMAURLConnection : public net::URLConnectionDelegate, public std::enable_shared_from_this<QMAURLConnection> {
 public:
  static std::shared_ptr<QMAURLConnection> create();
  ~QMAURLConnection() override;

  // Starts one load (main thread). NO while a load runs (with a code 2 error "Ignoring --
  // Currently loading <source URL>"), and NO when no connection can be made for the
  // request (the delegate hears the failure first). A fresh cached answer, when the
  // cache is allowed, is delivered at once and answers YES without a load.
  bool startWithRequestURLDelegateError(const net::URLRequest& request,
                                        std::weak_ptr<QMAURLConnectionDelegate> delegate,
                                        foundation::Error* error = nullptr);
  // Ends the running load silently; the delegate stays.
  void stop();
  // Drops the delegate, then stops.
  void cancel();

  std::shared_ptr<QMACachedURLResponse> cachedResponseForURL(const net::URL& url);
  bool tryToStoreResponseAndData();

  static QMAMemoryCache& memoryCache();
  // MD5 of host, path and "slotname" value when the URL has that parameter, else of the
  // whole URL text.
  static foundation::Bytes cacheKeyForURL(const net::URL& url);
  static void clearCache();
  static std::string defaultCachePath();

  bool isInProgress() const { return isInProgress_; }
  bool allowCache() const { return allowCache_; }
  const std::optional<net::URL>& sourceURL() const { return sourceURL_; }
  const std::optional<net::URL>& destinationURL() const { return destinationURL_; }
  std::shared_ptr<QMAURLConnectionDelegate> delegate() const { return delegate_.lock(); }
  const std::shared_ptr<net::URLConnection>& connection() const { return connection_; }
  const net::URLResponsePtr& response() const { return response_; }
  const std::optional<foundation::Bytes>& receivedData() const { return receivedData_; }

  // The platform connection's reports.
  std::optional<net::URLRequest> connectionWillSendRequest(net::URLConnection&, const net::URLRequest& request,
                                                           const net::URLResponsePtr& redirectResponse) override;
  void connectionDidReceiveResponse(net::URLConnection&, const net::URLResponsePtr& response) override;
  void connectionDidReceiveData(net::URLConnection&, const foundation::Bytes& data) override;
  void connectionDidFinishLoading(net::URLConnection&) override;
  void connectionDidFailWithError(net::URLConnection&, const foundation::Error& error) override;

 private:
  QMAURLConnection() = default;
  // Sends the cached entry's response and body; answers whether there was a fresh one.
  bool answerFromCache(const std::shared_ptr<QMAURLConnectionDelegate>& delegate);

  bool isInProgress_ = false;
  bool allowCache_ = false;
  std::optional<net::URL> sourceURL_;
  std::optional<net::URL> destinationURL_;
  std::weak_ptr<QMAURLConnectionDelegate> delegate_;
  std::shared_ptr<net::URLConnection> connection_;
  net::URLResponsePtr response_;
  std::optional<foundation::Bytes> receivedData_;
};

// Cache expiry of a response from its "Pragma", "Date", "Cache-Control" and "Expires"
// fields; nullopt when it may not be cached.
std::optional<foundation::Date> qma_expirationDate(const net::URLResponse& response);
// An HTTP date in any of its three forms.
std::optional<foundation::Date> qma_dateFromHttpDateString(std::string_view text);
