#pragma once
// adhost's native ads: an ad loader per name, a recorder that hears the loader and the
// native ad, and the host's own native ad view for content and app-install ads (labels and
// image views for the assets, pointed at by the view's outlets), placed like a banner.
// Custom-template ads have no view: the host reads their assets by name.
//
// Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/slots/native/ad_loader.h"
#include "ads/slots/native/native_ad_views.h"
#include "ads/slots/native/native_custom_template_ad.h"

namespace adhost {

struct HostedAd;

class NativeRecorder : public QMANativeContentAdLoaderDelegate,
                       public QMANativeAppInstallAdLoaderDelegate,
                       public QMANativeCustomTemplateAdLoaderDelegate,
                       public QMANativeAdDelegate {
 public:
  NativeRecorder(std::string name, std::vector<std::string> templateIDs)
      : name_(std::move(name)), templateIDs_(std::move(templateIDs)) {}
  std::string delegateClassName() const override { return "AdhostNativeRecorder"; }

  void adLoaderDidFailToReceiveAdWithError(QMAAdLoader&, const QMARequestError& error) override;
  void adLoaderDidReceiveNativeContentAd(QMAAdLoader&, const std::shared_ptr<QMANativeContentAd>& ad) override;
  void adLoaderDidReceiveNativeAppInstallAd(QMAAdLoader&, const std::shared_ptr<QMANativeAppInstallAd>& ad) override;
  std::optional<foundation::Array> nativeCustomTemplateIDsForAdLoader(QMAAdLoader&) override;
  void adLoaderDidReceiveNativeCustomTemplateAd(QMAAdLoader&, const std::shared_ptr<QMANativeCustomTemplateAd>& ad) override;

  void nativeAdWillPresentScreen(QMANativeAd&) override;
  void nativeAdWillDismissScreen(QMANativeAd&) override;
  void nativeAdDidDismissScreen(QMANativeAd&) override;
  void nativeAdWillLeaveApplication(QMANativeAd&) override;

 private:
  void received(const std::shared_ptr<QMANativeAd>& ad, const char* selector);
  std::string name_;
  std::vector<std::string> templateIDs_;
};

// What an ad's assets are, in one line: texts quoted, pictures by their size.
std::string describeNativeAssets(const QMANativeAd& ad);
// Makes the loader of `hosted` and loads a request; the answer line.
std::string loadNativeAd(HostedAd& hosted, const std::vector<std::string>& types, const std::optional<std::string>& unit,
                         bool multipleImages, bool noImages);
// Builds the host's view for the ad (none for custom templates) and places it at `origin`.
void showNativeAd(HostedAd& hosted, const std::shared_ptr<QMANativeAd>& ad, uikit::Point origin);
// Taps an asset: its view through the native ad view's tap (content and app install), or a
// click on the asset's name (custom template, with the host's click handler).
std::string tapNativeAsset(HostedAd& hosted, const std::string& asset);
// The native ad view, its asset views with their texts and pictures, and the badge.
std::string nativeSnapshot(const HostedAd& hosted);
// The ad's part of the screen line.
std::string nativeScreenLine(const HostedAd& hosted);

}  // namespace adhost
