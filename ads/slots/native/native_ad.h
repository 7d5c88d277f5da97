#pragma once
// QMANativeAd: the common base of the native ads (content, app install, custom template).
// A native ad is built from one ad object of a native ad configuration, loads the assets
// its class asks for and tells its loading delegate once, when all are there or when a
// required one failed; it performs clicks by handing its ad object to the support page
// that runs in its slot's ad view, and records its impression once.
//
// Threads: main thread. loadAssets only queues the completion check on the main queue, and
// asset results arrive there. A click may be asked for from any thread: its script runs
// on the main thread.

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ads/slots/banner_view.h"
#include "ads/slots/native/ad_loader_delegate.h"
#include "ads/slots/native/ad_loader_options.h"
#include "ads/slots/native/native_ad_image.h"
#include "platform/foundation/value.h"
#include "platform/net/url.h"

class QMANativeAd;
class QMASlot;

namespace uikit {
class View;
class ViewController;
}  // namespace uikit

// The host's native-ad delegate: presentations and leaving the application.
class QMANativeAdDelegate {
 public:
  virtual ~QMANativeAdDelegate() = default;
  virtual void nativeAdWillPresentScreen(QMANativeAd& ad) = 0;
  virtual void nativeAdWillDismissScreen(QMANativeAd& ad) = 0;
  virtual void nativeAdDidDismissScreen(QMANativeAd& ad) = 0;
  virtual void nativeAdWillLeaveApplication(QMANativeAd& ad) = 0;
};

// The loader's side: how loading the assets ended.
class QMANativeAdLoadDelegate {
 public:
  virtual ~QMANativeAdLoadDelegate() = default;
  virtual void nativeAdDidFinishLoadingAssets(QMANativeAd& ad) = 0;
  virtual void nativeAdDidFailToLoadRequiredAssets(QMANativeAd& ad) = 0;
};

// The ads that show an attribution badge (content and app install).
class QMANativeAdSourceAttributing {
 public:
  virtual ~QMANativeAdSourceAttributing() = default;
  virtual std::shared_ptr<QMANativeAdAttribution> attribution() const = 0;
};

class QMANativeAd : public QMABannerViewDelegate, public std::enable_shared_from_this<QMANativeAd> {
 public:
  static constexpr const char* kSupportURLKey = "/quillon/ads/native_ad_support_url";
  static constexpr const char* kSupportPagePath = "/qads/static/sdk/native/native_ads.html";
  static constexpr const char* kClickScriptFormat = "quillon.qvra.nativeAds.handleClickQomb(%@)";

  // The configuration's first ad object: "ads" an array whose first element is an
  // object; none otherwise (also for a configuration that is no object).
  static std::optional<foundation::Dictionary> firstAdObjectInAdConfigurationDictionary(
      const std::optional<foundation::Value>& configuration);
  // The native ad class named by the first ad object's "type" and "template_id".
  static std::optional<std::string> classFromAdConfigurationDictionary(
      const std::optional<foundation::Value>& configuration);
  // The first ad object where it is, without a copy; null when there is none.
  static const foundation::Dictionary* firstAdObjectIn(const std::optional<foundation::Value>& configuration);
  // The support page: the server constant when it names a page on the ad network's own
  // servers, over the same scheme; else the built-in page there.
  static net::URL supportHTMLURL();

  ~QMANativeAd() override;

  virtual std::string className() const = 0;
  std::string description() const;

  // ---- what the loaders use
  virtual bool hasValidConfigurationForRequestParameters(const std::optional<foundation::Dictionary>&) const {
    return true;
  }
  virtual std::string clickActionTemplateID() const { return ""; }
  virtual std::optional<std::set<std::string>> requiredAssets() const { return std::nullopt; }
  // Subclasses start their loads, then call this: it queues the completion check.
  virtual void loadAssets();
  // Sends the typed receive message of the ad's class to the loader's delegate.
  virtual void adLoaderDidReceiveAd(QMAAdLoader& adLoader) = 0;

  // ---- clicks and the impression
  void performClickOnViewAssetNameEnvironment(const std::shared_ptr<uikit::View>& view,
                                              const std::optional<std::string>& assetName,
                                              const std::optional<foundation::Dictionary>& environment);
  void recordImpression();
  bool hasRecordedImpression() const { return hasRecordedImpression_; }

  // ---- asset bookkeeping
  void addAssetWithNameToRequestedAssets(const std::string& name);
  void finishedLoadingAssetWithName(const std::optional<std::string>& name);
  void failedToLoadAssetWithName(const std::string& name);
  void notifyLoadingDelegateIfAllRequestedAssetsHaveLoaded();
  const std::set<std::string>& requestedAssets() const { return requestedAssets_; }
  const std::set<std::string>& completedAssets() const { return completedAssets_; }

  // ---- properties
  std::shared_ptr<QMANativeAdDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMANativeAdDelegate> delegate) { delegate_ = std::move(delegate); }
  std::shared_ptr<uikit::ViewController> rootViewController() const { return rootViewController_.lock(); }
  void setRootViewController(std::weak_ptr<uikit::ViewController> vc) { rootViewController_ = std::move(vc); }
  const std::optional<std::string>& adUnitID() const { return adUnitID_; }
  void setAdUnitID(std::optional<std::string> adUnitID) { adUnitID_ = std::move(adUnitID); }
  const foundation::Dictionary& adConfiguration() const { return adConfiguration_; }
  const std::shared_ptr<QMASlot>& slot() const { return slot_; }
  virtual void setSlot(std::shared_ptr<QMASlot> slot) { slot_ = std::move(slot); }
  std::shared_ptr<QMANativeAdLoadDelegate> loadingDelegate() const { return loadingDelegate_.lock(); }
  void setLoadingDelegate(std::weak_ptr<QMANativeAdLoadDelegate> d) { loadingDelegate_ = std::move(d); }
  const std::set<std::string>& impressionTrackingURLs() const { return impressionTrackingURLs_; }
  const std::set<std::string>& thirdPartyClickTrackingURLs() const { return thirdPartyClickTrackingURLs_; }
  const std::optional<std::string>& quillonClickTrackingURLString() const { return quillonClickTrackingURLString_; }
  const std::optional<foundation::Array>& clickActions() const { return clickActions_; }

  // ---- the banner-view delegate role: presentations reach the host's delegate
  void adViewWillPresentScreen(QMABannerView&) override;
  void adViewWillDismissScreen(QMABannerView&) override;
  void adViewDidDismissScreen(QMABannerView&) override;
  void adViewWillLeaveApplication(QMABannerView&) override;

  // The click script for a click dictionary: JSON text with U+2028 and U+2029 escaped,
  // so that every engine reads it as one literal. None when it cannot be serialised.
  static std::optional<std::string> clickScriptForDictionary(const foundation::Dictionary& click);

 protected:
  // The base's part of building: the tracking keys of the ad object.
  explicit QMANativeAd(foundation::Dictionary adObject);
  // Loads one image as an asset under `name`; `onSuccess` runs before the name finishes.
  void loadImageAsset(const std::shared_ptr<QMANativeAdImage>& image, const std::string& name,
                      std::function<void(QMANativeAd&)> onSuccess = nullptr);

 private:
  bool loadingDelegateTold() const { return hasNotifiedDelegateAssetsFinishedLoading_ || failedToLoadARequiredAsset_; }

  bool hasRecordedImpression_ = false;
  bool hasNotifiedDelegateAssetsFinishedLoading_ = false;
  std::set<std::string> impressionTrackingURLs_;
  std::set<std::string> requestedAssets_;
  std::set<std::string> completedAssets_;
  bool failedToLoadARequiredAsset_ = false;
  std::weak_ptr<QMANativeAdDelegate> delegate_;
  std::weak_ptr<uikit::ViewController> rootViewController_;
  std::optional<std::string> adUnitID_;
  foundation::Dictionary adConfiguration_;
  std::shared_ptr<QMASlot> slot_;
  std::weak_ptr<QMANativeAdLoadDelegate> loadingDelegate_;
  std::set<std::string> thirdPartyClickTrackingURLs_;
  std::optional<std::string> quillonClickTrackingURLString_;
  std::optional<foundation::Array> clickActions_;
};

// Embeds JSON text in a script: escapes U+2028 and U+2029, which older engines read as
// line ends inside a string literal.
std::string QMAJSONTextForScript(std::string_view json);
// The integer value of a template ID given as a number or as text (leading blanks, a sign
// and digits; anything after them ignored; no digits: 0; clamped to the long range).
long QMAIntegerValueOfTemplateID(const foundation::Value& value);
