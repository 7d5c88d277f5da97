#include "ads/slots/native/native_app_install_ad_source.h"

std::shared_ptr<QMANativeAppInstallAdSource> QMANativeAppInstallAdSource::initWithForwardingNativeAppInstallAd(
    std::shared_ptr<QMAForwardingNativeAppInstallAd> ad) {
  if (!ad) return nullptr;
  auto source = std::make_shared<QMANativeAppInstallAdSource>();
  source->headline_ = ad->headline();
  source->images_ = ad->images();
  source->imagesURLs_ = ad->imagesURLs();
  source->body_ = ad->body();
  source->icon_ = ad->icon();
  source->callToAction_ = ad->callToAction();
  source->starRating_ = ad->starRating();
  source->store_ = ad->store();
  source->price_ = ad->price();
  source->extras_ = ad->extras();
  source->forwardingNativeAppInstallAd_ = std::move(ad);
  return source;
}

void QMANativeAppInstallAdSource::recordImpression() {
  if (forwardingNativeAppInstallAd_->respondsToRecordImpression()) forwardingNativeAppInstallAd_->recordImpression();
  // A block may add blocks: run those that were there when this began.
  const auto blocks = impressionHandlingBlocks_;
  for (const auto& block : blocks) block();
}

void QMANativeAppInstallAdSource::recordClickOnViewWithAssetNameEnvironment(
    const std::shared_ptr<uikit::View>& view, const std::string& assetName,
    const std::optional<foundation::Dictionary>& environment) {
  if (forwardingNativeAppInstallAd_->respondsToRecordClickOnView())
    forwardingNativeAppInstallAd_->recordClickOnView(view);
  const auto blocks = clickHandlingBlocks_;
  for (const auto& block : blocks) block(view, assetName, environment);
}
