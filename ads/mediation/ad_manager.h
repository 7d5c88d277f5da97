#pragma once
// The mediation manager that each slot owns: it walks the configuration's ad networks one
// at a time (the waterfall), each with a connector of the class the ad's format names, the
// network's adapter and a time-out. The first network that delivers wins; a failure or a
// time-out moves on; when none is left the no-fill ping goes out and the slot hears request
// error 9. Each network's outcome is kept in the slot statistics as an exit code with its
// duration (0 ad, 1 no fill, 2 error, 3 time-out, 4 no adapter class), reported with the
// next impression or no-fill ping.
//
// Only the connector being asked and the one whose ad is shown are heard: an answer from
// any connector the manager let go of (after a time-out, a cancel, a failure) changes
// nothing, not even the time-out of the network being asked now.
//
// Once the host has asked to present a mediated interstitial, a failure from its network
// is the presentation's: the slot hears it with its pending actions cancelled (a request
// error of the component's own domain unchanged, 11 for one in the platform's refusal;
// another network's as 11 describing it), and the waterfall does not go on. What the host
// hears when a network's own code presents is what that network reports.
//
// The slot has the manager made when it is made, by the maker install() puts in; the slot
// cancels it before it loads any new ad and when it cancels its pending actions.
//
// Threads: main thread (checked); a request made from another thread moves itself there.

#include <cstdint>
#include <deque>
#include <memory>

#include "ads/mediation/mediation_config.h"
#include "ads/mediation/network_connector.h"
#include "ads/services/scheduler.h"
#include "ads/slots/slot_mediation_manager.h"

class QMAMAdManager : public QMASlotMediationManager, public std::enable_shared_from_this<QMAMAdManager> {
 public:
  static std::shared_ptr<QMAMAdManager> init();
  // Makes every slot made from now on own a manager of this class (the ad component's
  // start-up does it once; idempotent).
  static void install();
  // Detaches its connectors.
  ~QMAMAdManager() override;

  std::shared_ptr<QMASlot> slot() const override { return slot_.lock(); }
  void setSlot(std::weak_ptr<QMASlot> slot) override { slot_ = std::move(slot); }
  const std::shared_ptr<QMAMConfig>& config() const { return config_; }
  const std::shared_ptr<QMAAdType>& adType() const { return adType_; }
  const std::shared_ptr<QMAMAdNetworkConnector>& requestingConnector() const { return requestingConnector_; }
  const std::shared_ptr<QMAMAdNetworkConnector>& receivedConnector() const { return receivedConnector_; }
  const std::shared_ptr<QMATimer>& adNetworkTimeoutTimer() const { return adNetworkTimeoutTimer_; }
  bool requestInProgress() const { return requestInProgress_; }
  // Goes up with every cancel: a mediation step queued before it does not run after it.
  std::int64_t pendingActionGroup() const { return pendingActionGroup_; }
  std::size_t queuedNetworkCount() const { return networkQueue_.size(); }

  // ---- QMASlotMediationManager
  void cancel() override;
  std::shared_ptr<QMAMConfig> configurationWithAppKeyBodyError(const std::optional<std::string>& appKey,
                                                               const std::string& body,
                                                               std::optional<QMARequestError>* error) override;
  std::shared_ptr<QMAAdType> adTypeOfConfiguration(const QMAMConfig& config) const override { return config.adType(); }
  void setAdTypeOfConfiguration(QMAMConfig& config, std::shared_ptr<QMAAdType> type) const override {
    config.setAdType(std::move(type));
  }
  double refreshIntervalOfConfiguration(const QMAMConfig& config) const override { return config.refreshInterval(); }
  void mediateForAdTypeConfig(const std::shared_ptr<QMAAdType>& type, const std::shared_ptr<QMAMConfig>& config) override;
  bool changeAdTypeTo(const std::shared_ptr<QMAAdType>& type) override;
  void presentInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>& root) override;
  std::optional<std::string> receivedAdapterClassName() const override;

  void cancelPendingActions();
  void makeAdRequest();
  void reportNoFill();

  // ---- QMAMConnectorDelegate: what connectors report
  void adRequestReturnsFromConnectorWithView(QMAMAdNetworkConnector& connector, const std::shared_ptr<uikit::View>& view);
  void adRequestReturnsFromConnectorWithInterstitial(QMAMAdNetworkConnector& connector,
                                                     const std::shared_ptr<void>& interstitial);
  void adRequestFailedFromConnectorWithError(QMAMAdNetworkConnector& connector, const foundation::Error& error);
  // A native app-install ad: wrapped in a QMANativeAppInstallAdSource whose click and
  // impression report the connector's pings, and handed to the ad's format when it takes
  // mediated native ads (QMANativeAppInstallAdSourceReceiver); a format that does not is
  // passed by (the next network is asked). Only the first native ad of a waterfall counts.
  void adRequestReturnsFromConnectorWithForwardingNativeAppInstallAd(
      QMAMAdNetworkConnector& connector, const std::shared_ptr<QMAForwardingNativeAppInstallAd>& ad);

 private:
  QMAMAdManager() = default;
  std::shared_ptr<QMAMAdNetworkConfig> dequeueAdNetworkConfig();
  bool shouldProcessResponseFromConnector(const QMAMAdNetworkConnector& connector);
  void resetRequestingState();
  void stopTimer();
  void recordExitCode(long code);
  void endWaterfallWithError(long code);
  void becomeReceivedConnector(QMAMAdNetworkConnector& connector);
  void adNetworkTimedOut();
  static QMARequestError presentationError(const foundation::Error& error);
  // Lets a connector go: it reports to this manager no more.
  void release(const std::shared_ptr<QMAMAdNetworkConnector>& connector);

  std::weak_ptr<QMASlot> slot_;
  std::shared_ptr<QMAMConfig> config_;
  std::shared_ptr<QMAAdType> adType_;
  std::shared_ptr<QMAMAdNetworkConnector> requestingConnector_;
  std::shared_ptr<QMAMAdNetworkConnector> receivedConnector_;
  // The received connector once the host asked to present its interstitial.
  std::weak_ptr<QMAMAdNetworkConnector> presentedConnector_;
  std::shared_ptr<QMATimer> adNetworkTimeoutTimer_;
  std::deque<std::shared_ptr<QMAMAdNetworkConfig>> networkQueue_;
  bool requestInProgress_ = false;
  std::int64_t pendingActionGroup_ = 0;
};
