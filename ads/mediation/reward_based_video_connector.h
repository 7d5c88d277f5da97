#pragma once
// Reward-based video ads come from reward adapters that the host application writes: a
// class registered by name in the runtime's class registry that adopts
// QMAMRewardBasedVideoAdNetworkAdapter (runtime::Class::addProtocol) and whose instances
// serve the C++ interface of the same name. Each adapter talks only to its connector
// (QMAMRewardBasedVideoAdNetworkConnector): the connector gives it the network's
// credentials and the request's targeting, sets it up, asks it for an ad and to present
// it, turns its callbacks into the network's pings, and reports to its delegate (the
// reward-based video ad's mediation) and, once its ad is shown, to the host's delegate.
//
// Threads: adapters may call their connector on any thread; the connector hands every
// callback to the main thread, where the mediation runs (checked there).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/mediation/mediation_config.h"
#include "ads/model/ad_type.h"
#include "ads/model/request.h"
#include "ads/slots/reward_based_video_ad_mediation.h"
#include "platform/foundation/error.h"

class QMAMRewardBasedVideoAdNetworkConnector;
class QMAMRewardBasedVideoAdNetworkConnectorProtocol;

namespace uikit {
class ViewController;
}

// The public adapter interface (every method required). The connector makes the adapter
// from its class's factory and calls initWithQMAMAdNetworkConnector before anything else.
class QMAMRewardBasedVideoAdNetworkAdapter {
 public:
  virtual ~QMAMRewardBasedVideoAdNetworkAdapter() = default;
  // Keeps the connector (weakly) for its callbacks.
  virtual void initWithQMAMAdNetworkConnector(std::weak_ptr<QMAMRewardBasedVideoAdNetworkConnectorProtocol> connector) = 0;
  // Prepares the network; answers adapterDidSetUpRewardBasedVideoAd or the set-up failure.
  virtual void setUpWithUserID(const std::optional<std::string>& userID) = 0;
  // Loads an ad; answers adapterDidReceiveRewardBasedVideoAd or the load failure.
  virtual void requestRewardBasedVideoAd() = 0;
  virtual void presentRewardBasedVideoAdWithRootViewController(const std::shared_ptr<uikit::ViewController>& root) = 0;
  virtual void stopBeingDelegate() = 0;
};

// What an adapter may call on its connector (the protocol of the connector class's name).
class QMAMRewardBasedVideoAdNetworkConnectorProtocol {
 public:
  virtual ~QMAMRewardBasedVideoAdNetworkConnectorProtocol() = default;
  virtual std::optional<std::string> publisherId() const = 0;
  virtual foundation::Dictionary credentials() const = 0;
  virtual bool testMode() const = 0;
  virtual std::shared_ptr<QMAAdNetworkExtras> networkExtras() const = 0;
  virtual std::optional<bool> childDirectedTreatment() const = 0;
  virtual long userGender() const = 0;
  virtual std::optional<foundation::Date> userBirthday() const = 0;
  virtual bool userHasLocation() const = 0;
  virtual double userLatitude() const = 0;
  virtual double userLongitude() const = 0;
  virtual double userLocationAccuracyInMeters() const = 0;
  virtual std::optional<std::string> userLocationDescription() const = 0;
  virtual std::vector<std::string> userKeywords() const = 0;

  virtual void adapterDidSetUpRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter& adapter) = 0;
  virtual void adapterDidFailToSetUpRewardBasedVideoAdWithError(QMAMRewardBasedVideoAdNetworkAdapter& adapter,
                                                                const foundation::Error& error) = 0;
  virtual void adapterDidGetAdClick(QMAMRewardBasedVideoAdNetworkAdapter& adapter) = 0;
  virtual void adapterDidReceiveRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter& adapter) = 0;
  virtual void adapterDidOpenRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter& adapter) = 0;
  virtual void adapterDidStartPlayingRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter& adapter) = 0;
  virtual void adapterDidCloseRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter& adapter) = 0;
  virtual void adapterDidRewardUserWithReward(QMAMRewardBasedVideoAdNetworkAdapter& adapter,
                                              const std::shared_ptr<QMAAdReward>& reward) = 0;
  virtual void adapterWillLeaveApplication(QMAMRewardBasedVideoAdNetworkAdapter& adapter) = 0;
  // The lower-case "with" is the message's own spelling.
  virtual void adapterDidFailToLoadRewardBasedVideoAdwithError(QMAMRewardBasedVideoAdNetworkAdapter& adapter,
                                                               const foundation::Error& error) = 0;
};

// What the connector reports to the reward-based video ad's mediation (main thread).
class QMAMRewardBasedVideoAdConnectorDelegate {
 public:
  virtual ~QMAMRewardBasedVideoAdConnectorDelegate() = default;
  virtual void connectorDidSetUpRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkConnector& connector) = 0;
  virtual void connectorDidFailToSetUpRewardBasedVideoAdWithError(QMAMRewardBasedVideoAdNetworkConnector& connector,
                                                                  const foundation::Error& error) = 0;
  virtual void connectorDidReceiveRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkConnector& connector) = 0;
  virtual void connectorDidFailToReceiveRewardBasedVideoAdWithError(QMAMRewardBasedVideoAdNetworkConnector& connector,
                                                                    const foundation::Error& error) = 0;
  virtual void connectorDidReceiveClick(QMAMRewardBasedVideoAdNetworkConnector& connector) = 0;
  virtual void connectorDidRewardUserWithReward(QMAMRewardBasedVideoAdNetworkConnector& connector,
                                                const std::shared_ptr<QMAAdReward>& reward) = 0;
};

class QMAMRewardBasedVideoAdNetworkConnector : public QMAMRewardBasedVideoAdNetworkConnectorProtocol,
                                               public std::enable_shared_from_this<QMAMRewardBasedVideoAdNetworkConnector> {
 public:
  static std::shared_ptr<QMAMRewardBasedVideoAdNetworkConnector> init();
  // Tells its adapter to stop being its delegate.
  ~QMAMRewardBasedVideoAdNetworkConnector() override;

  const std::shared_ptr<QMAMRewardBasedVideoAdNetworkAdapter>& adapter() const { return adapter_; }
  const std::shared_ptr<QMAMConfig>& mediationConfig() const { return mediationConfig_; }
  void setMediationConfig(std::shared_ptr<QMAMConfig> config) { mediationConfig_ = std::move(config); }
  const std::shared_ptr<QMAMAdNetworkConfig>& adNetworkConfig() const { return adNetworkConfig_; }
  // Ignored when the connector has an entry of another adapter class.
  void setAdNetworkConfig(const std::shared_ptr<QMAMAdNetworkConfig>& config);
  std::shared_ptr<QMARewardBasedVideoAdHostDelegateMessages> rewardBasedVideoAd() const { return rewardBasedVideoAd_.lock(); }
  void setRewardBasedVideoAd(std::weak_ptr<QMARewardBasedVideoAdHostDelegateMessages> ad) {
    rewardBasedVideoAd_ = std::move(ad);
  }
  std::shared_ptr<QMAMRewardBasedVideoAdConnectorDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAMRewardBasedVideoAdConnectorDelegate> delegate) { delegate_ = std::move(delegate); }
  const std::shared_ptr<QMARequest>& request() const { return request_; }
  void setRequest(const std::shared_ptr<QMARequest>& request) { request_ = request ? request->copy() : nullptr; }
  bool isLocationShared() const { return isLocationShared_; }

  // Makes the adapter at the first set-up (failures reach the delegate before this
  // returns: 7 without an entry, 8 without an adapter class or with one that does not
  // adopt the adapter protocol), then sends it the user ID.
  void setUpAdapterWithUserID(const std::optional<std::string>& userID);
  void requestRewardBasedVideoAd();
  // The network's impression ping, then the adapter presents.
  void presentRewardBasedVideoAdFromRootViewController(const std::shared_ptr<uikit::ViewController>& root);
  void askAdapterToStopBeingDelegate();
  void pingURLsDefaultTemplate(const std::optional<foundation::Array>& urls, const std::optional<std::string>& defaultTemplate);
  void pingClickURLs();
  void pingImpressionURLs();
  void pingVideoStartPlayingURLs();
  void pingRewardedUserURLs();
  std::shared_ptr<QMALocation> userLocation() const { return request_ ? request_->location() : nullptr; }

  // ---- QMAMRewardBasedVideoAdNetworkConnectorProtocol
  std::optional<std::string> publisherId() const override;
  foundation::Dictionary credentials() const override { return networkData_; }
  bool testMode() const override { return request_ && request_->isATestDevice(); }
  std::shared_ptr<QMAAdNetworkExtras> networkExtras() const override;
  std::optional<bool> childDirectedTreatment() const override;
  long userGender() const override { return request_ ? request_->gender() : 0; }
  std::optional<foundation::Date> userBirthday() const override;
  bool userHasLocation() const override { return isLocationShared_ && userLocation() != nullptr; }
  double userLatitude() const override;
  double userLongitude() const override;
  double userLocationAccuracyInMeters() const override;
  std::optional<std::string> userLocationDescription() const override;
  std::vector<std::string> userKeywords() const override;

  void adapterDidSetUpRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter& adapter) override;
  void adapterDidFailToSetUpRewardBasedVideoAdWithError(QMAMRewardBasedVideoAdNetworkAdapter& adapter,
                                                        const foundation::Error& error) override;
  void adapterDidGetAdClick(QMAMRewardBasedVideoAdNetworkAdapter& adapter) override;
  void adapterDidReceiveRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter& adapter) override;
  void adapterDidOpenRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter& adapter) override;
  void adapterDidStartPlayingRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter& adapter) override;
  void adapterDidCloseRewardBasedVideoAd(QMAMRewardBasedVideoAdNetworkAdapter& adapter) override;
  void adapterDidRewardUserWithReward(QMAMRewardBasedVideoAdNetworkAdapter& adapter,
                                      const std::shared_ptr<QMAAdReward>& reward) override;
  void adapterWillLeaveApplication(QMAMRewardBasedVideoAdNetworkAdapter& adapter) override;
  void adapterDidFailToLoadRewardBasedVideoAdwithError(QMAMRewardBasedVideoAdNetworkAdapter& adapter,
                                                       const foundation::Error& error) override;

 private:
  QMAMRewardBasedVideoAdNetworkConnector() = default;
  // Runs the report on the main thread, at once there.
  void onMainThread(std::function<void(QMAMRewardBasedVideoAdNetworkConnector&)> report);
  std::optional<std::string> qdata() const;

  std::shared_ptr<QMAMRewardBasedVideoAdNetworkAdapter> adapter_;
  foundation::Dictionary networkData_;
  bool isLocationShared_ = false;
  std::shared_ptr<QMAMConfig> mediationConfig_;
  std::shared_ptr<QMAMAdNetworkConfig> adNetworkConfig_;
  std::weak_ptr<QMARewardBasedVideoAdHostDelegateMessages> rewardBasedVideoAd_;
  std::weak_ptr<QMAMRewardBasedVideoAdConnectorDelegate> delegate_;
  std::shared_ptr<QMARequest> request_;
};
