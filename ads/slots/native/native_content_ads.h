#pragma once
// The two fixed-layout native ads: QMANativeContentAd (template 1) and
// QMANativeAppInstallAd (template 2). Each is built from one ad object, exposes its texts
// and images, downloads its images, logo or icon and attribution icon as assets, and is
// handed to the host through its typed loader delegate. Main thread.

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ads/slots/native/native_ad.h"

// The part both share: the image options, the images of "images" and those exposed, the
// single image (logo or icon) and the attribution.
class QMANativeFixedLayoutAd : public QMANativeAd, public QMANativeAdSourceAttributing {
 public:
  bool disableImageLoading() const { return disableImageLoading_; }
  const std::vector<std::shared_ptr<QMANativeAdImage>>& nativeAdImages() const { return nativeAdImages_; }
  // The images exposed: downloaded ones in the order their downloads ended, or, with image
  // loading off, all of them undownloaded.
  const std::vector<std::shared_ptr<QMANativeAdImage>>& images() const { return availableNativeAdImages_; }
  std::shared_ptr<QMANativeAdAttribution> attribution() const override { return attribution_; }
  void setAttribution(std::shared_ptr<QMANativeAdAttribution> attribution) { attribution_ = std::move(attribution); }
  const std::optional<std::string>& headline() const { return headline_; }
  const std::optional<std::string>& body() const { return body_; }
  const std::optional<std::string>& callToAction() const { return callToAction_; }

  void loadAssets() override;

 protected:
  QMANativeFixedLayoutAd(foundation::Dictionary adObject, const std::optional<QMAAdLoaderOptionsByClass>& options,
                         const char* singleImageKey);
  // The single image and its asset name ("logo" or "icon").
  virtual const std::shared_ptr<QMANativeAdImage>& singleImage() const = 0;
  virtual const char* singleImageAssetName() const = 0;
  std::set<std::string> requiredAssetsWith(std::initializer_list<const char*> names) const;

  bool disableImageLoading_ = false;
  std::vector<std::shared_ptr<QMANativeAdImage>> nativeAdImages_;
  std::vector<std::shared_ptr<QMANativeAdImage>> availableNativeAdImages_;
  std::optional<std::string> headline_, body_, callToAction_;
  std::shared_ptr<QMANativeAdAttribution> attribution_;
};

class QMANativeContentAd : public QMANativeFixedLayoutAd {
 public:
  static constexpr const char* kClassName = "QMANativeContentAd";
  // None unless "headline" and "body" are there.
  static std::shared_ptr<QMANativeContentAd> initWithDictionaryOptions(
      foundation::Dictionary adObject, const std::optional<QMAAdLoaderOptionsByClass>& options);
  static foundation::Dictionary requestParametersForAdLoader(QMAAdLoader&) { return {{"format", 1}}; }

  std::string className() const override { return kClassName; }
  std::string clickActionTemplateID() const override { return "1"; }
  std::optional<std::set<std::string>> requiredAssets() const override;
  void adLoaderDidReceiveAd(QMAAdLoader& adLoader) override;

  const std::shared_ptr<QMANativeAdImage>& logo() const { return logo_; }
  const std::optional<std::string>& advertiser() const { return advertiser_; }

 protected:
  const std::shared_ptr<QMANativeAdImage>& singleImage() const override { return logo_; }
  const char* singleImageAssetName() const override { return "logo"; }

 private:
  QMANativeContentAd(foundation::Dictionary adObject, const std::optional<QMAAdLoaderOptionsByClass>& options);
  std::shared_ptr<QMANativeAdImage> logo_;
  std::optional<std::string> advertiser_;
};

class QMANativeAppInstallAd : public QMANativeFixedLayoutAd {
 public:
  static constexpr const char* kClassName = "QMANativeAppInstallAd";
  // None unless "headline", "call_to_action" and an "app_icon" that gives an image are there.
  static std::shared_ptr<QMANativeAppInstallAd> initWithDictionaryOptions(
      foundation::Dictionary adObject, const std::optional<QMAAdLoaderOptionsByClass>& options);
  static foundation::Dictionary requestParametersForAdLoader(QMAAdLoader&) { return {{"format", 2}}; }

  std::string className() const override { return kClassName; }
  std::string clickActionTemplateID() const override { return "2"; }
  std::optional<std::set<std::string>> requiredAssets() const override;
  void adLoaderDidReceiveAd(QMAAdLoader& adLoader) override;

  const std::shared_ptr<QMANativeAdImage>& icon() const { return icon_; }
  const std::optional<std::string>& store() const { return store_; }
  const std::optional<std::string>& price() const { return price_; }
  // The decimal value of "rating"; 0 without it or for text that is no number.
  double starRating() const { return starRating_; }

 protected:
  const std::shared_ptr<QMANativeAdImage>& singleImage() const override { return icon_; }
  const char* singleImageAssetName() const override { return "icon"; }

 private:
  QMANativeAppInstallAd(foundation::Dictionary adObject, const std::optional<QMAAdLoaderOptionsByClass>& options);
  std::shared_ptr<QMANativeAdImage> icon_;
  std::optional<std::string> store_, price_;
  double starRating_ = 0;
};

// The decimal value of a rating given as a number or as text; 0 for anything else.
double QMANativeAdStarRatingFromValue(const foundation::Value* value);
