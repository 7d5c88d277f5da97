#pragma once
// The one HTTP load the SDK-core handler performs for its page ("fetchHttpRequest"). The
// ad component's ad fetcher (ads/slots) is the fetcher of record; this narrow interface is
// what the handler needs of it, and QMASDKCoreURLFetch fulfils it over platform/net with
// the same contract until the ad fetcher is linked in:
// - one report, on the main queue: success with the body and the response header fields
//   (names lower-cased), or failure with an error and the HTTP status code;
// - an empty body is a failure (request error 1, code 0), a status of 400 or more a
//   failure (request error 3, that status), a connection error a failure (that error,
//   status 0);
// - start answers false with an error (request error 2) when the load cannot start, after
//   having reported that failure already.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/net/connection.h"

struct QMASDKCoreFetchedAd {
  std::optional<std::string> adHTML;
  foundation::Dictionary responseHeaders;
};

class QMASDKCoreHTTPFetch;

class QMASDKCoreHTTPFetchDelegate {
 public:
  virtual ~QMASDKCoreHTTPFetchDelegate() = default;
  virtual void adFetcherDidFetchAd(QMASDKCoreHTTPFetch& fetcher, const QMASDKCoreFetchedAd& ad) = 0;
  virtual void adFetcherDidFailToFetchAdWithErrorResponseCode(QMASDKCoreHTTPFetch& fetcher,
                                                              const std::optional<QMASDKCoreFetchedAd>& ad,
                                                              const foundation::Error& error,
                                                              unsigned long responseCode) = 0;
};

class QMASDKCoreHTTPFetch {
 public:
  virtual ~QMASDKCoreHTTPFetch() = default;
  virtual bool fetchRequestURLDelegateError(const net::URLRequest& request,
                                            std::weak_ptr<QMASDKCoreHTTPFetchDelegate> delegate,
                                            foundation::Error* error) = 0;
  virtual void setDelegate(std::weak_ptr<QMASDKCoreHTTPFetchDelegate> delegate) = 0;
  virtual void cancel() = 0;
};

// Errors of the ad component's public domain "com.quillon.ads".
inline constexpr const char* kQMAErrorDomain = "com.quillon.ads";
foundation::Error QMARequestErrorWithCodeMessage(long code, const std::string& message);

class QMASDKCoreURLFetch : public QMASDKCoreHTTPFetch,
                           public net::URLConnectionDelegate,
                           public std::enable_shared_from_this<QMASDKCoreURLFetch> {
 public:
  static constexpr std::size_t kMaximumBodyBytes = 4u << 20;
  static std::shared_ptr<QMASDKCoreURLFetch> init() { return std::make_shared<QMASDKCoreURLFetch>(); }

  bool fetchRequestURLDelegateError(const net::URLRequest& request, std::weak_ptr<QMASDKCoreHTTPFetchDelegate> delegate,
                                    foundation::Error* error) override;
  void setDelegate(std::weak_ptr<QMASDKCoreHTTPFetchDelegate> delegate) override;
  void cancel() override;

  void connectionDidReceiveResponse(net::URLConnection&, const net::URLResponsePtr& response) override;
  void connectionDidReceiveData(net::URLConnection&, const net::Bytes& data) override;
  void connectionDidFinishLoading(net::URLConnection&) override;
  void connectionDidFailWithError(net::URLConnection&, const foundation::Error& error) override;

 private:
  void report(std::optional<QMASDKCoreFetchedAd> ad, std::optional<foundation::Error> error, unsigned long code);
  std::mutex mu_;
  std::weak_ptr<QMASDKCoreHTTPFetchDelegate> delegate_;
  std::shared_ptr<net::URLConnection> connection_;
  net::URLResponsePtr response_;
  net::Bytes body_;
  bool started_ = false;
  bool reported_ = false;
};
