#include "ads/model/ad_fetcher.h"

#include <algorithm>
#include <cctype>

#include "ads/model/string_values.h"
#include "ads/services/content_hashing.h"
#include "ads/services/logging.h"
#include "ads/services/token_dispenser.h"
#include "ads/services/url_utilities.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/ad_network.h"

using foundation::Dictionary;
using foundation::Value;

namespace {

std::string lowercase(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

const std::string* textHeader(const Dictionary& headers, std::string_view name) {
  return foundation::stringForKey(headers, name);
}

// A Boolean header: text as the platform's string class reads it, or a Boolean or number.
std::optional<bool> boolHeader(const Dictionary& headers, std::string_view name) {
  auto it = headers.find(name);
  if (it == headers.end()) return std::nullopt;
  if (const std::string* s = it->second.asString()) return QMAStringBoolValue(*s);
  return it->second.boolValue();
}

std::optional<Dictionary> jsonDictionaryHeader(const Dictionary& headers, std::string_view name) {
  const std::string* text = textHeader(headers, name);
  if (!text) return std::nullopt;
  auto decoded = qma_decodedJSONObjectError(*text);
  if (!decoded || !decoded->asDictionary()) return std::nullopt;
  return *decoded->asDictionary();
}

std::optional<std::vector<net::URL>> urlListHeader(const Dictionary& headers, std::string_view name) {
  const std::string* text = textHeader(headers, name);
  if (!text) return std::nullopt;
  return QMAURLArrayFromWhitespaceSeparatedString(*text);
}

class DispenserTokenSource : public QMAAdFetcherTokenSource {
 public:
  std::optional<std::string> token() override { return QMATokenDispenser::sharedInstance()->token(); }
  void refreshToken(const std::string& token) override { QMATokenDispenser::sharedInstance()->refreshToken(token); }
};

}  // namespace

std::shared_ptr<QMAAdFetcherTokenSource> QMAAdFetcherTokenSource::sharedTokenDispenser() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* source = new std::shared_ptr<QMAAdFetcherTokenSource>(std::make_shared<DispenserTokenSource>());
  return *source;
}

// ---- reading headers

Dictionary QMAHeaderDictionary(const net::HTTPHeaders& headers) {
  Dictionary d;
  for (const auto& [name, value] : headers.fields()) d[name] = value;
  return d;
}

QMAResponseHeaderReading QMAReadResponseHeaders(const Dictionary& headers) {
  QMAResponseHeaderReading r;
  for (const auto& [name, value] : headers) r.headers[lowercase(name)] = value;
  const Dictionary& h = r.headers;

  if (boolHeader(h, "x-qvra-mediation").value_or(false)) {
    const std::string* type = textHeader(h, "content-type");
    r.responseType =
        type && type->starts_with("application/json") ? QMAAdResponseTypeMediation : QMAAdResponseTypeInvalid;
  } else if (const std::string* format = textHeader(h, "x-qvra-ad-format"); format && lowercase(*format) == "native") {
    r.responseType = QMAAdResponseTypeNative;
  } else if (boolHeader(h, "x-qvra-custom-rendering-allowed").value_or(false)) {
    r.responseType = QMAAdResponseTypeCustomRendering;
  } else {
    r.responseType = QMAAdResponseTypeHTML;
  }

  r.clickURLs = urlListHeader(h, "x-qvra-click-tracking-urls");
  r.impressionURLs = urlListHeader(h, "x-qvra-tracking-urls");
  r.manualImpressionURLs = urlListHeader(h, "x-qvra-manual-tracking-urls");
  const std::string* optedOut = textHeader(h, "x-qvra-content-url-opted-out");
  r.contentHashingWanted = optedOut && *optedOut == "false";
  r.vistraceConfigurations = jsonDictionaryHeader(h, "x-qvra-vistrace");
  if (const std::string* orientation = textHeader(h, "x-qvra-orientation")) {
    if (std::uint64_t mask = QMAInterfaceOrientationMaskFromString(*orientation)) r.supportedOrientations = mask;
  }
  if (const std::string* rate = textHeader(h, "x-qvra-refresh-rate"); rate && !rate->empty()) {
    if (auto seconds = QMAStringDoubleValue(*rate); seconds && *seconds >= 0) r.reloadInterval = *seconds;
  }
  if (const std::string* dialog = textHeader(h, "x-qvra-debug-dialog")) r.debugDialog = *dialog;
  if (const std::string* size = textHeader(h, "x-qvra-ad-size")) r.customAdSizeString = *size;
  if (auto disable = boolHeader(h, "x-qvra-disable-activation-and-scroll")) r.scrollEnabled = !*disable;
  r.useHTTPS = boolHeader(h, "x-qvra-use-https");
  const std::string* tokenStatus = textHeader(h, "x-qvra-oauth-token-status");
  r.clearOAuthToken = tokenStatus && lowercase(*tokenStatus) == "clear";
  if (auto swipe = jsonDictionaryHeader(h, "x-qvra-swipe-to-view-controller"); swipe && !swipe->empty())
    r.swipeConfigurations = std::move(swipe);
  return r;
}

// ---- the fetcher

std::shared_ptr<QMAAdFetcher> QMAAdFetcher::init() {
  std::shared_ptr<QMAAdFetcher> fetcher(new QMAAdFetcher());
  fetcher->adConnection_ = QMAURLConnection::create();
  fetcher->timer_ = QMATiming::initWithCategory(
      foundation::stringWithFormat("%@ (%p)", "QMAAdFetcher", static_cast<const void*>(fetcher.get())));
  fetcher->tokenSource_ = QMAAdFetcherTokenSource::sharedTokenDispenser();
  return fetcher;
}

QMAAdFetcher::~QMAAdFetcher() {
  delegate_.reset();
  stopConnection();
}

void QMAAdFetcher::stopConnection() {
  if (adConnection_) adConnection_->cancel();
  adConnectionHasCompleted_ = true;
}

void QMAAdFetcher::cancel() {
  WV_DCHECK_MAIN_THREAD();
  delegate_.reset();
  stopConnection();
}

bool QMAAdFetcher::fetchRemainingContentForAdHeadersDelegateRequestError(const std::shared_ptr<QMAAd>& ad,
                                                                         const std::optional<Dictionary>& headers,
                                                                         std::weak_ptr<QMAAdFetcherDelegate> delegate,
                                                                         const std::shared_ptr<QMARequest>& request,
                                                                         foundation::Error* error) {
  WV_DCHECK_MAIN_THREAD();
  request_ = request;
  std::shared_ptr<QMAAd> target = ad ? ad : QMAAd::init();
  std::optional<net::URLRequest> urlRequest;
  bool hasHTML = target->adHTML() && !target->adHTML()->empty();
  if (!hasHTML && target->adURL()) {
    urlRequest = qma_requestForURLDataHeadersType(target->adURL(), std::nullopt, requestHeadersForURL(*target->adURL()),
                                                  std::nullopt);
  }
  return fetchRequestURLDelegateResponseHeadersResponseAdError(urlRequest, std::move(delegate), headers, target, error);
}

bool QMAAdFetcher::fetchRequestURLDelegateError(const std::optional<net::URLRequest>& request,
                                                std::weak_ptr<QMAAdFetcherDelegate> delegate,
                                                foundation::Error* error) {
  WV_DCHECK_MAIN_THREAD();
  return fetchRequestURLDelegateResponseHeadersResponseAdError(request, std::move(delegate), std::nullopt,
                                                               QMAAd::init(), error);
}

bool QMAAdFetcher::fetchRequestURLDelegateResponseHeadersResponseAdError(const std::optional<net::URLRequest>& request,
                                                                         std::weak_ptr<QMAAdFetcherDelegate> delegate,
                                                                         const std::optional<Dictionary>& headers,
                                                                         const std::shared_ptr<QMAAd>& ad,
                                                                         foundation::Error* error) {
  WV_DCHECK_MAIN_THREAD();
  if (hasStartedFetch_) {
    if (error) {
      *error = QMARequestError::errorWithCodeRequestHTTPStatusCodeCustomMessage(
          QMARequestErrorCodeNetworkError, request_, 0,
          "Could not start fetch. This object has already been used to fetch.");
    }
    return false;
  }
  hasStartedFetch_ = true;
  timer_->start();
  delegate_ = std::move(delegate);
  ad_ = ad ? ad : QMAAd::init();
  return startFetchWithRequestURLResponseHeadersError(request, headers, error);
}

bool QMAAdFetcher::startFetchWithRequestURLResponseHeadersError(const std::optional<net::URLRequest>& request,
                                                                const std::optional<Dictionary>& headers,
                                                                foundation::Error* error) {
  auto self = shared_from_this();
  std::optional<foundation::Error> heldError;
  if (request) {
    foundation::Error connectionError;
    if (!adConnection_->startWithRequestURLDelegateError(*request, weak_from_this(), &connectionError)) {
      if (error) {
        *error = QMARequestError::errorWithCodeRequestHTTPStatusCodeCustomMessage(
            QMARequestErrorCodeNetworkError, request_, 0, "Failed to start ad connection.");
      }
      adConnectionHasCompleted_ = true;
      if (!connectionError.domain.empty()) heldError = connectionError;
    }
  } else {
    adConnectionHasCompleted_ = true;
  }

  ad_->setResponseType(QMAAdResponseTypeHTML);
  if (headers) processHTTPHeaders(*headers);

  if (heldError) {
    resourceFailedToLoadWithErrorResponseCode(
        QMARequestError::errorWithCodeRequestHTTPStatusCodeCustomMessage(QMARequestErrorCodeNetworkError, request_, 0,
                                                                         heldError->localizedDescription()),
        0);
    return false;
  }
  if (adConnectionHasCompleted_) {
    std::weak_ptr<QMAAdFetcher> weak = weak_from_this();
    dispatch::OperationQueue::mainQueue()->addOperationWithBlock([weak] {
      if (auto fetcher = weak.lock()) fetcher->completedURLConnection();
    });
  }
  return true;
}

void QMAAdFetcher::completedURLConnection() {
  WV_DCHECK_MAIN_THREAD();
  if (hasNotifiedDelegate_ || !adConnectionHasCompleted_) return;
  auto self = shared_from_this();
  timer_->end();
  hasNotifiedDelegate_ = true;
  auto delegate = delegate_.lock();
  if (!delegate) return;
  bool hasHTML = ad_->adHTML() && !ad_->adHTML()->empty();
  if (ad_->responseType() != QMAAdResponseTypeInvalid && hasHTML) {
    delegate->adFetcherDidFetchAd(*this, ad_);
  } else {
    long code =
        ad_->responseType() != QMAAdResponseTypeInvalid ? QMARequestErrorCodeNoAd : QMARequestErrorCodeInternalError;
    delegate->adFetcherDidFailToFetchAdWithErrorResponseCode(*this, ad_,
                                                             QMARequestError::errorWithCodeRequest(code, request_), 0);
  }
}

void QMAAdFetcher::resourceFailedToLoadWithErrorResponseCode(const QMARequestError& error, long httpStatusCode) {
  auto self = shared_from_this();
  if (!hasNotifiedDelegate_) {
    hasNotifiedDelegate_ = true;
    if (auto delegate = delegate_.lock()) {
      delegate->adFetcherDidFailToFetchAdWithErrorResponseCode(
          *this, ad_, error, httpStatusCode > 0 ? static_cast<std::uint64_t>(httpStatusCode) : 0);
    }
  }
  cancel();
}

// ---- request headers

std::set<std::string> QMAAdFetcher::whitelistedDomainsFromStoredValue(const Value& stored) {
  std::set<std::string> domains;
  if (const foundation::Array* hosts = stored.asArray()) {
    // An empty entry would match any URL whose host reads as empty: never a listed host.
    for (const auto& host : *hosts)
      if (const std::string* s = host.asString(); s && !s->empty()) domains.insert(lowercase(*s));
    return domains;
  }
  if (auto base = net::URL::fromString(net::adNetworkBaseURL())) {
    if (auto host = base->host(); host && !host->empty()) domains.insert(lowercase(*host));
  }
  return domains;
}

const std::set<std::string>& QMAAdFetcher::whitelistedDomains() {
  static const std::set<std::string> domains = whitelistedDomainsFromStoredValue(
      foundation::UserDefaults::standardUserDefaults()->objectForKey(kWhitelistedDomainsKey));
  return domains;
}

std::optional<net::HTTPHeaders> QMAAdFetcher::requestHeadersForURL(const net::URL& url) {
  WV_DCHECK_MAIN_THREAD();
  auto scheme = url.scheme();
  auto host = url.host();
  if (!scheme || lowercase(*scheme) != "https" || !host || host->empty()) return std::nullopt;
  if (!whitelistedDomains().contains(lowercase(*host))) return std::nullopt;
  if (!tokenSource_) return std::nullopt;
  auto token = tokenSource_->token();
  if (!token || token->empty()) return std::nullopt;
  signedInAdsToken_ = *token;
  return net::HTTPHeaders{{"Authorization", "Bearer " + *token}};
}

// ---- headers to properties

std::uint64_t QMAAdFetcher::adResponseTypeFromHeadersRequestError(const Dictionary& headers,
                                                                  std::optional<QMARequestError>* error) {
  std::uint64_t type = QMAReadResponseHeaders(headers).responseType;
  if (type == QMAAdResponseTypeInvalid && error)
    *error = QMARequestError::errorWithCodeRequest(QMARequestErrorCodeServerError, request_);
  return type;
}

void QMAAdFetcher::processHTTPHeaders(const Dictionary& headers) {
  WV_DCHECK_MAIN_THREAD();
  auto self = shared_from_this();
  if (!ad_) ad_ = QMAAd::init();
  QMAResponseHeaderReading r = QMAReadResponseHeaders(headers);

  Dictionary seen = ad_->responseHeaders().value_or(Dictionary{});
  for (const auto& [name, value] : r.headers) seen[name] = value;
  ad_->setResponseHeaders(std::move(seen));

  ad_->setResponseType(r.responseType);
  if (r.responseType == QMAAdResponseTypeInvalid)
    resourceFailedToLoadWithErrorResponseCode(
        QMARequestError::errorWithCodeRequest(QMARequestErrorCodeServerError, request_), 0);

  if (r.clickURLs) ad_->addClickURLsFromArray(*r.clickURLs);
  if (r.impressionURLs) ad_->addImpressionURLsFromArray(*r.impressionURLs);
  if (r.manualImpressionURLs) ad_->addManualImpressionURLsFromArray(*r.manualImpressionURLs);
  if (r.contentHashingWanted) {
    QMAContentHashing::sharedInstance().startContentHashing();
  } else {
    QMAContentHashing::sharedInstance().stopContentHashing();
  }
  ad_->setVistraceConfigurations(r.vistraceConfigurations);
  if (r.supportedOrientations) ad_->setSupportedOrientations(*r.supportedOrientations);
  if (r.reloadInterval) ad_->setReloadInterval(*r.reloadInterval);
  ad_->setDebugDialog(r.debugDialog);
  ad_->setCustomAdSizeString(r.customAdSizeString);
  ad_->setScrollEnabled(r.scrollEnabled);

  auto defaults = foundation::UserDefaults::standardUserDefaults();
  if (r.useHTTPS) {
    defaults->setObjectForKey(Value(*r.useHTTPS), kUseHTTPSKey);
  } else if (defaults->objectForKey(kUseHTTPSKey).isNull()) {
    defaults->setObjectForKey(Value(false), kUseHTTPSKey);
  }

  if (r.clearOAuthToken) {
    if (signedInAdsToken_ && tokenSource_) tokenSource_->refreshToken(*signedInAdsToken_);
    signedInAdsToken_.reset();
  }
  if (r.swipeConfigurations)
    ad_->setSwipeToViewControllerConfigurations(
        QMASwipeToViewControllerConfigurations::initWithSwipeConfigurations(*r.swipeConfigurations));
}

void QMAAdFetcher::processResponseHeaders(const net::URLResponsePtr& response, bool isFinal) {
  if (!response || !response->isHTTP) return;
  if (isFinal) lastResponseStatus_ = response->statusCode;
  processHTTPHeaders(QMAHeaderDictionary(response->headers));
}

// ---- connection reports

std::optional<foundation::Error> QMAAdFetcher::connectionShouldRedirectToURL(QMAURLConnection&, const net::URL&) {
  WV_DCHECK_MAIN_THREAD();
  return std::nullopt;
}

void QMAAdFetcher::connectionLoadDidReceiveRedirectResponse(QMAURLConnection&, const net::URLResponsePtr& response) {
  WV_DCHECK_MAIN_THREAD();
  processResponseHeaders(response, false);
}

bool QMAAdFetcher::connectionLoadShouldUseCachedResponse(QMAURLConnection&, const net::URLResponsePtr& response) {
  WV_DCHECK_MAIN_THREAD();
  auto self = shared_from_this();
  processResponseHeaders(response, true);
  // Only mediation configurations may come from (and go into) the memory cache.
  return ad_ && ad_->responseType() == QMAAdResponseTypeMediation;
}

void QMAAdFetcher::connectionLoadDidReceiveCachedResponse(QMAURLConnection&, const net::URLResponsePtr& response) {
  WV_DCHECK_MAIN_THREAD();
  processResponseHeaders(response, true);
}

void QMAAdFetcher::connectionLoadDidFinishBaseURL(QMAURLConnection& connection, const std::optional<std::string>& body,
                                                  const std::optional<net::URL>& baseURL) {
  WV_DCHECK_MAIN_THREAD();
  auto self = shared_from_this();
  // The URL layer hands error statuses over as finished loads: the body of a 404 or 500 is
  // an error page, not an ad.
  if (lastResponseStatus_ >= 400) {
    connectionLoadDidFailHttpStatusCode(connection, std::nullopt, lastResponseStatus_);
    return;
  }
  ad_->setAdHTML(body);
  ad_->setAdBaseURL(baseURL);
  adConnectionHasCompleted_ = true;
  completedURLConnection();
}

void QMAAdFetcher::connectionLoadDidFailHttpStatusCode(QMAURLConnection&, const std::optional<foundation::Error>&,
                                                       long httpStatusCode) {
  WV_DCHECK_MAIN_THREAD();
  auto self = shared_from_this();
  ad_->setAdHTML(std::nullopt);
  ad_->setAdBaseURL(std::nullopt);
  long code;
  if (httpStatusCode == 400) {
    QMALogger::sharedInstance()->logPublicMessage(
        "Server rejected ad parameters. Typically this is because the ad unit ID is incorrect.");
    code = QMARequestErrorCodeInvalidRequest;
  } else if (httpStatusCode == -1) {
    code = QMARequestErrorCodeInvalidResponse;
  } else if (httpStatusCode <= 400) {
    code = QMARequestErrorCodeNetworkError;
  } else {
    code = QMARequestErrorCodeServerError;
  }
  resourceFailedToLoadWithErrorResponseCode(
      QMARequestError::errorWithCodeRequestHTTPStatusCode(code, request_, httpStatusCode), httpStatusCode);
}
