#pragma once
// QMAAppEventAdLoader: the ad loader's second road to a native ad. It loads a
// publisher-edition banner (never shown) with the native format parameters; the banner's
// creative delivers the native ad configuration as the app event "native_ad_content"
// whose info is the configuration's JSON text. The loader builds the native ad from it,
// lets it load its assets in the banner's slot (so its clicks reach the creative's page)
// and reports to the ad loader, once per load.
//
// Threads: main thread (banner callbacks, app events, asset results, the wait).

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "ads/slots/app_event_delegate.h"
#include "ads/slots/banner_view.h"
#include "ads/slots/native/ad_loader_options.h"
#include "ads/slots/native/native_ad.h"
#include "ads/model/request_error.h"

class KVRBannerView;
class QMAAdLoader;
class QMAAppEventAdLoader;

class QMAAppEventAdLoaderDelegate {
 public:
  virtual ~QMAAppEventAdLoaderDelegate() = default;
  virtual void appEventAdLoaderDidReceiveAd(QMAAppEventAdLoader& loader, const std::shared_ptr<QMANativeAd>& ad) = 0;
  virtual void appEventAdLoaderDidFailToReceiveAdWithError(QMAAppEventAdLoader& loader,
                                                           const QMARequestError& error) = 0;
  virtual std::shared_ptr<QMAAdLoader> adLoaderForAppEventAdLoader(QMAAppEventAdLoader& loader) = 0;
};

class QMAAppEventAdLoader : public QMABannerViewDelegate,
                            public QMAAppEventDelegate,
                            public QMANativeAdLoadDelegate,
                            public std::enable_shared_from_this<QMAAppEventAdLoader> {
 public:
  static constexpr const char* kAppEventName = "native_ad_content";
  static constexpr double kAppEventTimeout = 5.0;

  static std::shared_ptr<QMAAppEventAdLoader> initWithAdUnitIDRootViewControllerAdTypesAdLoaderOptions(
      const std::optional<std::string>& adUnitID, const std::shared_ptr<uikit::ViewController>& rootViewController,
      const std::set<std::string>& adTypes, const std::optional<QMAAdLoaderOptionsByClass>& adLoaderOptions);
  ~QMAAppEventAdLoader() override;

  std::shared_ptr<QMAAppEventAdLoaderDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAAppEventAdLoaderDelegate> delegate) { delegate_ = std::move(delegate); }
  void loadRequest(const std::shared_ptr<QMARequest>& request);

  // ---- the banner's side
  bool respondsToSelector(std::string_view selector) const override;
  void adViewDidReceiveAd(QMABannerView& banner) override;
  void adViewDidFailToReceiveAdWithError(QMABannerView& banner, const QMARequestError& error) override;
  void adViewDidReceiveAppEventWithInfo(KVRBannerView& banner, const std::string& name,
                                        const std::optional<std::string>& info) override;
  // ---- the native ad's side
  void nativeAdDidFinishLoadingAssets(QMANativeAd& ad) override;
  void nativeAdDidFailToLoadRequiredAssets(QMANativeAd& ad) override;

  void cancel();
  void failedToLoadAdWithError(const std::optional<QMARequestError>& error);
  void loadAssetsForAdConfigurationAdUnitIDSlot(const foundation::Value& configuration,
                                                const std::optional<std::string>& adUnitID,
                                                const std::shared_ptr<QMASlot>& slot);

  const std::shared_ptr<KVRBannerView>& loadingBannerView() const { return loadingBannerView_; }
  const std::shared_ptr<QMANativeAd>& loadingNativeAd() const { return loadingNativeAd_; }
  const std::map<std::string, foundation::Dictionary>& adClassRequestParameters() const {
    return adClassRequestParameters_;
  }

 private:
  QMAAppEventAdLoader() = default;
  void cancelBannerView();
  void cancelNativeAd();

  std::optional<std::string> adUnitID_;
  std::shared_ptr<KVRBannerView> loadingBannerView_;
  std::shared_ptr<QMANativeAd> loadingNativeAd_;
  std::weak_ptr<uikit::ViewController> rootViewController_;
  std::set<std::string> adTypes_;
  std::map<std::string, foundation::Dictionary> adClassRequestParameters_;
  std::optional<QMAAdLoaderOptionsByClass> adLoaderOptions_;
  std::weak_ptr<QMAAppEventAdLoaderDelegate> delegate_;
};
