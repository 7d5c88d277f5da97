#pragma once
// The bridge handler of one SDK-core page. It claims the six messages by which the page
// answers ad requests ("loadAdURL", "loadAd", "invalidRequest"), delivers server constants
// ("loadSdkConstants"), asks for a fresh page ("requestReload") and asks native code to
// perform an HTTP request ("fetchHttpRequest"). The first five go to its delegate (the
// SDK-core controller, for the active page only) on the main queue; the last it carries
// out itself with an ad fetcher (QMAAdFetcher: header names lower-cased, a plain response
// is type 1, an empty body or an HTTP status of 400 or more is a failure) and answers the
// page with QVRA_ReceiveMessage('fetchHttpRequestCompleted', {...}) through the page's
// command queue, exactly once per fetch. Only http and https URLs are fetched.
//
// Threads: actions run on the main thread (the page's navigation callback); delegate
// calls are queued on the main queue; the fetch map is guarded by the serial queue
// "com.quillon.pelmark.sdk-core-qombhandler"; fetchers are stopped outside that queue.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "ads/model/ad_fetcher.h"
#include "ads/render/qomb.h"
#include "platform/dispatch/queue.h"

class QMASDKCoreWebView;
class QMASDKCoreQOMBHandler;

class QMASDKCoreQOMBHandlerDelegate {
 public:
  virtual ~QMASDKCoreQOMBHandlerDelegate() = default;
  virtual void SDKCoreQOMBHandlerLoadAdURLWithRequestIDParameters(QMASDKCoreQOMBHandler&,
                                                                  const std::optional<std::string>& requestID,
                                                                  const foundation::Dictionary& parameters) = 0;
  // `fetchedAd`: the decoded "fetched_ad" (null when the message has none).
  virtual void SDKCoreQOMBHandlerLoadAdWithRequestIDParameters(QMASDKCoreQOMBHandler&,
                                                               const std::optional<std::string>& requestID,
                                                               const foundation::Value& fetchedAd) = 0;
  virtual void SDKCoreQOMBHandlerDidReceiveInvalidAdWithRequestIDParameters(QMASDKCoreQOMBHandler&,
                                                                            const std::optional<std::string>& requestID,
                                                                            const foundation::Dictionary& parameters) = 0;
  virtual void SDKCoreQOMBHandlerDidLoadSDKConstants(QMASDKCoreQOMBHandler&, const foundation::Dictionary& constants) = 0;
  virtual void SDKCoreQOMBHandlerDidReceiveSDKCoreUpdateNotification(QMASDKCoreQOMBHandler&) = 0;
};

class QMASDKCoreQOMBHandler : public QMAQOMBHandler, public QMAAdFetcherDelegate {
 public:
  static constexpr const char* kQueueLabel = "com.quillon.pelmark.sdk-core-qombhandler";
  using FetcherFactory = std::function<std::shared_ptr<QMAAdFetcher>()>;

  static std::shared_ptr<QMASDKCoreQOMBHandler> init();
  const QMAActionBlockDictionary* actionBlockDictionary() const override;

  std::shared_ptr<QMASDKCoreWebView> SDKCoreWebView() const { return SDKCoreWebView_.lock(); }
  void setSDKCoreWebView(std::weak_ptr<QMASDKCoreWebView> page) { SDKCoreWebView_ = std::move(page); }
  std::shared_ptr<QMASDKCoreQOMBHandlerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMASDKCoreQOMBHandlerDelegate> d) { delegate_ = std::move(d); }
  // How fetchers are made (QMAAdFetcher::init unless a test installs another; nullptr
  // restores it).
  static void setFetcherFactory(FetcherFactory factory);

  void didReceiveloadAdURLAction(const QMAQOMBArguments& arguments);
  void didReceiveLoadAdAction(const QMAQOMBArguments& arguments);
  void didReceiveInvalidAdRequestAction(const QMAQOMBArguments& arguments);
  void didReceiveloadSDKConstantsAction(const QMAQOMBArguments& arguments);
  void didReceiveFetchAdAction(const QMAQOMBArguments& arguments);
  void didReceiveSDKCoreReloadRequestWithParameters(const QMAQOMBArguments& arguments);

  // The fetch ID travels back as the page sent it (a JSON text or number); the map key is
  // its text.
  void fetchedAdForFetchRequestIDResponseCode(const std::shared_ptr<QMAAd>& ad, const foundation::Value& fetchID,
                                              long responseCode);
  // `ad` may be null (a failure before any fetch).
  void failedToFetchAdForRequestIDWithErrorResponseCode(const std::shared_ptr<QMAAd>& ad,
                                                        const foundation::Value& fetchID, const foundation::Error& error,
                                                        long responseCode);
  std::optional<std::string> fetchRequestIDForAdFetcher(const QMAAdFetcher* fetcher);
  void setAdFetcherForFetchRequestID(std::shared_ptr<QMAAdFetcher> fetcher, const std::string& fetchID,
                                     foundation::Value fetchIDValue);
  void removeAdFetcherForFetchRequestID(const std::string& fetchID);
  bool isFetchInProgressForFetchRequestID(const std::string& fetchID);

  // The fetcher's outcome (main thread).
  void adFetcherDidFetchAd(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad) override;
  void adFetcherDidFailToFetchAdWithErrorResponseCode(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad,
                                                      const std::optional<QMARequestError>& error,
                                                      std::uint64_t responseCode) override;

  // The answer's script: "QVRA_ReceiveMessage('fetchHttpRequestCompleted', <JSON>)".
  static std::string fetchAnswerCommand(bool success, const std::optional<std::string>& reason,
                                        const std::shared_ptr<QMAAd>& ad, const foundation::Value& fetchID,
                                        long responseCode);

 private:
  QMASDKCoreQOMBHandler() = default;
  void answer(const std::string& command);
  std::shared_ptr<QMASDKCoreQOMBHandler> self() {
    return std::static_pointer_cast<QMASDKCoreQOMBHandler>(shared_from_this());
  }
  struct Fetch {
    std::shared_ptr<QMAAdFetcher> fetcher;
    foundation::Value id;
  };
  std::map<std::string, Fetch> adFetchers_;
  dispatch::QueuePtr lockQueue_;
  std::weak_ptr<QMASDKCoreWebView> SDKCoreWebView_;
  std::weak_ptr<QMASDKCoreQOMBHandlerDelegate> delegate_;
};
