#pragma once
// The views a host shows native content and app-install ads in. A QMANativeContentAdView or
// QMANativeAppInstallAdView is a plain view whose outlets the host points at its own
// subviews (headline label, image view, ...). The view lays the ad's attribution badge over
// its top-right corner, turns a tap on a registered asset view or on the badge into a click
// on the ad with that asset's ID, and records the ad's impression once the view is visible.
// The shared logic is QMANativeAdViewPolicy; the badge is QMANativeAdAttributionView.
//
// Layout: the badge's frame is worked out directly from what its constraints say (pinned
// to the top-right corner; a spacer, the text, a spacer, the icon, as tall as the taller of
// text and icon, each spacer 0.37 x the text's height). A label measures its text as
// 0.55 x the font size per character by 1.2 x the font size.
//
// Taps: the policy's tap recognizer takes a whole touch (performTouches) in the ad view's
// coordinates, as a finger on the ad view would give it.
//
// Threads: main thread only.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ads/render/vistrace_monitor.h"
#include "ads/slots/native/native_content_ads.h"
#include "platform/uikit/controls.h"
#include "platform/uikit/gesture_recognizer.h"
#include "platform/uikit/view.h"

class QMANativeAdAttributionView : public uikit::View {
 public:
  static constexpr double kSpacerToTextHeight = 0.37;
  static constexpr double kCornerRadius = 3.0;

  static std::shared_ptr<QMANativeAdAttributionView> initWithFrame(uikit::Rect frame);
  std::string className() const override { return "NativeAdAttributionView"; }

  void setAttribution(const std::shared_ptr<QMANativeAdAttribution>& attribution);
  void layoutSubviews() override;
  uikit::Size intrinsicContentSize() const override;

  std::shared_ptr<uikit::View> iconView() const { return iconView_; }
  std::shared_ptr<uikit::View> textView() const { return textView_; }

  explicit QMANativeAdAttributionView(uikit::Rect frame) : uikit::View(frame) {}

 private:
  uikit::Size textSize() const;
  uikit::Size iconSize() const;

  std::shared_ptr<uikit::ImageView> iconView_;
  std::shared_ptr<uikit::Label> textView_;
  std::shared_ptr<uikit::View> textPaddingLeft_;
  std::shared_ptr<uikit::View> textPaddingRight_;
};

// A tap: the touch's end gives the point.
class QMANativeAdTapRecognizer : public uikit::GestureRecognizer {
 public:
  uikit::Point location() const { return location_; }
  void touchesBegan(const std::vector<uikit::Touch>& touches) override;
  void touchesEnded(const std::vector<uikit::Touch>& touches) override;

 private:
  uikit::Point location_;
};

class QMANativeAdViewPolicy : public QMAVistraceMonitorDelegate,
                              public std::enable_shared_from_this<QMANativeAdViewPolicy> {
 public:
  // Null without an ad view.
  static std::shared_ptr<QMANativeAdViewPolicy> initWithAdViewAttributionIconAssetNameAttributionTextAssetName(
      const std::shared_ptr<uikit::View>& adView, const std::string& iconAssetName, const std::string& textAssetName);
  ~QMANativeAdViewPolicy() override;

  const std::shared_ptr<QMANativeFixedLayoutAd>& nativeAd() const { return nativeAd_; }
  void setNativeAd(const std::shared_ptr<QMANativeFixedLayoutAd>& ad);
  // Points the outlet at the new view and maps it to the asset ID (the old view leaves the map).
  void replaceAssetWithNameWithAssetViewWeakReferencePointer(const std::optional<std::string>& name,
                                                             const std::shared_ptr<uikit::View>& view,
                                                             std::weak_ptr<uikit::View>& outlet);
  void adViewDidLayoutSubviews();
  void adViewDidMoveToSuperview();
  void handleTap(uikit::Point location);
  void vistraceMonitorDidRefresh(QMAVistraceMonitor& monitor) override;

  const std::shared_ptr<QMANativeAdAttributionView>& attributionView() const { return attributionView_; }
  const std::shared_ptr<QMANativeAdTapRecognizer>& tapRecognizer() const { return tapRecognizer_; }
  const std::shared_ptr<QMAVistraceMonitor>& impressionMonitor() const { return impressionMonitor_; }
  // The asset ID a registered view maps to (none when it is not registered).
  std::optional<std::string> assetNameForView(const uikit::View* view) const;

 private:
  QMANativeAdViewPolicy() = default;
  void checkImpression();
  void recordImpression();
  void stopMonitoring();
  void placeAttributionView();

  std::shared_ptr<QMANativeAdAttributionView> attributionView_;
  std::weak_ptr<uikit::View> adView_;
  std::vector<std::pair<std::weak_ptr<uikit::View>, std::string>> assetViewAssetNames_;
  std::string attributionIconAssetName_;
  std::string attributionTextAssetName_;
  std::shared_ptr<QMAVistraceMonitor> impressionMonitor_;
  std::shared_ptr<QMANativeFixedLayoutAd> nativeAd_;
  std::shared_ptr<QMANativeAdTapRecognizer> tapRecognizer_;
};

// The asset IDs of the two views.
struct QMANativeContentAdAssetIDs {
  static constexpr const char* kHeadline = "1001";
  static constexpr const char* kBody = "1002";
  static constexpr const char* kCallToAction = "1003";
  static constexpr const char* kAdvertiser = "1004";
  static constexpr const char* kImage = "1005";
  static constexpr const char* kLogo = "1006";
  static constexpr const char* kAttributionIcon = "1007";
  static constexpr const char* kAttributionText = "1008";
};
struct QMANativeAppInstallAdAssetIDs {
  static constexpr const char* kHeadline = "2001";
  static constexpr const char* kCallToAction = "2002";
  static constexpr const char* kIcon = "2003";
  static constexpr const char* kBody = "2004";
  static constexpr const char* kStore = "2005";
  static constexpr const char* kPrice = "2006";
  static constexpr const char* kImage = "2007";
  static constexpr const char* kStarRating = "2008";
  static constexpr const char* kAttributionIcon = "2009";
  static constexpr const char* kAttributionText = "2010";
};

// What both views share: the policy, created with the view. The policy needs the view
// shared (it keeps it weakly and hands it to its tap recognizer and monitor), so it cannot
// be made in a constructor: the views are made only by their initWithFrame and
// initWithCoder (and the runtime's class messages of those names), never by a constructor
// of the host's, which would give a view without a policy.
class QMANativeAdView : public uikit::View {
 public:
  // Both views as classes of the runtime, found by name as a layout file names its views:
  // each answers the class messages "initWithFrame:" and "initWithCoder:" (a frame; the
  // one the file gives) with a new view (std::shared_ptr<uikit::View>). Done as the image
  // that holds the views loads; again it changes nothing.
  static void registerClasses();

  const std::shared_ptr<QMANativeAdViewPolicy>& nativeAdViewPolicy() const { return nativeAdViewPolicy_; }
  void layoutSubviews() override;
  void didMoveToSuperview() override;

 protected:
  // Held only by the views' own makers; what std::make_shared needs a public constructor
  // for, and what keeps that constructor out of any other hands.
  class MadeByInit {
    explicit MadeByInit() = default;
    friend class QMANativeContentAdView;
    friend class QMANativeAppInstallAdView;
  };
  explicit QMANativeAdView(uikit::Rect frame) : uikit::View(frame) {}
  void setUpPolicy(const char* iconAssetName, const char* textAssetName);
  void setOutlet(std::weak_ptr<uikit::View>& outlet, const char* assetName, const std::shared_ptr<uikit::View>& view) {
    if (nativeAdViewPolicy_)
      nativeAdViewPolicy_->replaceAssetWithNameWithAssetViewWeakReferencePointer(std::string(assetName), view, outlet);
  }

 private:
  std::shared_ptr<QMANativeAdViewPolicy> nativeAdViewPolicy_;
};

#define QMA_NATIVE_AD_OUTLET(name, setter, id)                                            \
  std::shared_ptr<uikit::View> name() const { return name##_.lock(); }                    \
  void setter(const std::shared_ptr<uikit::View>& view) { setOutlet(name##_, id, view); }

class QMANativeContentAdView : public QMANativeAdView {
 public:
  static std::shared_ptr<QMANativeContentAdView> initWithFrame(uikit::Rect frame);
  // A view a layout file describes, with the frame it gives.
  static std::shared_ptr<QMANativeContentAdView> initWithCoder(uikit::Rect decodedFrame) { return initWithFrame(decodedFrame); }
  std::string className() const override { return "QMANativeContentAdView"; }

  std::shared_ptr<QMANativeContentAd> nativeContentAd() const;
  void setNativeContentAd(const std::shared_ptr<QMANativeContentAd>& ad);

  QMA_NATIVE_AD_OUTLET(headlineView, setHeadlineView, QMANativeContentAdAssetIDs::kHeadline)
  QMA_NATIVE_AD_OUTLET(bodyView, setBodyView, QMANativeContentAdAssetIDs::kBody)
  QMA_NATIVE_AD_OUTLET(imageView, setImageView, QMANativeContentAdAssetIDs::kImage)
  QMA_NATIVE_AD_OUTLET(logoView, setLogoView, QMANativeContentAdAssetIDs::kLogo)
  QMA_NATIVE_AD_OUTLET(callToActionView, setCallToActionView, QMANativeContentAdAssetIDs::kCallToAction)
  QMA_NATIVE_AD_OUTLET(advertiserView, setAdvertiserView, QMANativeContentAdAssetIDs::kAdvertiser)

  QMANativeContentAdView(MadeByInit, uikit::Rect frame) : QMANativeAdView(frame) {}

 private:
  std::weak_ptr<uikit::View> headlineView_, bodyView_, imageView_, logoView_, callToActionView_, advertiserView_;
};

class QMANativeAppInstallAdView : public QMANativeAdView {
 public:
  static std::shared_ptr<QMANativeAppInstallAdView> initWithFrame(uikit::Rect frame);
  static std::shared_ptr<QMANativeAppInstallAdView> initWithCoder(uikit::Rect decodedFrame) { return initWithFrame(decodedFrame); }
  std::string className() const override { return "QMANativeAppInstallAdView"; }

  const std::shared_ptr<QMANativeAppInstallAd>& nativeAppInstallAd() const { return nativeAppInstallAd_; }
  void setNativeAppInstallAd(const std::shared_ptr<QMANativeAppInstallAd>& ad);

  QMA_NATIVE_AD_OUTLET(headlineView, setHeadlineView, QMANativeAppInstallAdAssetIDs::kHeadline)
  QMA_NATIVE_AD_OUTLET(callToActionView, setCallToActionView, QMANativeAppInstallAdAssetIDs::kCallToAction)
  QMA_NATIVE_AD_OUTLET(iconView, setIconView, QMANativeAppInstallAdAssetIDs::kIcon)
  QMA_NATIVE_AD_OUTLET(bodyView, setBodyView, QMANativeAppInstallAdAssetIDs::kBody)
  QMA_NATIVE_AD_OUTLET(storeView, setStoreView, QMANativeAppInstallAdAssetIDs::kStore)
  QMA_NATIVE_AD_OUTLET(priceView, setPriceView, QMANativeAppInstallAdAssetIDs::kPrice)
  QMA_NATIVE_AD_OUTLET(imageView, setImageView, QMANativeAppInstallAdAssetIDs::kImage)
  QMA_NATIVE_AD_OUTLET(starRatingView, setStarRatingView, QMANativeAppInstallAdAssetIDs::kStarRating)

  QMANativeAppInstallAdView(MadeByInit, uikit::Rect frame) : QMANativeAdView(frame) {}

 private:
  std::shared_ptr<QMANativeAppInstallAd> nativeAppInstallAd_;
  std::weak_ptr<uikit::View> headlineView_, callToActionView_, iconView_, bodyView_, storeView_, priceView_, imageView_,
      starRatingView_;
};

#undef QMA_NATIVE_AD_OUTLET
