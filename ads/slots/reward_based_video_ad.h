#pragma once
// QMARewardBasedVideoAd: the process-wide reward-based video ad. A host loads it with a
// request, an ad unit ID and its own user ID, waits until it is ready, presents it, and
// hears through its delegate when the user has earned the reward. It owns no slot: it asks
// the SDK-core page for the ad URL itself (or takes the ad URL of a ready ad in the
// request's extras), fetches the ad with its own fetcher, and hands every fetched ad to its
// mediation (QMARewardBasedVideoAdMediating of reward_based_video_ad_mediation.h, served by
// the mediation part's QMARewardBasedVideoAdMediationAdditions), which runs the waterfall
// over the host's reward adapters, presents the winner and reports opening, playing,
// closing, leaving and the reward.
//
// One load at a time: a second load while one runs is only logged. Every load ends in
// exactly one of adLoadedSuccessfully and failedToLoadAdWithError; a second report of the
// same load is ignored.
//
// Threads: main thread (checked), except requestParameters, setRequestID and
// CSIIdentifier, which the SDK-core controller calls on its request queue. The SDK core's
// answers, the fetcher's reports and the mediation's outcomes all arrive on the main
// thread, and so do the host's delegate messages.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "ads/model/ad_fetcher.h"
#include "ads/model/ad_type.h"
#include "ads/model/request.h"
#include "ads/model/request_error.h"
#include "ads/render/sdk_core_controller.h"
#include "ads/services/scheduler.h"
#include "ads/slots/reward_based_video_ad_mediation.h"

class QMARewardBasedVideoAd;

// The host's delegate. Every message is optional: the ad sends one only when
// respondsToSelector answers YES for its selector (the constants below).
class QMARewardBasedVideoAdDelegate {
 public:
  static constexpr const char* kDidRewardUserWithReward = "rewardBasedVideoAd:didRewardUserWithReward:";
  static constexpr const char* kDidReceiveAd = "rewardBasedVideoAdDidReceiveAd:";
  static constexpr const char* kDidOpen = "rewardBasedVideoAdDidOpen:";
  static constexpr const char* kDidStartPlaying = "rewardBasedVideoAdDidStartPlaying:";
  static constexpr const char* kDidClose = "rewardBasedVideoAdDidClose:";
  static constexpr const char* kWillLeaveApplication = "rewardBasedVideoAdWillLeaveApplication:";
  // The lower-case "with" is the message's own spelling.
  static constexpr const char* kDidFailToLoadwithError = "rewardBasedVideoAd:didFailToLoadwithError:";

  virtual ~QMARewardBasedVideoAdDelegate() = default;
  virtual bool respondsToSelector(std::string_view selector) const { return false; }
  virtual void rewardBasedVideoAdDidRewardUserWithReward(QMARewardBasedVideoAd&, const std::shared_ptr<QMAAdReward>&) {}
  virtual void rewardBasedVideoAdDidReceiveAd(QMARewardBasedVideoAd&) {}
  virtual void rewardBasedVideoAdDidOpen(QMARewardBasedVideoAd&) {}
  virtual void rewardBasedVideoAdDidStartPlaying(QMARewardBasedVideoAd&) {}
  virtual void rewardBasedVideoAdDidClose(QMARewardBasedVideoAd&) {}
  virtual void rewardBasedVideoAdWillLeaveApplication(QMARewardBasedVideoAd&) {}
  virtual void rewardBasedVideoAdDidFailToLoadwithError(QMARewardBasedVideoAd&, const foundation::Error&) {}
};

class QMARewardBasedVideoAd : public QMASDKCoreControllerDelegate,
                              public QMAAdFetcherDelegate,
                              public QMARewardBasedVideoAdMediationHost,
                              public std::enable_shared_from_this<QMARewardBasedVideoAd> {
 public:
  // The process's one (main thread).
  static const std::shared_ptr<QMARewardBasedVideoAd>& sharedInstance();
  // One as a new process makes it (tests).
  static std::shared_ptr<QMARewardBasedVideoAd> create();

  bool isReady() const { return ready_; }
  bool requestInProgress() const { return requestInProgress_; }
  std::shared_ptr<QMARewardBasedVideoAdDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMARewardBasedVideoAdDelegate> delegate) { delegate_ = std::move(delegate); }
  std::shared_ptr<QMARequest> request() const override { return request_; }
  const std::optional<std::string>& adUnitID() const { return adUnitID_; }
  std::optional<std::string> userID() const override { return userID_; }
  std::string requestID() const;
  const std::shared_ptr<QMAAdFetcher>& adFetcher() const { return adFetcher_; }
  const std::shared_ptr<QMARewardBasedVideoAdMediating>& mediation() const { return mediation_; }
  // The maker of every new ad's mediation, installed by the mediation part; none by default.
  using MediationFactory =
      std::function<std::shared_ptr<QMARewardBasedVideoAdMediating>(std::weak_ptr<QMARewardBasedVideoAdMediationHost>)>;
  static void setMediationFactory(MediationFactory factory);

  // ---- the host's side
  void loadRequestWithAdUnitIDUserID(const std::shared_ptr<QMARequest>& request,
                                     const std::optional<std::string>& adUnitID,
                                     const std::optional<std::string>& userID);
  // Only when no load runs and an ad is ready; nothing (and no log line) otherwise.
  void presentFromRootViewController(const std::shared_ptr<uikit::ViewController>& rootViewController);

  // ---- the two ends of a load, and the hand-off to mediation
  void adLoadedSuccessfully() override;
  void failedToLoadAdWithError(const foundation::Error& error) override;
  void loadAd(const std::shared_ptr<QMAAd>& ad);
  void fetchAdForRequestWithAdUnitIDUserID(const std::shared_ptr<QMARequest>& request,
                                           const std::optional<std::string>& adUnitID,
                                           const std::optional<std::string>& userID);

  // ---- QMASDKCoreControllerDelegate
  long CSIIdentifier() override { return -1; }
  void setRequestID(const std::string& requestID) override;
  std::optional<foundation::Dictionary> requestParameters() override;
  long requestedAdType() override { return 2; }
  void loadAdURLWithParameters(const foundation::Dictionary& parameters) override;
  void loadAdHeaders(const std::shared_ptr<QMAAd>& ad, const std::optional<foundation::Dictionary>& headers) override;
  void invalidJavaScriptRequest() override;
  void failedJavaScriptFile() override;

  // ---- QMAAdFetcherDelegate
  void adFetcherDidFetchAd(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad) override;
  void adFetcherDidFailToFetchAdWithErrorResponseCode(QMAAdFetcher& fetcher, const std::shared_ptr<QMAAd>& ad,
                                                      const std::optional<QMARequestError>& error,
                                                      std::uint64_t responseCode) override;

  // ---- what the mediation reaches of the host's delegate
  bool delegateRespondsToDidRewardUserWithReward() const override;
  void sendRewardBasedVideoAdDidRewardUserWithReward(const std::shared_ptr<QMAAdReward>& reward) override;
  void sendRewardBasedVideoAdDidOpen() override;
  void sendRewardBasedVideoAdDidStartPlaying() override;
  void sendRewardBasedVideoAdDidClose() override;
  void sendRewardBasedVideoAdWillLeaveApplication() override;

 private:
  QMARewardBasedVideoAd() = default;
  void sendToDelegate(const char* selector, const std::function<void(QMARewardBasedVideoAdDelegate&)>& message);

  // The SDK core's answer is awaited for as long as a slot waits for its own; then the
  // load fails with request error 5 and a late answer is not taken.
  void armSDKCoreAnswerTimer();
  bool takeSDKCoreAnswer();
  void SDKCoreAnswerTimedOut(std::uint64_t generation);
  void fetchAdURLWithParameters(const foundation::Dictionary& parameters);

  bool ready_ = false;
  bool requestInProgress_ = false;
  bool awaitingSDKCoreAnswer_ = false;
  std::uint64_t loadGeneration_ = 0;
  std::shared_ptr<QMATimer> SDKCoreAnswerTimer_;
  std::weak_ptr<QMARewardBasedVideoAdDelegate> delegate_;
  std::shared_ptr<QMARequest> request_;
  std::optional<std::string> adUnitID_;
  std::optional<std::string> userID_;
  mutable std::mutex requestIDMutex_;
  // Guards request_, userID_ and adUnitID_ while they are written (main thread) and read
  // for the SDK core's request parameters (its queue).
  mutable std::mutex parametersMutex_;
  std::string requestID_;  // under requestIDMutex_: written on the SDK core's queue
  std::shared_ptr<QMAAdFetcher> adFetcher_;
  std::shared_ptr<QMARewardBasedVideoAdMediating> mediation_;
};
