#include "ads/render/sdk_core_qomb_handler.h"

#include <mutex>

#include "ads/render/ad_view.h"
#include "ads/render/sdk_core_web_view.h"
#include "ads/services/url_utilities.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/json.h"

namespace {

std::mutex factoryMutex;
QMASDKCoreQOMBHandler::FetcherFactory& fetcherFactory() {
  static QMASDKCoreQOMBHandler::FetcherFactory factory = [] { return QMAAdFetcher::init(); };
  return factory;
}

// The text under which a fetch is kept: a string as it is, a whole number in decimal.
std::optional<std::string> fetchKey(const foundation::Value& id) {
  if (const auto* s = id.asString()) return *s;
  if (const auto* i = id.asInteger()) return std::to_string(*i);
  if (const auto* d = id.asReal()) return foundation::jsonSerialize(*d);
  return std::nullopt;
}

}  // namespace

std::shared_ptr<QMASDKCoreQOMBHandler> QMASDKCoreQOMBHandler::init() {
  auto handler = std::shared_ptr<QMASDKCoreQOMBHandler>(new QMASDKCoreQOMBHandler());
  handler->lockQueue_ = dispatch::Queue::createSerial(kQueueLabel);
  return handler;
}

void QMASDKCoreQOMBHandler::setFetcherFactory(FetcherFactory factory) {
  std::lock_guard lock(factoryMutex);
  fetcherFactory() = factory ? std::move(factory) : [] { return QMAAdFetcher::init(); };
}

const QMAActionBlockDictionary* QMASDKCoreQOMBHandler::actionBlockDictionary() const {
  static const QMAActionBlockDictionary table = [] {
    auto bind = [](void (QMASDKCoreQOMBHandler::*method)(const QMAQOMBArguments&)) {
      return [method](QMAQOMBHandler& h, const QMAQOMBArguments& a) { (static_cast<QMASDKCoreQOMBHandler&>(h).*method)(a); };
    };
    return QMAActionBlockDictionary{
        {"loadAdURL", bind(&QMASDKCoreQOMBHandler::didReceiveloadAdURLAction)},
        {"loadAd", bind(&QMASDKCoreQOMBHandler::didReceiveLoadAdAction)},
        {"invalidRequest", bind(&QMASDKCoreQOMBHandler::didReceiveInvalidAdRequestAction)},
        {"loadSdkConstants", bind(&QMASDKCoreQOMBHandler::didReceiveloadSDKConstantsAction)},
        {"fetchHttpRequest", bind(&QMASDKCoreQOMBHandler::didReceiveFetchAdAction)},
        {"requestReload", bind(&QMASDKCoreQOMBHandler::didReceiveSDKCoreReloadRequestWithParameters)},
    };
  }();
  return &table;
}

void QMASDKCoreQOMBHandler::didReceiveloadAdURLAction(const QMAQOMBArguments& arguments) {
  if (!arguments.note) return;
  auto self = this->self();
  auto params = arguments.note->parameters();
  auto requestID = arguments.note->parameter("request_id");
  dispatch::Queue::main()->async([self, params, requestID] {
    if (auto d = self->delegate()) d->SDKCoreQOMBHandlerLoadAdURLWithRequestIDParameters(*self, requestID, params);
  });
}

void QMASDKCoreQOMBHandler::didReceiveLoadAdAction(const QMAQOMBArguments& arguments) {
  if (!arguments.note) return;
  auto requestID = arguments.note->parameter("request_id");
  foundation::Value fetchedAd;
  if (auto text = arguments.note->parameter("fetched_ad")) {
    foundation::Error error;
    auto decoded = qma_decodedJSONObjectError(*text, &error);
    if (!decoded) return;  // claimed and dropped: the request stays unanswered
    fetchedAd = std::move(*decoded);
  }
  auto self = this->self();
  dispatch::Queue::main()->async([self, requestID, fetchedAd = std::move(fetchedAd)] {
    if (auto d = self->delegate()) d->SDKCoreQOMBHandlerLoadAdWithRequestIDParameters(*self, requestID, fetchedAd);
  });
}

void QMASDKCoreQOMBHandler::didReceiveInvalidAdRequestAction(const QMAQOMBArguments& arguments) {
  if (!arguments.note) return;
  auto self = this->self();
  auto params = arguments.note->parameters();
  auto requestID = arguments.note->parameter("request_id");
  dispatch::Queue::main()->async([self, params, requestID] {
    if (auto d = self->delegate()) d->SDKCoreQOMBHandlerDidReceiveInvalidAdWithRequestIDParameters(*self, requestID, params);
  });
}

void QMASDKCoreQOMBHandler::didReceiveloadSDKConstantsAction(const QMAQOMBArguments& arguments) {
  auto self = this->self();
  auto params = arguments.note ? arguments.note->parameters() : foundation::Dictionary{};
  dispatch::Queue::main()->async([self, params] {
    if (auto d = self->delegate()) d->SDKCoreQOMBHandlerDidLoadSDKConstants(*self, params);
  });
}

void QMASDKCoreQOMBHandler::didReceiveSDKCoreReloadRequestWithParameters(const QMAQOMBArguments&) {
  auto self = this->self();
  dispatch::Queue::main()->async([self] {
    if (auto d = self->delegate()) d->SDKCoreQOMBHandlerDidReceiveSDKCoreUpdateNotification(*self);
  });
}

void QMASDKCoreQOMBHandler::didReceiveFetchAdAction(const QMAQOMBArguments& arguments) {
  const std::optional<std::string> text = arguments.note ? arguments.note->parameter("http_request") : std::nullopt;
  foundation::Value object;
  if (text) {
    foundation::Error error;
    auto decoded = qma_decodedJSONObjectError(*text, &error);
    if (!decoded) {
        failedToFetchAdForRequestIDWithErrorResponseCode(nullptr, foundation::Value(), error, 0);
      return;
    }
    object = std::move(*decoded);
  }
  const auto* request = object.asDictionary();
  if (!request) {
    failedToFetchAdForRequestIDWithErrorResponseCode(
        nullptr, foundation::Value(),
        QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInternalError, "Invalid http_request"), 0);
    return;
  }
  // A fetch without an ID could never be matched to its answer.
  const foundation::Value fetchID = request->count("http_request_id") ? request->at("http_request_id") : foundation::Value();
  const auto key = fetchKey(fetchID);
  if (!key) {
    failedToFetchAdForRequestIDWithErrorResponseCode(
        nullptr, foundation::Value(),
        QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInternalError, "Missing http_request_id"), 0);
    return;
  }
  if (isFetchInProgressForFetchRequestID(*key)) return;

  const auto* urlText = foundation::stringForKey(*request, "url");
  std::optional<net::URL> url;
  if (urlText && !urlText->empty()) url = net::URL::fromString(*urlText);
  if (!url || !url->isHTTP()) {
    const std::string shown = urlText ? *urlText : "";
    failedToFetchAdForRequestIDWithErrorResponseCode(
        nullptr, fetchID,
        QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInternalError,
                                                    "Invalid URL (" + shown + ") requested for fetching"),
        0);
    return;
  }
  std::optional<foundation::Bytes> body;
  if (const auto* post = foundation::stringForKey(*request, "post_body")) body = foundation::Bytes(post->begin(), post->end());
  std::optional<std::string> contentType;
  if (const auto* type = foundation::stringForKey(*request, "content_type")) contentType = *type;
  std::optional<net::HTTPHeaders> headers;
  if (const auto* list = foundation::arrayForKey(*request, "headers")) {
    headers = net::HTTPHeaders();
    for (const auto& element : *list) {
      const auto* field = element.asDictionary();
      if (!field) continue;
      const auto* k = foundation::stringForKey(*field, "key");
      const auto* v = foundation::stringForKey(*field, "value");
      if (k && v && !k->empty()) headers->set(*k, *v);
    }
  }

  std::shared_ptr<QMAAdFetcher> fetcher;
  {
    std::lock_guard lock(factoryMutex);
    fetcher = fetcherFactory()();
  }
  if (!fetcher) return;
  setAdFetcherForFetchRequestID(fetcher, *key, fetchID);
  auto httpRequest = qma_requestForURLDataHeadersType(url, body, headers, contentType);
  foundation::Error startError;
  std::weak_ptr<QMAAdFetcherDelegate> delegate = std::static_pointer_cast<QMAAdFetcherDelegate>(self());
  if (!fetcher->fetchRequestURLDelegateError(httpRequest, delegate, &startError)) {
    // A fetcher whose connection cannot start has reported that failure already, which
    // answered the page and ended the fetch; the page hears of each fetch once.
    if (isFetchInProgressForFetchRequestID(*key)) {
      failedToFetchAdForRequestIDWithErrorResponseCode(nullptr, fetchID, startError, 0);
      removeAdFetcherForFetchRequestID(*key);
    }
  }
}

std::optional<std::string> QMASDKCoreQOMBHandler::fetchRequestIDForAdFetcher(const QMAAdFetcher* fetcher) {
  WV_DCHECK_NOT_ON_QUEUE(lockQueue_);
  std::optional<std::string> found;
  lockQueue_->sync([&] {
    for (const auto& [id, fetch] : adFetchers_)
      if (fetch.fetcher.get() == fetcher) found = id;
  });
  return found;
}

void QMASDKCoreQOMBHandler::setAdFetcherForFetchRequestID(std::shared_ptr<QMAAdFetcher> fetcher,
                                                          const std::string& fetchID, foundation::Value fetchIDValue) {
  auto self = this->self();
  lockQueue_->async([self, fetcher, fetchID, fetchIDValue = std::move(fetchIDValue)] {
    self->adFetchers_.emplace(fetchID, Fetch{fetcher, fetchIDValue});
  });
}

void QMASDKCoreQOMBHandler::removeAdFetcherForFetchRequestID(const std::string& fetchID) {
  WV_DCHECK_NOT_ON_QUEUE(lockQueue_);
  std::shared_ptr<QMAAdFetcher> fetcher;
  lockQueue_->sync([&] {
    auto it = adFetchers_.find(fetchID);
    if (it == adFetchers_.end()) return;
    fetcher = it->second.fetcher;
    adFetchers_.erase(it);
  });
  if (!fetcher) return;
  fetcher->setDelegate({});
  fetcher->cancel();
}

bool QMASDKCoreQOMBHandler::isFetchInProgressForFetchRequestID(const std::string& fetchID) {
  WV_DCHECK_NOT_ON_QUEUE(lockQueue_);
  bool found = false;
  lockQueue_->sync([&] { found = adFetchers_.count(fetchID) > 0; });
  return found;
}

void QMASDKCoreQOMBHandler::adFetcherDidFetchAd(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  auto key = fetchRequestIDForAdFetcher(&fetcher);
  if (!key) return;
  foundation::Value id;
  lockQueue_->sync([&] {
    if (auto it = adFetchers_.find(*key); it != adFetchers_.end()) id = it->second.id;
  });
  fetchedAdForFetchRequestIDResponseCode(ad, id, 200);
  removeAdFetcherForFetchRequestID(*key);
}

void QMASDKCoreQOMBHandler::adFetcherDidFailToFetchAdWithErrorResponseCode(QMAAdFetcher& fetcher,
                                                                           const std::shared_ptr<QMAAd>& ad,
                                                                           const std::optional<QMARequestError>& error,
                                                                           std::uint64_t responseCode) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = self();
  auto key = fetchRequestIDForAdFetcher(&fetcher);
  if (!key) return;
  foundation::Value id;
  lockQueue_->sync([&] {
    if (auto it = adFetchers_.find(*key); it != adFetchers_.end()) id = it->second.id;
  });
  const foundation::Error reported = error ? error->error() : QMARequestError::errorWithCode(QMARequestErrorCodeInternalError).error();
  failedToFetchAdForRequestIDWithErrorResponseCode(ad, id, reported, static_cast<long>(responseCode));
  removeAdFetcherForFetchRequestID(*key);
}

std::string QMASDKCoreQOMBHandler::fetchAnswerCommand(bool success, const std::optional<std::string>& reason,
                                                      const std::shared_ptr<QMAAd>& ad, const foundation::Value& fetchID,
                                                      long responseCode) {
  foundation::Dictionary response;
  response["response_code"] = responseCode;
  response["body"] = ad && ad->adHTML() ? *ad->adHTML() : std::string();
  response["http_request_id"] = fetchID.isNull() ? foundation::Value("") : fetchID;
  foundation::Array headers;
  if (ad && ad->responseHeaders()) {
    for (const auto& [k, v] : *ad->responseHeaders()) {
      foundation::Dictionary field;
      field["key"] = k;
      field["value"] = v;
      headers.emplace_back(std::move(field));
    }
  }
  response["headers"] = std::move(headers);
  foundation::Dictionary answer;
  answer["success"] = success ? "true" : "false";
  if (!success) answer["reason"] = reason.value_or("");
  answer["response"] = std::move(response);
  const std::string json = qma_JSONStringPretty(answer, false).value_or("");
  return "QVRA_ReceiveMessage('fetchHttpRequestCompleted', " + QMAScriptSafeJSON(json) + ")";
}

void QMASDKCoreQOMBHandler::answer(const std::string& command) {
  if (auto page = SDKCoreWebView()) page->enqueueJavaScriptCommand(command);
}

void QMASDKCoreQOMBHandler::fetchedAdForFetchRequestIDResponseCode(const std::shared_ptr<QMAAd>& ad,
                                                                   const foundation::Value& fetchID, long responseCode) {
  answer(fetchAnswerCommand(true, std::nullopt, ad, fetchID, responseCode));
}

void QMASDKCoreQOMBHandler::failedToFetchAdForRequestIDWithErrorResponseCode(const std::shared_ptr<QMAAd>& ad,
                                                                             const foundation::Value& fetchID,
                                                                             const foundation::Error& error,
                                                                             long responseCode) {
  answer(fetchAnswerCommand(false, error.localizedDescription(), ad, fetchID, responseCode));
}
