#pragma once
// QMAAdLoader: the public object through which a host asks for native ads. The host names
// the kinds it can show ("1" content, "2" app install, "3" custom template), may give
// options, sets a delegate adopting the typed protocol of every kind, and loads requests.
//
// Slot road: the loader's own slot asks for a native response (response type 3) with the
// format parameters of every kind; the response goes through an ad preprocessor (the
// support page), whose configuration becomes a native ad of the right class; once the ad
// has loaded its assets the delegate gets it. App-event road (the server constant
// "/quillon/ads/native_ad_load_with_app_events"): a QMAAppEventAdLoader gets the same
// configuration from a publisher-edition banner's app event.
//
// Every load ends with exactly one message to the delegate: the ad, or an error. The slot's
// own failures (the SDK core's page, an invalid request, a fetch) reach it too, once.
//
// Threads: main thread. adClassRequestParameters is kept on the serial queue
// "com.quillon.pelmark.adloader" (written asynchronously, read synchronously).

#include <any>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ads/slots/native/ad_loader_delegate.h"
#include "ads/slots/native/ad_loader_options.h"
#include "ads/slots/native/ad_preprocessor.h"
#include "ads/slots/native/app_event_ad_loader.h"
#include "ads/slots/native/native_ad.h"
#include "ads/slots/native/native_app_install_ad_source.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/queue.h"

// What the loader knows of each native ad class (the class side of QMAAdLoading).
struct QMANativeAdClass {
  const char* name;
  const char* requiredDelegateProtocol;
  bool (*conformsToRequiredDelegateProtocol)(const QMAAdLoaderDelegate* delegate);
  foundation::Dictionary (*requestParametersForAdLoader)(QMAAdLoader& adLoader);
  std::shared_ptr<QMANativeAd> (*initWithDictionaryOptions)(foundation::Dictionary adObject,
                                                            const std::optional<QMAAdLoaderOptionsByClass>& options);
};
// The class of that name; null for any other name.
const QMANativeAdClass* QMANativeAdClassNamed(std::string_view name);
// The conformance error (internal code 3) for a delegate that lacks a class's protocol.
foundation::Error QMAAdLoaderConformanceError(const QMANativeAdClass& cls, const QMAAdLoaderDelegate& delegate);

class QMAAdLoader : public QMASlotDelegate,
                    public QMASlotAdEventDelegate,
                    public QMASlotAdResponseDelegate,
                    public QMANativeAdLoadDelegate,
                    public QMAAppEventAdLoaderDelegate,
                    public QMAAdMediationDelegate,
                    public QMANativeAppInstallAdSourceReceiver,
                    public std::enable_shared_from_this<QMAAdLoader> {
 public:
  static constexpr const char* kAppEventsSwitchKey = "/quillon/ads/native_ad_load_with_app_events";
  static constexpr const char* kConnectorClassName = "QMAMAdNetworkConnectorNativeAd";

  // Null (with a log) for an ad type that is no kind, or none at all. `adTypes` holds the
  // type strings; `options` holds QMAAdLoaderOptions objects (as
  // std::shared_ptr<QMAAdLoaderOptions> or std::shared_ptr<QMANativeAdImageAdLoaderOptions>);
  // anything else in it is ignored with a log.
  static std::shared_ptr<QMAAdLoader> initWithAdUnitIDRootViewControllerAdTypesOptions(
      const std::optional<std::string>& adUnitID, const std::shared_ptr<uikit::ViewController>& rootViewController,
      const foundation::Array& adTypes, const std::optional<std::vector<std::any>>& options);
  ~QMAAdLoader() override;

  std::shared_ptr<QMAAdLoaderDelegate> delegate() const { return delegate_.lock(); }
  // Refused (with a log; the delegate stays) unless it adopts every kind's protocol.
  void setDelegate(const std::shared_ptr<QMAAdLoaderDelegate>& delegate);
  const std::optional<std::string>& adUnitID() const { return adUnitID_; }
  void loadRequest(const std::shared_ptr<QMARequest>& request);

  // ---- for the other native parts and tests
  const std::set<std::string>& adTypes() const { return adTypes_; }
  std::shared_ptr<uikit::ViewController> rootViewController() override { return rootViewController_.lock(); }
  const std::optional<QMAAdLoaderOptionsByClass>& adLoaderOptions() const { return adLoaderOptions_; }
  std::map<std::string, foundation::Dictionary> adClassRequestParameters() const;
  void setAdClassRequestParameters(std::map<std::string, foundation::Dictionary> parameters);
  const std::vector<std::shared_ptr<QMAAppEventAdLoader>>& appEventAdLoaders() const { return appEventAdLoaders_; }
  const std::vector<std::shared_ptr<QMAAdPreprocessor>>& adPreprocessors() const { return adPreprocessors_; }
  const std::vector<std::shared_ptr<QMANativeAd>>& nativeAds() const { return nativeAds_; }
  const std::shared_ptr<QMASlot>& slot() const { return slot_; }

  // ---- QMASlotDelegate
  std::optional<uikit::Rect> frame() override;
  std::optional<uikit::Rect> bounds() override { return frame(); }
  // The slot took the request (it tells nothing when it drops one).
  void slotWillLoadAdWithRequest(QMASlot& slot, const std::shared_ptr<QMARequest>&) override;
  // ---- QMASlotAdEventDelegate: the slot's failures before a response
  void slotFinishedLoadingAdContent(QMASlot&) override {}
  void slotDidFailToLoadAdContentWithError(QMASlot& slot, const QMARequestError& error) override;
  // ---- QMASlotAdResponseDelegate
  bool slotDidReceiveAd(QMASlot& slot, const std::shared_ptr<QMAAd>& ad) override;
  void slotDidFailToReceiveAdWithError(QMASlot& slot, const std::optional<QMARequestError>& error) override;
  // ---- QMANativeAdLoadDelegate
  void nativeAdDidFinishLoadingAssets(QMANativeAd& ad) override;
  void nativeAdDidFailToLoadRequiredAssets(QMANativeAd& ad) override;
  // ---- QMAAppEventAdLoaderDelegate
  void appEventAdLoaderDidReceiveAd(QMAAppEventAdLoader& loader, const std::shared_ptr<QMANativeAd>& ad) override;
  void appEventAdLoaderDidFailToReceiveAdWithError(QMAAppEventAdLoader& loader, const QMARequestError& error) override;
  std::shared_ptr<QMAAdLoader> adLoaderForAppEventAdLoader(QMAAppEventAdLoader&) override { return shared_from_this(); }
  // ---- QMAAdMediationDelegate: a mediated source is dropped
  std::string connectorClassForAd(const std::shared_ptr<QMAAd>&) override { return kConnectorClassName; }
  void adDidReceiveNativeAppInstallAdSource(const std::shared_ptr<QMAAd>&,
                                            const std::shared_ptr<QMANativeAppInstallAdSource>&) override {}

  // The preprocessor's answer (main queue).
  void preprocessorDidComplete(const std::shared_ptr<QMAAdPreprocessor>& preprocessor,
                               const std::optional<foundation::Value>& configuration,
                               const std::shared_ptr<QMASlot>& slot);

 private:
  QMAAdLoader() = default;
  void reportError(const QMARequestError& error);
  // A slot failure of the load in progress, once.
  void reportSlotFailure(const QMARequestError& error);
  void deliverAd(QMANativeAd& ad);
  void removeNativeAd(const QMANativeAd& ad);

  std::shared_ptr<QMASlot> slot_;
  dispatch::QueuePtr lockQueue_;
  std::optional<QMAAdLoaderOptionsByClass> adLoaderOptions_;
  std::map<std::string, foundation::Dictionary> adClassRequestParameters_;  // on lockQueue_
  std::weak_ptr<QMAAdLoaderDelegate> delegate_;
  std::set<std::string> adTypes_;
  std::optional<std::string> adUnitID_;
  std::weak_ptr<uikit::ViewController> rootViewController_;
  std::vector<std::shared_ptr<QMAAppEventAdLoader>> appEventAdLoaders_;
  std::vector<std::shared_ptr<QMAAdPreprocessor>> adPreprocessors_;
  std::vector<std::shared_ptr<QMANativeAd>> nativeAds_;
  // Whether the slot road's load in progress has had its outcome (or handed it on).
  bool slotLoadSettled_ = true;
  bool slotTookLoad_ = false;
};
