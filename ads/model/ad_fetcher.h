#pragma once
// One HTTP fetch of one ad. The fetcher loads the ad's URL through QMAURLConnection, makes
// the body the ad's HTML, and turns the "x-qvra-" response headers into the ad's response
// type, tracking URLs, orientations, reload interval, size and the rest. A fetcher is used
// once; its delegate hears exactly one outcome: the fetched ad, or a request error with
// the HTTP status (0 when there was none).
//
// The response format: header names compare in lower case. The type rule, first match:
// "x-qvra-mediation" true -> 2 when "content-type" begins with "application/json", else
// invalid (request error 3); "x-qvra-ad-format" "native" -> 3;
// "x-qvra-custom-rendering-allowed" true -> 4; otherwise 1 (HTML). A response with an
// HTTP status of 400 or more is a failed fetch whatever its body.
//
// Main thread: fetches start there, every connection report arrives there, and the
// completion of a fetch with nothing to load runs on the main operation queue.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ads/model/ad.h"
#include "ads/model/request.h"
#include "ads/model/request_error.h"
#include "ads/services/timing.h"
#include "ads/services/url_connection.h"
#include "platform/foundation/value.h"
#include "platform/net/http.h"

class QMAAdFetcher;

class QMAAdFetcherDelegate {
 public:
  virtual ~QMAAdFetcherDelegate() = default;
  virtual void adFetcherDidFetchAd(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad) = 0;
  // `responseCode` is the HTTP status, 0 when the failure had none.
  virtual void adFetcherDidFailToFetchAdWithErrorResponseCode(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad,
                                                              const std::optional<QMARequestError>& error,
                                                              std::uint64_t responseCode) = 0;
};

// Where bearer tokens come from: the shared token dispenser unless another is installed.
class QMAAdFetcherTokenSource {
 public:
  virtual ~QMAAdFetcherTokenSource() = default;
  // The signed-in user's access token, if there is one now.
  virtual std::optional<std::string> token() = 0;
  // The ad server called the token stale.
  virtual void refreshToken(const std::string& token) = 0;
  static std::shared_ptr<QMAAdFetcherTokenSource> sharedTokenDispenser();
};

// What one set of response headers says, read without acting on it. Values that are not
// text count as absent (the three Boolean headers also take Boolean and number values).
struct QMAResponseHeaderReading {
  // The headers with every name in lower case.
  foundation::Dictionary headers;
  std::uint64_t responseType = QMAAdResponseTypeHTML;
  std::optional<std::vector<net::URL>> clickURLs;
  std::optional<std::vector<net::URL>> impressionURLs;
  std::optional<std::vector<net::URL>> manualImpressionURLs;
  // "x-qvra-content-url-opted-out" is exactly "false": content hashing runs.
  bool contentHashingWanted = false;
  std::optional<foundation::Dictionary> vistraceConfigurations;
  std::optional<std::uint64_t> supportedOrientations;
  std::optional<double> reloadInterval;
  std::optional<std::string> debugDialog;
  std::optional<std::string> customAdSizeString;
  bool scrollEnabled = true;
  std::optional<bool> useHTTPS;
  bool clearOAuthToken = false;
  std::optional<foundation::Dictionary> swipeConfigurations;
};
QMAResponseHeaderReading QMAReadResponseHeaders(const foundation::Dictionary& headers);
// A response's header fields as a dictionary (a repeated field is one joined value).
foundation::Dictionary QMAHeaderDictionary(const net::HTTPHeaders& headers);

class QMAAdFetcher : public QMAURLConnectionDelegate, public std::enable_shared_from_this<QMAAdFetcher> {
 public:
  static constexpr const char* kUseHTTPSKey = "/quillon/ads/use_https";
  static constexpr const char* kWhitelistedDomainsKey = "/quillon/ads/whitelisted_ad_request_domains";

  static std::shared_ptr<QMAAdFetcher> init();
  ~QMAAdFetcher() override;

  // The slot's entry: loads the ad's URL unless the ad already has HTML. `headers` are
  // headers known before the fetch (a delivered or preset ad), processed like response
  // headers. NO with an error when the fetch cannot start.
  bool fetchRemainingContentForAdHeadersDelegateRequestError(const std::shared_ptr<QMAAd>& ad,
                                                             const std::optional<foundation::Dictionary>& headers,
                                                             std::weak_ptr<QMAAdFetcherDelegate> delegate,
                                                             const std::shared_ptr<QMARequest>& request,
                                                             foundation::Error* error);
  // A fetch for a fresh ad with no earlier headers.
  bool fetchRequestURLDelegateError(const std::optional<net::URLRequest>& request,
                                    std::weak_ptr<QMAAdFetcherDelegate> delegate, foundation::Error* error);
  // The one-shot start. A second start answers NO with request error 2.
  bool fetchRequestURLDelegateResponseHeadersResponseAdError(const std::optional<net::URLRequest>& request,
                                                             std::weak_ptr<QMAAdFetcherDelegate> delegate,
                                                             const std::optional<foundation::Dictionary>& headers,
                                                             const std::shared_ptr<QMAAd>& ad,
                                                             foundation::Error* error);
  // Drops the delegate and stops the connection.
  void cancel();

  // The hosts whose https ad requests carry the bearer token, read once per process from
  // the standard user defaults, else the ad network's own host.
  static const std::set<std::string>& whitelistedDomains();
  // The list a stored value gives: its non-empty string entries in lower case; a value
  // that is not an array gives the ad network's own host.
  static std::set<std::string> whitelistedDomainsFromStoredValue(const foundation::Value& stored);
  // {"Authorization": "Bearer <token>"} for an https URL of a listed host while there is
  // a token (kept in signedInAdsToken); otherwise nullopt.
  std::optional<net::HTTPHeaders> requestHeadersForURL(const net::URL& url);

  // Applies one set of headers to the ad (see QMAReadResponseHeaders); an invalid
  // response type fails the fetch at once, the other headers still apply.
  void processHTTPHeaders(const foundation::Dictionary& headers);
  std::uint64_t adResponseTypeFromHeadersRequestError(const foundation::Dictionary& headers,
                                                      std::optional<QMARequestError>* error);

  bool hasStartedFetch() const { return hasStartedFetch_; }
  bool hasNotifiedDelegate() const { return hasNotifiedDelegate_; }
  const std::optional<std::string>& signedInAdsToken() const { return signedInAdsToken_; }
  bool adConnectionHasCompleted() const { return adConnectionHasCompleted_; }
  const std::shared_ptr<QMAAd>& ad() const { return ad_; }
  const std::shared_ptr<QMARequest>& request() const { return request_; }
  void setRequest(std::shared_ptr<QMARequest> request) { request_ = std::move(request); }
  std::shared_ptr<QMAAdFetcherDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAAdFetcherDelegate> delegate) { delegate_ = std::move(delegate); }
  const std::shared_ptr<QMATiming>& timer() const { return timer_; }
  const std::shared_ptr<QMAURLConnection>& adConnection() const { return adConnection_; }
  void setTokenSource(std::shared_ptr<QMAAdFetcherTokenSource> source) { tokenSource_ = std::move(source); }

  // The connection's reports.
  std::optional<foundation::Error> connectionShouldRedirectToURL(QMAURLConnection& connection,
                                                                 const net::URL& url) override;
  void connectionLoadDidReceiveRedirectResponse(QMAURLConnection& connection,
                                                const net::URLResponsePtr& response) override;
  bool connectionLoadShouldUseCachedResponse(QMAURLConnection& connection,
                                             const net::URLResponsePtr& response) override;
  void connectionLoadDidReceiveCachedResponse(QMAURLConnection& connection,
                                              const net::URLResponsePtr& response) override;
  void connectionLoadDidFinishBaseURL(QMAURLConnection& connection, const std::optional<std::string>& body,
                                      const std::optional<net::URL>& baseURL) override;
  void connectionLoadDidFailHttpStatusCode(QMAURLConnection& connection, const std::optional<foundation::Error>& error,
                                           long httpStatusCode) override;

 private:
  QMAAdFetcher() = default;
  bool startFetchWithRequestURLResponseHeadersError(const std::optional<net::URLRequest>& request,
                                                    const std::optional<foundation::Dictionary>& headers,
                                                    foundation::Error* error);
  void processResponseHeaders(const net::URLResponsePtr& response, bool isFinal);
  void completedURLConnection();
  void resourceFailedToLoadWithErrorResponseCode(const QMARequestError& error, long httpStatusCode);
  void stopConnection();

  bool hasStartedFetch_ = false;
  bool hasNotifiedDelegate_ = false;
  std::optional<std::string> signedInAdsToken_;
  bool adConnectionHasCompleted_ = false;
  std::shared_ptr<QMAAd> ad_;
  std::shared_ptr<QMARequest> request_;
  std::weak_ptr<QMAAdFetcherDelegate> delegate_;
  std::shared_ptr<QMATiming> timer_;
  std::shared_ptr<QMAURLConnection> adConnection_;
  std::shared_ptr<QMAAdFetcherTokenSource> tokenSource_;
  // The status of the last final response (a redirect's does not count); 0 before one.
  long lastResponseStatus_ = 0;
};
