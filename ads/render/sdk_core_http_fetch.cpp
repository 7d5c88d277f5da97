#include "ads/render/sdk_core_http_fetch.h"

#include <algorithm>
#include <cctype>

#include "platform/dispatch/queue.h"

foundation::Error QMARequestErrorWithCodeMessage(long code, const std::string& message) {
  foundation::Error error;
  error.domain = kQMAErrorDomain;
  error.code = code;
  error.userInfo[foundation::kLocalizedDescriptionKey] = message;
  return error;
}

bool QMASDKCoreURLFetch::fetchRequestURLDelegateError(const net::URLRequest& request,
                                                      std::weak_ptr<QMASDKCoreHTTPFetchDelegate> delegate,
                                                      foundation::Error* error) {
  std::shared_ptr<net::URLConnection> connection;
  {
    std::lock_guard lock(mu_);
    if (started_) {
      if (error) *error = QMARequestErrorWithCodeMessage(2, "Request Error: A network error occurred.");
      return false;
    }
    started_ = true;
    delegate_ = std::move(delegate);
  }
  connection = net::URLConnection::create(request, weak_from_this(), net::deliverOn(dispatch::Queue::main()));
  if (!connection) {
    auto e = QMARequestErrorWithCodeMessage(2, "Request Error: A network error occurred.");
    report(std::nullopt, e, 0);
    if (error) *error = e;
    return false;
  }
  {
    std::lock_guard lock(mu_);
    connection_ = connection;
  }
  connection->startImmediately();
  return true;
}

void QMASDKCoreURLFetch::setDelegate(std::weak_ptr<QMASDKCoreHTTPFetchDelegate> delegate) {
  std::lock_guard lock(mu_);
  delegate_ = std::move(delegate);
}

void QMASDKCoreURLFetch::cancel() {
  std::shared_ptr<net::URLConnection> connection;
  {
    std::lock_guard lock(mu_);
    connection = std::move(connection_);
    reported_ = true;
  }
  if (connection) connection->cancel();
}

void QMASDKCoreURLFetch::connectionDidReceiveResponse(net::URLConnection&, const net::URLResponsePtr& response) {
  response_ = response;
}

void QMASDKCoreURLFetch::connectionDidReceiveData(net::URLConnection&, const net::Bytes& data) {
  if (body_.size() + data.size() > kMaximumBodyBytes) {
    report(std::nullopt, QMARequestErrorWithCodeMessage(13, "Request Error: The response was too large."), 0);
    return;
  }
  body_.insert(body_.end(), data.begin(), data.end());
}

void QMASDKCoreURLFetch::connectionDidFinishLoading(net::URLConnection&) {
  QMASDKCoreFetchedAd ad;
  ad.adHTML = std::string(body_.begin(), body_.end());
  const int status = response_ ? response_->statusCode : 0;
  if (response_) {
    for (const auto& [name, value] : response_->headers.fields()) {
      std::string lower = name;
      std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      ad.responseHeaders[lower] = value;
    }
  }
  if (status >= 400) {
    report(ad, QMARequestErrorWithCodeMessage(3, "Request Error: Server error processing the request."),
           static_cast<unsigned long>(status));
  } else if (ad.adHTML->empty()) {
    report(ad, QMARequestErrorWithCodeMessage(1, "Request Error: No ad to show."), 0);
  } else {
    report(ad, std::nullopt, static_cast<unsigned long>(status));
  }
}

void QMASDKCoreURLFetch::connectionDidFailWithError(net::URLConnection&, const foundation::Error& error) {
  report(std::nullopt, error, response_ ? static_cast<unsigned long>(response_->statusCode) : 0);
}

void QMASDKCoreURLFetch::report(std::optional<QMASDKCoreFetchedAd> ad, std::optional<foundation::Error> error,
                                unsigned long code) {
  std::weak_ptr<QMASDKCoreHTTPFetchDelegate> delegate;
  {
    std::lock_guard lock(mu_);
    if (reported_) return;
    reported_ = true;
    delegate = delegate_;
  }
  auto self = shared_from_this();
  dispatch::Queue::main()->async([self, delegate, ad = std::move(ad), error = std::move(error), code] {
    auto d = delegate.lock();
    if (!d) return;
    {
      std::lock_guard lock(self->mu_);
      if (self->delegate_.lock() != d) return;  // told to stop in the meantime
    }
    if (error) d->adFetcherDidFailToFetchAdWithErrorResponseCode(*self, ad, *error, code);
    else d->adFetcherDidFetchAd(*self, *ad);
  });
}
