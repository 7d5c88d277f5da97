#pragma once
// The reward-based video ad's mediation: every ad the reward-based video ad fetches is a
// mediation response. Its configuration (of the interstitial ad type) names the networks;
// one connector per adapter class is made and set up (with the user ID) and kept from one
// load to the next; the networks are asked one after the other, each within the
// configuration's time-out; the first that delivers wins; when none does, the no-fill ping
// goes out and the load fails with request error 9. Set-up failures, load failures and
// time-outs (request error 5) of single networks stay inside the waterfall. Presenting
// sends the configuration's impression ping and hands the host's delegate messages of the
// winner's adapter (open, start, close, leave, reward) to the reward-based video ad.
//
// The state lives here, in the object the reward-based video ad owns for its mediation.
//
// Threads: main thread (checked); the connectors bring their adapters' callbacks there,
// and the time-outs are blocks of the main queue.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/mediation/reward_based_video_connector.h"
#include "ads/model/ad.h"
#include "ads/slots/reward_based_video_ad_mediation.h"

class QMARewardBasedVideoAdMediationAdditions : public QMARewardBasedVideoAdMediating,
                                                public QMAMRewardBasedVideoAdConnectorDelegate,
                                                public std::enable_shared_from_this<QMARewardBasedVideoAdMediationAdditions> {
 public:
  using Connector = QMAMRewardBasedVideoAdNetworkConnector;

  static std::shared_ptr<QMARewardBasedVideoAdMediationAdditions> initWithRewardBasedVideoAd(
      std::weak_ptr<QMARewardBasedVideoAdMediationHost> rewardBasedVideoAd);
  // Makes every reward-based video ad made from now on own mediation of this class (the ad
  // component's start-up does it once; idempotent).
  static void install();

  // ---- entry points
  void processMediationAd(const std::shared_ptr<QMAAd>& ad) override;
  void presentMediatedRewardBasedVideoAdFromViewController(const std::shared_ptr<uikit::ViewController>& root) override;
  // The response's JSON object: "x-qvra-mediation" true and a JSON content type (else
  // error 13), a body that is JSON (else error 7) and an object (else error 13).
  static std::optional<foundation::Dictionary> parseJSONResponseFromAdError(const std::shared_ptr<QMAAd>& ad,
                                                                           std::optional<QMARequestError>* error);

  // ---- the waterfall's state
  const std::shared_ptr<QMAMConfig>& mediationConfig() const { return mediationConfig_; }
  const std::map<std::string, std::shared_ptr<Connector>>& connectors() const { return connectors_; }
  const std::map<std::string, std::uint64_t>& pendingSetUpConnectorsTimestamp() const {
    return pendingSetUpConnectorsTimestamp_;
  }
  const std::vector<std::shared_ptr<Connector>>& pendingAdRequestConnectors() const {
    return pendingAdRequestConnectors_;
  }
  const std::shared_ptr<Connector>& requestingConnector() const { return requestingConnector_; }
  const std::shared_ptr<Connector>& receivedConnector() const { return receivedConnector_; }

  // ---- QMAMRewardBasedVideoAdConnectorDelegate
  void connectorDidSetUpRewardBasedVideoAd(Connector& connector) override;
  void connectorDidFailToSetUpRewardBasedVideoAdWithError(Connector& connector, const foundation::Error& error) override;
  void connectorDidReceiveRewardBasedVideoAd(Connector& connector) override;
  void connectorDidFailToReceiveRewardBasedVideoAdWithError(Connector& connector, const foundation::Error& error) override;
  void connectorDidReceiveClick(Connector& connector) override;
  void connectorDidRewardUserWithReward(Connector& connector, const std::shared_ptr<QMAAdReward>& reward) override;

 private:
  explicit QMARewardBasedVideoAdMediationAdditions(std::weak_ptr<QMARewardBasedVideoAdMediationHost> ad)
      : rewardBasedVideoAd_(std::move(ad)) {}
  void setUpAdapters();
  void removeStaleConnectors();
  void buildPendingAdRequestConnectorsList();
  void makeNextAdRequest();
  void requestAdFromConnector(const std::shared_ptr<Connector>& connector);
  void fail(const foundation::Error& error);
  void pingNoFillURLs();
  void pingClickURLs();
  void pingImpressionURLs();
  void pingConfiguration(const std::optional<std::vector<std::string>>& templates, const char* defaultPath);
  static std::string classNameOf(const Connector& connector);
  std::shared_ptr<Connector> connectorFor(const Connector& connector) const;

  std::weak_ptr<QMARewardBasedVideoAdMediationHost> rewardBasedVideoAd_;
  std::shared_ptr<QMAMConfig> mediationConfig_;
  std::vector<std::shared_ptr<Connector>> pendingAdRequestConnectors_;
  std::shared_ptr<Connector> requestingConnector_;
  // Counts the networks asked: a time-out belongs to one request, not to the connector,
  // which is reused across loads and may stand in the queue more than once.
  std::uint64_t adRequestGeneration_ = 0;
  std::shared_ptr<Connector> receivedConnector_;
  std::map<std::string, std::uint64_t> pendingSetUpConnectorsTimestamp_;
  std::map<std::string, std::shared_ptr<Connector>> connectors_;
};
