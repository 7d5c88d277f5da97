#pragma once
// What the reward-based video ad and its mediation ask of each other. The ad owns its
// mediation but does not know its class: the mediation part installs its maker once
// (QMARewardBasedVideoAd::setMediationFactory), and an ad made after that owns one; an ad
// made without one fails every fetched ad with request error 8 (no adapter).
//
// Threads: main thread (checked by both sides).

#include <memory>
#include <optional>
#include <string>

#include "ads/model/ad.h"
#include "ads/model/ad_type.h"
#include "ads/model/request.h"
#include "platform/foundation/error.h"

namespace uikit {
class ViewController;
}

// The public reward-based video ad as a mediation connector reaches it once its ad is
// shown: the host's delegate messages, each sent only when the host's delegate implements
// it.
class QMARewardBasedVideoAdHostDelegateMessages {
 public:
  virtual ~QMARewardBasedVideoAdHostDelegateMessages() = default;
  virtual void sendRewardBasedVideoAdDidOpen() = 0;
  virtual void sendRewardBasedVideoAdDidStartPlaying() = 0;
  virtual void sendRewardBasedVideoAdDidClose() = 0;
  virtual void sendRewardBasedVideoAdWillLeaveApplication() = 0;
};

// What the mediation reaches of the public reward-based video ad, which serves it.
class QMARewardBasedVideoAdMediationHost : public QMARewardBasedVideoAdHostDelegateMessages {
 public:
  ~QMARewardBasedVideoAdMediationHost() override = default;
  virtual std::shared_ptr<QMARequest> request() const = 0;
  virtual std::optional<std::string> userID() const = 0;
  // The load's two ends.
  virtual void adLoadedSuccessfully() = 0;
  virtual void failedToLoadAdWithError(const foundation::Error& error) = 0;
  // Whether the host's delegate implements rewardBasedVideoAd:didRewardUserWithReward:.
  virtual bool delegateRespondsToDidRewardUserWithReward() const = 0;
  // Sent whether the reward is null or not.
  virtual void sendRewardBasedVideoAdDidRewardUserWithReward(const std::shared_ptr<QMAAdReward>& reward) = 0;
};

// What the reward-based video ad asks of its mediation
// (QMARewardBasedVideoAdMediationAdditions of the mediation part serves it).
class QMARewardBasedVideoAdMediating {
 public:
  virtual ~QMARewardBasedVideoAdMediating() = default;
  // Runs the waterfall for a fetched ad; the load ends through the host's two ends.
  virtual void processMediationAd(const std::shared_ptr<QMAAd>& ad) = 0;
  virtual void presentMediatedRewardBasedVideoAdFromViewController(const std::shared_ptr<uikit::ViewController>& root) = 0;
};
