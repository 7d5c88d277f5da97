#include "ads/slots/native/native_ad_views.h"

#include <algorithm>
#include <cmath>

#include "ads/services/geometry.h"
#include "platform/runtime/runtime.h"
#include "platform/dispatch/thread_checks.h"

namespace {

std::size_t characterCount(const std::string& utf8) {
  return static_cast<std::size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

// ---- the badge

std::shared_ptr<QMANativeAdAttributionView> QMANativeAdAttributionView::initWithFrame(uikit::Rect frame) {
  auto view = std::make_shared<QMANativeAdAttributionView>(frame);
  view->setClipsToBounds(true);
  view->iconView_ = std::make_shared<uikit::ImageView>();
  view->textView_ = std::make_shared<uikit::Label>();
  view->textPaddingLeft_ = std::make_shared<uikit::View>();
  view->textPaddingRight_ = std::make_shared<uikit::View>();
  for (const std::shared_ptr<uikit::View>& v :
       {std::static_pointer_cast<uikit::View>(view->iconView_), std::static_pointer_cast<uikit::View>(view->textView_),
        view->textPaddingLeft_, view->textPaddingRight_}) {
    v->setTranslatesAutoresizingMaskIntoConstraints(false);
    view->addSubview(v);
  }
  return view;
}

void QMANativeAdAttributionView::setAttribution(const std::shared_ptr<QMANativeAdAttribution>& attribution) {
  if (!attribution) return;
  textView_->setText(attribution->text());
  textView_->setFont(attribution->font());
  textView_->setTextColor(attribution->textColor());
  setBackgroundColor(attribution->backgroundColor());
  iconView_->setImage(attribution->icon() ? attribution->icon()->image() : nullptr);
  invalidateIntrinsicContentSize();
  setNeedsLayout();
}

uikit::Size QMANativeAdAttributionView::textSize() const {
  const double size = textView_->font().pointSize;
  if (textView_->text().empty()) return {0, 0};
  return {std::ceil(0.55 * size * static_cast<double>(characterCount(textView_->text()))), std::ceil(1.2 * size)};
}

uikit::Size QMANativeAdAttributionView::iconSize() const {
  auto image = iconView_->image();
  return image ? image->size() : uikit::Size{0, 0};
}

uikit::Size QMANativeAdAttributionView::intrinsicContentSize() const {
  const uikit::Size text = textSize(), icon = iconSize();
  const double spacer = kSpacerToTextHeight * text.height;
  return {spacer + text.width + spacer + icon.width, std::max(text.height, icon.height)};
}

void QMANativeAdAttributionView::layoutSubviews() {
  // "H:|[left][text][right][icon]|", all centred vertically, the spacers as tall as the
  // badge and 0.37 x the text's height wide.
  const uikit::Size text = textSize(), icon = iconSize();
  const double spacer = kSpacerToTextHeight * text.height;
  const double height = bounds().height();
  double x = 0;
  textPaddingLeft_->setFrame({x, 0, spacer, height});
  x += spacer;
  textView_->setFrame({x, (height - text.height) / 2, text.width, text.height});
  x += text.width;
  textPaddingRight_->setFrame({x, 0, spacer, height});
  x += spacer;
  iconView_->setFrame({x, (height - icon.height) / 2, icon.width, icon.height});
  layer().masksToBounds = true;
  layer().cornerRadius = kCornerRadius;
}

// ---- the tap

void QMANativeAdTapRecognizer::touchesBegan(const std::vector<uikit::Touch>& touches) {
  if (!touches.empty()) location_ = touches.front().location;
}

void QMANativeAdTapRecognizer::touchesEnded(const std::vector<uikit::Touch>& touches) {
  if (!touches.empty()) location_ = touches.front().location;
  setState(uikit::GestureRecognizerState::Ended);
}

// ---- the policy

std::shared_ptr<QMANativeAdViewPolicy>
QMANativeAdViewPolicy::initWithAdViewAttributionIconAssetNameAttributionTextAssetName(
    const std::shared_ptr<uikit::View>& adView, const std::string& iconAssetName, const std::string& textAssetName) {
  WV_DCHECK_MAIN_THREAD();
  if (!adView) return nullptr;
  std::shared_ptr<QMANativeAdViewPolicy> policy(new QMANativeAdViewPolicy());
  policy->adView_ = adView;
  policy->attributionView_ = QMANativeAdAttributionView::initWithFrame({});
  policy->attributionView_->setTranslatesAutoresizingMaskIntoConstraints(false);
  policy->attributionView_->setHidden(true);
  policy->attributionIconAssetName_ = iconAssetName;
  policy->attributionTextAssetName_ = textAssetName;
  adView->addSubview(policy->attributionView_);
  adView->setUserInteractionEnabled(true);
  policy->tapRecognizer_ = std::make_shared<QMANativeAdTapRecognizer>();
  policy->tapRecognizer_->setView(adView);
  std::weak_ptr<QMANativeAdViewPolicy> weak = policy;
  policy->tapRecognizer_->addTarget([weak](uikit::GestureRecognizer& recognizer) {
    auto self = weak.lock();
    if (self && recognizer.state() == uikit::GestureRecognizerState::Ended)
      self->handleTap(static_cast<QMANativeAdTapRecognizer&>(recognizer).location());
  });
  return policy;
}

QMANativeAdViewPolicy::~QMANativeAdViewPolicy() { stopMonitoring(); }

void QMANativeAdViewPolicy::setNativeAd(const std::shared_ptr<QMANativeFixedLayoutAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  if (ad == nativeAd_) return;
  nativeAd_ = ad;
  auto attribution = ad ? ad->attribution() : nullptr;
  attributionView_->setAttribution(attribution);
  attributionView_->setHidden(!attribution);
  placeAttributionView();
  // The badge's constraint update lays the ad view out again, which checks the impression.
  if (auto view = adView_.lock()) view->setNeedsLayout();
  adViewDidLayoutSubviews();
}

void QMANativeAdViewPolicy::replaceAssetWithNameWithAssetViewWeakReferencePointer(
    const std::optional<std::string>& name, const std::shared_ptr<uikit::View>& view, std::weak_ptr<uikit::View>& outlet) {
  auto old = outlet.lock();
  if (old == view && (old || outlet.expired())) return;
  outlet = view;
  assetViewAssetNames_.erase(std::remove_if(assetViewAssetNames_.begin(), assetViewAssetNames_.end(),
                                            [&](const auto& entry) {
                                              auto v = entry.first.lock();
                                              return !v || v == old;
                                            }),
                             assetViewAssetNames_.end());
  if (view && name) assetViewAssetNames_.emplace_back(view, *name);
}

std::optional<std::string> QMANativeAdViewPolicy::assetNameForView(const uikit::View* view) const {
  for (const auto& [weak, name] : assetViewAssetNames_)
    if (auto v = weak.lock(); v && v.get() == view) return name;
  return std::nullopt;
}

void QMANativeAdViewPolicy::placeAttributionView() {
  auto view = adView_.lock();
  if (!view) return;
  // Top to top and right to right of the ad view, at the badge's own size.
  const uikit::Size size = attributionView_->intrinsicContentSize();
  attributionView_->setFrame({view->bounds().width() - size.width, 0, size.width, size.height});
  attributionView_->layoutSubviews();
}

void QMANativeAdViewPolicy::handleTap(uikit::Point location) {
  WV_DCHECK_MAIN_THREAD();
  auto view = adView_.lock();
  if (!view) return;
  std::optional<std::string> assetName;
  std::shared_ptr<uikit::View> assetView;
  for (const auto& [weak, name] : assetViewAssetNames_) {
    auto v = weak.lock();
    if (!v || v->isHidden()) continue;
    auto super = v->superview();
    const uikit::Rect frame = super ? view->convertRectFromView(v->frame(), super.get()) : v->frame();
    if (frame.contains(location)) {
      assetName = name;
      assetView = v;
      break;
    }
  }
  if (!attributionView_->isHidden() && attributionView_->frame().contains(location)) {
    const uikit::Point inBadge = attributionView_->convertPointFromView(location, view.get());
    if (attributionView_->iconView()->frame().contains(inBadge)) {
      assetName = attributionIconAssetName_;
      assetView = attributionView_->iconView();
    } else {
      assetName = attributionTextAssetName_;
      assetView = attributionView_->textView();
    }
  }
  if (assetName && nativeAd_) nativeAd_->performClickOnViewAssetNameEnvironment(assetView, assetName, std::nullopt);
}

void QMANativeAdViewPolicy::adViewDidLayoutSubviews() {
  if (auto view = adView_.lock()) view->bringSubviewToFront(attributionView_);
  placeAttributionView();
  if (nativeAd_ && !nativeAd_->hasRecordedImpression()) checkImpression();
}

void QMANativeAdViewPolicy::adViewDidMoveToSuperview() { adViewDidLayoutSubviews(); }

void QMANativeAdViewPolicy::checkImpression() {
  auto view = adView_.lock();
  if (!view) return;
  if (qma_visibleBounds(*view).isEmpty()) {
    if (impressionMonitor_) return;
    impressionMonitor_ = QMAVistraceMonitor::initWithView(view);
    if (!impressionMonitor_) return;
    impressionMonitor_->setDelegate(std::static_pointer_cast<QMAVistraceMonitorDelegate>(shared_from_this()));
    impressionMonitor_->startMonitoring();
    return;
  }
  recordImpression();
}

void QMANativeAdViewPolicy::vistraceMonitorDidRefresh(QMAVistraceMonitor& monitor) {
  if (&monitor != impressionMonitor_.get()) return;
  if (monitor.monitoredViewVisible() && nativeAd_) recordImpression();
}

void QMANativeAdViewPolicy::recordImpression() {
  auto keep = shared_from_this();
  stopMonitoring();
  if (nativeAd_) nativeAd_->recordImpression();
}

void QMANativeAdViewPolicy::stopMonitoring() {
  if (!impressionMonitor_) return;
  impressionMonitor_->setDelegate({});
  impressionMonitor_->stopMonitoring();
  impressionMonitor_.reset();
}

// ---- the views

void QMANativeAdView::registerClasses() {
  auto add = [](const char* name, auto make) {
    if (runtime::objc_getClass(name)) return;
    auto cls = runtime::Class::make(name);
    for (const char* selector : {"initWithFrame:", "initWithCoder:"})
      cls->addClassMethod<std::shared_ptr<uikit::View>(uikit::Rect)>(
          selector, [make](uikit::Rect frame) -> std::shared_ptr<uikit::View> { return make(frame); });
    runtime::objc_registerClassPair(cls);
  };
  add("QMANativeContentAdView", [](uikit::Rect frame) { return QMANativeContentAdView::initWithCoder(frame); });
  add("QMANativeAppInstallAdView", [](uikit::Rect frame) { return QMANativeAppInstallAdView::initWithCoder(frame); });
}

namespace {
// The image that holds the views registers them as it loads (it is linked whole), before a
// host can read a layout file.
const bool classesRegistered = [] {
  QMANativeAdView::registerClasses();
  return true;
}();
}  // namespace

void QMANativeAdView::setUpPolicy(const char* iconAssetName, const char* textAssetName) {
  nativeAdViewPolicy_ = QMANativeAdViewPolicy::initWithAdViewAttributionIconAssetNameAttributionTextAssetName(
      shared_from_this(), iconAssetName, textAssetName);
}

void QMANativeAdView::layoutSubviews() {
  uikit::View::layoutSubviews();
  if (nativeAdViewPolicy_) nativeAdViewPolicy_->adViewDidLayoutSubviews();
}

void QMANativeAdView::didMoveToSuperview() {
  uikit::View::didMoveToSuperview();
  if (nativeAdViewPolicy_) nativeAdViewPolicy_->adViewDidMoveToSuperview();
}

std::shared_ptr<QMANativeContentAdView> QMANativeContentAdView::initWithFrame(uikit::Rect frame) {
  auto view = std::make_shared<QMANativeContentAdView>(MadeByInit(), frame);
  view->setUpPolicy(QMANativeContentAdAssetIDs::kAttributionIcon, QMANativeContentAdAssetIDs::kAttributionText);
  return view;
}

std::shared_ptr<QMANativeContentAd> QMANativeContentAdView::nativeContentAd() const {
  return std::dynamic_pointer_cast<QMANativeContentAd>(nativeAdViewPolicy()->nativeAd());
}

void QMANativeContentAdView::setNativeContentAd(const std::shared_ptr<QMANativeContentAd>& ad) {
  nativeAdViewPolicy()->setNativeAd(ad);
}

std::shared_ptr<QMANativeAppInstallAdView> QMANativeAppInstallAdView::initWithFrame(uikit::Rect frame) {
  auto view = std::make_shared<QMANativeAppInstallAdView>(MadeByInit(), frame);
  view->setUpPolicy(QMANativeAppInstallAdAssetIDs::kAttributionIcon, QMANativeAppInstallAdAssetIDs::kAttributionText);
  return view;
}

void QMANativeAppInstallAdView::setNativeAppInstallAd(const std::shared_ptr<QMANativeAppInstallAd>& ad) {
  if (ad == nativeAppInstallAd_) return;
  nativeAppInstallAd_ = ad;
  nativeAdViewPolicy()->setNativeAd(ad);
}
