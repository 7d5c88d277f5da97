#include "ads/slots/native/app_event_ad_loader.h"

#include "ads/services/utilities.h"
#include "ads/model/ad_size.h"
#include "ads/slots/kvr_banner_view.h"
#include "ads/slots/native/ad_loader.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"

std::shared_ptr<QMAAppEventAdLoader> QMAAppEventAdLoader::initWithAdUnitIDRootViewControllerAdTypesAdLoaderOptions(
    const std::optional<std::string>& adUnitID, const std::shared_ptr<uikit::ViewController>& rootViewController,
    const std::set<std::string>& adTypes, const std::optional<QMAAdLoaderOptionsByClass>& adLoaderOptions) {
  std::shared_ptr<QMAAppEventAdLoader> loader(new QMAAppEventAdLoader());
  loader->adUnitID_ = adUnitID;
  loader->rootViewController_ = rootViewController;
  loader->adTypes_ = adTypes;
  loader->adLoaderOptions_ = adLoaderOptions;
  return loader;
}

QMAAppEventAdLoader::~QMAAppEventAdLoader() {
  cancelBannerView();
  if (loadingNativeAd_) loadingNativeAd_->setLoadingDelegate({});
}

bool QMAAppEventAdLoader::respondsToSelector(std::string_view selector) const {
  return selector == QMABannerViewDelegate::kAdViewDidReceiveAd ||
         selector == QMABannerViewDelegate::kAdViewDidFailToReceiveAdWithError ||
         selector == QMAAppEventDelegate::kAdViewDidReceiveAppEventWithInfo;
}

void QMAAppEventAdLoader::loadRequest(const std::shared_ptr<QMARequest>& request) {
  WV_DCHECK_MAIN_THREAD();
  cancel();
  auto banner = KVRBannerView::initWithAdSize(kQMAAdSizeBanner);
  banner->setAdUnitID(adUnitID_);
  banner->setRootViewController(rootViewController_.lock());
  banner->setEnableManualImpressions(true);
  auto self = shared_from_this();
  banner->setDelegate(std::static_pointer_cast<QMABannerViewDelegate>(self));
  banner->setAppEventDelegate(std::static_pointer_cast<QMAAppEventDelegate>(self));
  loadingBannerView_ = banner;

  foundation::Array formatParameters;
  std::map<std::string, foundation::Dictionary> byClass;
  auto adLoader = delegate() ? delegate()->adLoaderForAppEventAdLoader(*this) : nullptr;
  for (const auto& name : adTypes_) {
    const QMANativeAdClass* cls = QMANativeAdClassNamed(name);
    if (!cls || !adLoader) continue;
    foundation::Dictionary parameters = cls->requestParametersForAdLoader(*adLoader);
    if (parameters.empty()) continue;
    formatParameters.emplace_back(parameters);
    byClass[name] = std::move(parameters);
  }
  adClassRequestParameters_ = std::move(byClass);
  foundation::Dictionary merged;
  if (adLoaderOptions_)
    for (const auto& [name, option] : *adLoaderOptions_)
      if (auto p = option->requestParameters())
        for (const auto& [k, v] : *p) merged.insert_or_assign(k, v);

  auto copy = request ? request->copy() : QMARequest::request();
  copy->setFormatParameters(std::move(formatParameters));
  copy->setResponseType(QMAAdResponseTypeHTML);
  copy->addAdditionalParametersFromDictionary(merged);
  banner->loadRequest(copy);
}

void QMAAppEventAdLoader::adViewDidReceiveAd(QMABannerView& banner) {
  // The banner has its creative: its app event must come within the wait. The wait knows
  // the banner by identity, so a banner already let go (its event came) never fails it.
  std::weak_ptr<QMAAppEventAdLoader> weak = weak_from_this();
  const QMABannerView* which = &banner;
  dispatch::after(kAppEventTimeout, dispatch::Queue::main(), [weak, which] {
    auto self = weak.lock();
    if (!self || self->loadingBannerView_.get() != which) return;
    self->failedToLoadAdWithError(QMARequestError::errorWithCodeCustomMessage(
        QMARequestErrorCodeTimeout, std::string("Failed to receive ad configuration.")));
  });
}

void QMAAppEventAdLoader::adViewDidFailToReceiveAdWithError(QMABannerView& banner, const QMARequestError& error) {
  if (&banner != loadingBannerView_.get()) return;
  auto keep = loadingBannerView_;
  failedToLoadAdWithError(error);
}

void QMAAppEventAdLoader::adViewDidReceiveAppEventWithInfo(KVRBannerView& banner, const std::string& name,
                                                           const std::optional<std::string>& info) {
  if (&banner != loadingBannerView_.get()) return;
  auto keep = loadingBannerView_;
  auto self = shared_from_this();
  auto decoded = info ? qma_decodedJSONObjectError(*info) : std::nullopt;
  // Only an object is a configuration.
  if (name == kAppEventName && decoded && decoded->asDictionary()) {
    auto slot = keep->slot();  // taken before the banner goes
    cancelBannerView();
    loadAssetsForAdConfigurationAdUnitIDSlot(*decoded, adUnitID_, slot);
    return;
  }
  failedToLoadAdWithError(QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInternalError,
                                                                      std::string("Received malformed ad data.")));
}

void QMAAppEventAdLoader::loadAssetsForAdConfigurationAdUnitIDSlot(const foundation::Value& configuration,
                                                                  const std::optional<std::string>& adUnitID,
                                                                  const std::shared_ptr<QMASlot>& slot) {
  auto className = QMANativeAd::classFromAdConfigurationDictionary(configuration);
  if (!className || !adTypes_.count(*className)) {
    failedToLoadAdWithError(QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInternalError,
                                                                        std::string("Received invalid ad response.")));
    return;
  }
  const QMANativeAdClass* cls = QMANativeAdClassNamed(*className);
  std::shared_ptr<QMANativeAd> ad;
  if (auto adObject = QMANativeAd::firstAdObjectInAdConfigurationDictionary(configuration); adObject && cls)
    ad = cls->initWithDictionaryOptions(std::move(*adObject), adLoaderOptions_);
  std::optional<foundation::Dictionary> parameters;
  if (auto it = adClassRequestParameters_.find(*className); it != adClassRequestParameters_.end())
    parameters = it->second;
  if (!ad || !ad->hasValidConfigurationForRequestParameters(parameters)) {
    failedToLoadAdWithError(QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeInternalError,
                                                                        std::string("Received malformed ad data.")));
    return;
  }
  ad->setAdUnitID(adUnitID);
  ad->setRootViewController(rootViewController_);
  ad->setLoadingDelegate(std::static_pointer_cast<QMANativeAdLoadDelegate>(shared_from_this()));
  ad->setSlot(slot);
  loadingNativeAd_ = ad;
  ad->loadAssets();
}

void QMAAppEventAdLoader::nativeAdDidFinishLoadingAssets(QMANativeAd& ad) {
  if (&ad != loadingNativeAd_.get()) return;
  auto self = shared_from_this();
  auto delivered = loadingNativeAd_;
  loadingNativeAd_.reset();
  adClassRequestParameters_.clear();
  if (auto d = delegate()) d->appEventAdLoaderDidReceiveAd(*this, delivered);
}

void QMAAppEventAdLoader::nativeAdDidFailToLoadRequiredAssets(QMANativeAd& ad) {
  if (&ad != loadingNativeAd_.get()) return;
  failedToLoadAdWithError(QMARequestError::errorWithCodeCustomMessage(QMARequestErrorCodeNetworkError,
                                                                      std::string("Couldn't load native ad assets.")));
}

void QMAAppEventAdLoader::failedToLoadAdWithError(const std::optional<QMARequestError>& error) {
  auto self = shared_from_this();
  cancel();
  const QMARequestError e = error.value_or(QMARequestError::errorWithCodeCustomMessage(
      QMARequestErrorCodeNetworkError, std::string("Couldn't load ad.")));
  if (auto d = delegate()) d->appEventAdLoaderDidFailToReceiveAdWithError(*this, e);
}

void QMAAppEventAdLoader::cancel() {
  cancelBannerView();
  cancelNativeAd();
}

void QMAAppEventAdLoader::cancelBannerView() {
  if (!loadingBannerView_) return;
  loadingBannerView_->setDelegate({});
  loadingBannerView_->setAppEventDelegate({});
  loadingBannerView_.reset();
}

void QMAAppEventAdLoader::cancelNativeAd() {
  // Detaching: the ad no longer reports here; its slot is left as it is.
  if (loadingNativeAd_) loadingNativeAd_->setLoadingDelegate({});
  loadingNativeAd_.reset();
  adClassRequestParameters_.clear();
}
