#pragma once
// The process-wide way from an ad request to the hidden SDK-core page and back. A
// requester (the slot, the reward-based video ad, the ad-URL adapter) adopts
// QMASDKCoreControllerDelegate and calls buildAdURL. The controller makes sure the page
// is loaded (the first time, after a failure, and when the last refresh is more than an
// hour old), gives the request a decimal request ID ("1", "2", ...), calls the page's
// QVRA_getAd (or QVRA_getAdapterLessMediationAd) with the parameters as JSON, and hands
// the page's answer to the requester on the main queue. After each reload it asks the
// page for the server constants and applies and stores them. It also hands out SDK-core
// pages for viewability reporting and keeps the ones given back while still reporting.
//
// Threads: buildAdURL from any thread but the state queue (the main thread in practice);
// viewability pages on the main thread. Its state lives on the serial queue
// "com.quillon.pelmark.sdk-core-controller"; requests are built on
// "com.quillon.pelmark.sdk-core-controller-url" (which waits on the state queue, which
// may wait on a page's queue, never the reverse). Every call into a requester is queued on
// the main queue with the requester held weakly.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/model/ad.h"
#include "ads/render/sdk_core_qomb_handler.h"
#include "ads/render/sdk_core_web_view.h"
#include "platform/dispatch/queue.h"

// The requester's side of one ad request.
class QMASDKCoreControllerDelegate {
 public:
  virtual ~QMASDKCoreControllerDelegate() = default;
  // The requester's timing identifier (any thread).
  virtual long CSIIdentifier() = 0;
  // On the request-building queue, before requestParameters: the ID the page answers under.
  virtual void setRequestID(const std::string& requestID) = 0;
  // On the request-building queue: the request's parameters, holding "request_id";
  // nullopt sends nothing.
  virtual std::optional<foundation::Dictionary> requestParameters() = 0;
  // Main queue: 0 QMAAd, 1 QMABannerAd, 2 QMAInterstitialAd; other values make no ad.
  virtual long requestedAdType() = 0;
  // Main queue, before the answer to the request with this ID is delivered: whether it is
  // still wanted. A requester that keeps one request at a time (the slot) has moved on
  // from an earlier one; its late answer is dropped, with its timing.
  virtual bool wantsAnswerForRequestID(const std::string& requestID) { return true; }
  // Main queue: the page's answers.
  virtual void loadAdURLWithParameters(const foundation::Dictionary& parameters) = 0;
  virtual void loadAdHeaders(const std::shared_ptr<QMAAd>& ad, const std::optional<foundation::Dictionary>& headers) = 0;
  virtual void invalidJavaScriptRequest() = 0;
  virtual void failedJavaScriptFile() = 0;
  // Main queue: the page was given the request with this ID but will never answer it (its
  // web process ended, or the call was dropped before it ran). The same as a page that
  // failed to load unless the requester tells its requests apart.
  virtual void failedJavaScriptFileForRequestID(const std::string& requestID) { failedJavaScriptFile(); }
};

// The headers of a mediation answer: the ad's own, with "x-qvra-mediation" 1 and
// "Content-Type" "application/json".
foundation::Dictionary QMASDKCoreMediationHeaders(const std::optional<foundation::Dictionary>& adHeaders);
// The ad of a "loadAd" answer: QMAAd, QMABannerAd or QMAInterstitialAd (requested types 0,
// 1, 2; none for another) from the page's "fetched_ad" description (anything but a
// dictionary reads as an empty one). A mediation answer ("is_mediation" true) gets
// response type 2 and the mediation headers as its response headers.
std::shared_ptr<QMAAd> QMASDKCoreAdForFetchedAd(long requestedAdType, const foundation::Value& fetchedAd);

class QMASDKCoreController : public QMASDKCoreWebViewNotification,
                             public QMASDKCoreQOMBHandlerDelegate,
                             public std::enable_shared_from_this<QMASDKCoreController> {
 public:
  static constexpr const char* kStateQueueLabel = "com.quillon.pelmark.sdk-core-controller";
  static constexpr const char* kRequestURLQueueLabel = "com.quillon.pelmark.sdk-core-controller-url";
  static constexpr std::uint64_t kStalePageMilliseconds = 3'600'000;
  static constexpr std::uint64_t kMaximumUnloadCacheSize = 20;

  // Main thread (the first use makes the active page).
  static const std::shared_ptr<QMASDKCoreController>& sharedInstance();
  // A controller as a new process makes it (tests).
  static std::shared_ptr<QMASDKCoreController> create();
  ~QMASDKCoreController() override;

  void buildAdURL(const std::shared_ptr<QMASDKCoreControllerDelegate>& requester);
  void attemptToRefreshActiveWebViewSDKCore();
  void refreshActiveWebViewSDKCore();
  void observeSDKCoreWebViewForSDKCoreLoadRequestCompleted();
  // Compact JSON of the parameters' JSON-safe copy; nullopt for none; "" when it cannot
  // be written.
  static std::optional<std::string> adRequestParameterJSONFromParameters(
      const std::optional<foundation::Dictionary>& parameters);
  void asynchronouslyRequestURLForDelegate(const std::shared_ptr<QMASDKCoreControllerDelegate>& requester);

  double vistraceSamplingInterval();
  double swipeToViewSamplingInterval();
  void setVistraceSamplingInterval(double seconds);
  void setSwipeToViewSamplingInterval(double seconds);
  std::uint64_t vistraceUnloadCacheMaxSize();
  bool useNewWebViewsForVistraceProcessing();
  bool SDKConstantsNeedReload();
  std::uint64_t lastWebViewRefreshTimestamp();
  std::size_t pendingRequestCount();
  std::size_t waitingRequestCount();

  const std::shared_ptr<QMASDKCoreWebView>& activeSDKCoreWebView() const { return activeSDKCoreWebView_; }

  std::shared_ptr<QMASDKCoreWebView> SDKCoreWebViewForVistraceProcessing();
  void finishedUsingSDKCoreWebViewForVistraceProcessing(const std::shared_ptr<QMASDKCoreWebView>& page);
  void cacheRunningVistraceWebView(const std::shared_ptr<QMASDKCoreWebView>& page);
  void removeFinishedVistraceWebViews();
  std::vector<std::shared_ptr<QMASDKCoreWebView>> vistraceSDKCoreWebViews();

  // The page's notices and answers (main queue).
  void didFinishLoadingSDKCoreInSDKCoreWebView(const std::shared_ptr<QMASDKCoreWebView>& page) override;
  // The active page's web process ended: the requests it was given fail now, and the next
  // request loads the page again.
  void SDKCoreWebViewDidLosePage(const std::shared_ptr<QMASDKCoreWebView>& page) override;
  void SDKCoreQOMBHandlerLoadAdURLWithRequestIDParameters(QMASDKCoreQOMBHandler&, const std::optional<std::string>& requestID,
                                                          const foundation::Dictionary& parameters) override;
  void SDKCoreQOMBHandlerLoadAdWithRequestIDParameters(QMASDKCoreQOMBHandler&, const std::optional<std::string>& requestID,
                                                       const foundation::Value& fetchedAd) override;
  void SDKCoreQOMBHandlerDidReceiveInvalidAdWithRequestIDParameters(QMASDKCoreQOMBHandler&,
                                                                    const std::optional<std::string>& requestID,
                                                                    const foundation::Dictionary& parameters) override;
  void SDKCoreQOMBHandlerDidLoadSDKConstants(QMASDKCoreQOMBHandler&, const foundation::Dictionary& constants) override;
  void SDKCoreQOMBHandlerDidReceiveSDKCoreUpdateNotification(QMASDKCoreQOMBHandler&) override;

 private:
  QMASDKCoreController() = default;
  void setUp();
  std::shared_ptr<QMASDKCoreControllerDelegate> takePendingRequester(const std::optional<std::string>& requestID);
  // Main thread: the request gets no answer. Its requester, if one waits, has its timing
  // cancelled and hears `tell` from the main queue, while it still wants this request's answer.
  void abandonRequest(const std::optional<std::string>& requestID,
                      std::function<void(QMASDKCoreControllerDelegate&, const std::string&)> tell);
  // Main thread: the request will get no answer from the page; its requester hears so.
  void failSentRequest(const std::string& requestID);
  void applySDKConstants(const foundation::Dictionary& constants);

  dispatch::QueuePtr lockQueue_;
  dispatch::QueuePtr requestURLQueue_;
  std::vector<std::shared_ptr<QMASDKCoreControllerDelegate>> pendingActiveWebViewLoadDelegates_;
  std::vector<std::shared_ptr<QMASDKCoreWebView>> vistraceSDKCoreWebViews_;
  std::uint64_t lastWebViewRefreshTimestamp_ = 0;
  std::uint64_t requestID_ = 1;
  std::uint64_t vistraceUnloadCacheMaxSize_ = 3;
  bool SDKCoreUpdateHandled_ = false;
  std::shared_ptr<QMASDKCoreWebView> vistraceSDKCoreWebView_;
  bool useNewWebViewsForVistraceProcessing_ = false;
  double vistraceSamplingInterval_ = 0.4;
  double swipeToViewSamplingInterval_ = 0;
  bool SDKConstantsNeedReload_ = true;
  std::shared_ptr<QMASDKCoreWebView> activeSDKCoreWebView_;
  std::map<std::string, std::shared_ptr<QMASDKCoreControllerDelegate>> pendingBuildAdURLDelegates_;
};
