#include "tools/adhost/native_host.h"

#include "platform/foundation/format.h"
#include "platform/uikit/controls.h"
#include "platform/uikit/window.h"
#include "tools/adhost/host.h"

namespace adhost {
namespace {

std::string num(double v) { return foundation::stringWithFormat("%g", v); }
std::string rect(uikit::Rect r) {
  return "at " + num(r.origin.x) + "," + num(r.origin.y) + " " + num(r.size.width) + "x" + num(r.size.height);
}
std::string quote(const std::optional<std::string>& s) { return s ? "\"" + *s + "\"" : std::string("none"); }
std::string picture(const std::shared_ptr<uikit::Image>& image) {
  return image ? num(image->size().width) + "x" + num(image->size().height) : std::string("none");
}
std::string picture(const std::shared_ptr<QMANativeAdImage>& image) {
  return image ? picture(image->image()) : std::string("none");
}

void record(const std::string& name, std::string selector, std::string detail = {}) {
  if (auto h = AdHost::shared()) h->record(name, std::move(selector), std::move(detail));
}

std::shared_ptr<uikit::Label> label(const std::optional<std::string>& text, uikit::Rect frame) {
  auto l = std::make_shared<uikit::Label>(frame);
  l->setText(text.value_or(""));
  return l;
}

std::shared_ptr<uikit::ImageView> imageView(const std::shared_ptr<QMANativeAdImage>& image, uikit::Rect frame) {
  auto v = std::make_shared<uikit::ImageView>(frame);
  if (image) v->setImage(image->image());
  return v;
}

// The asset views of the host's native ad view, by the words "tap" takes.
std::vector<std::pair<std::string, std::shared_ptr<uikit::View>>> assetViews(const HostedAd& hosted) {
  std::vector<std::pair<std::string, std::shared_ptr<uikit::View>>> out;
  if (auto v = std::dynamic_pointer_cast<QMANativeContentAdView>(hosted.nativeView)) {
    out = {{"headline", v->headlineView()}, {"body", v->bodyView()},           {"image", v->imageView()},
           {"logo", v->logoView()},         {"call-to-action", v->callToActionView()}, {"advertiser", v->advertiserView()}};
  } else if (auto a = std::dynamic_pointer_cast<QMANativeAppInstallAdView>(hosted.nativeView)) {
    out = {{"headline", a->headlineView()}, {"call-to-action", a->callToActionView()}, {"icon", a->iconView()},
           {"body", a->bodyView()},         {"store", a->storeView()},                 {"price", a->priceView()},
           {"image", a->imageView()},       {"star-rating", a->starRatingView()}};
  }
  return out;
}

}  // namespace

// ---- the recorder

void NativeRecorder::adLoaderDidFailToReceiveAdWithError(QMAAdLoader&, const QMARequestError& error) {
  record(name_, "adLoader:didFailToReceiveAdWithError:", describeError(error));
}

void NativeRecorder::received(const std::shared_ptr<QMANativeAd>& ad, const char* selector) {
  auto h = AdHost::shared();
  HostedAd* hosted = h ? h->ad(name_) : nullptr;
  if (hosted) {
    ad->setDelegate(std::static_pointer_cast<NativeRecorder>(hosted->nativeRecorder));
    showNativeAd(*hosted, ad, h->nextBannerOrigin());
  }
  record(name_, selector, describeNativeAssets(*ad));
}

void NativeRecorder::adLoaderDidReceiveNativeContentAd(QMAAdLoader&, const std::shared_ptr<QMANativeContentAd>& ad) {
  received(ad, "adLoader:didReceiveNativeContentAd:");
}
void NativeRecorder::adLoaderDidReceiveNativeAppInstallAd(QMAAdLoader&, const std::shared_ptr<QMANativeAppInstallAd>& ad) {
  received(ad, "adLoader:didReceiveNativeAppInstallAd:");
}
void NativeRecorder::adLoaderDidReceiveNativeCustomTemplateAd(QMAAdLoader&,
                                                             const std::shared_ptr<QMANativeCustomTemplateAd>& ad) {
  received(ad, "adLoader:didReceiveNativeCustomTemplateAd:");
}
std::optional<foundation::Array> NativeRecorder::nativeCustomTemplateIDsForAdLoader(QMAAdLoader&) {
  foundation::Array ids;
  for (const auto& id : templateIDs_) ids.emplace_back(id);
  return ids;
}
void NativeRecorder::nativeAdWillPresentScreen(QMANativeAd&) { record(name_, "nativeAdWillPresentScreen:"); }
void NativeRecorder::nativeAdWillDismissScreen(QMANativeAd&) { record(name_, "nativeAdWillDismissScreen:"); }
void NativeRecorder::nativeAdDidDismissScreen(QMANativeAd&) { record(name_, "nativeAdDidDismissScreen:"); }
void NativeRecorder::nativeAdWillLeaveApplication(QMANativeAd&) { record(name_, "nativeAdWillLeaveApplication:"); }

// ---- reading an ad

std::string describeNativeAssets(const QMANativeAd& ad) {
  std::string s;
  if (auto* content = dynamic_cast<const QMANativeContentAd*>(&ad)) {
    s = "content headline=" + quote(content->headline()) + " body=" + quote(content->body()) +
        " call-to-action=" + quote(content->callToAction()) + " advertiser=" + quote(content->advertiser()) +
        " logo=" + picture(content->logo());
  } else if (auto* install = dynamic_cast<const QMANativeAppInstallAd*>(&ad)) {
    s = "app-install headline=" + quote(install->headline()) + " body=" + quote(install->body()) +
        " call-to-action=" + quote(install->callToAction()) + " store=" + quote(install->store()) +
        " price=" + quote(install->price()) + " rating=" + num(install->starRating()) + " icon=" + picture(install->icon());
  } else if (auto* custom = dynamic_cast<const QMANativeCustomTemplateAd*>(&ad)) {
    s = "custom template=" + custom->templateID();
    for (const auto& key : custom->availableAssetKeys()) {
      if (auto text = custom->stringForKey(key)) {
        s += " " + key + "=" + quote(text);
      } else if (auto image = custom->imageForKey(key)) {
        s += " " + key + "=" + picture(image);
      } else {
        s += " " + key + "=none";
      }
    }
    return s;
  }
  if (auto* fixed = dynamic_cast<const QMANativeFixedLayoutAd*>(&ad)) {
    s += " images=";
    for (std::size_t i = 0; i < fixed->images().size(); ++i) s += (i ? "," : "") + picture(fixed->images()[i]);
    if (fixed->images().empty()) s += "none";
    auto badge = fixed->attribution();
    s += " attribution=" + (badge ? quote(badge->text()) + " " + picture(badge->icon()) : std::string("none"));
  }
  return s;
}

// ---- making and showing

std::string loadNativeAd(HostedAd& hosted, const std::vector<std::string>& types, const std::optional<std::string>& unit,
                         bool multipleImages, bool noImages) {
  foundation::Array adTypes;
  for (const auto& t : types)
    adTypes.emplace_back(t == "content" ? kQMAAdLoaderAdTypeNativeContent
                         : t == "app-install" ? kQMAAdLoaderAdTypeNativeAppInstall
                                              : kQMAAdLoaderAdTypeNativeCustomTemplate);
  std::optional<std::vector<std::any>> options;
  if (multipleImages || noImages) {
    auto imageOptions = QMANativeAdImageAdLoaderOptions::init();
    imageOptions->setShouldRequestMultipleImages(multipleImages);
    imageOptions->setDisableImageLoading(noImages);
    options = std::vector<std::any>{imageOptions};
  }
  auto h = AdHost::shared();
  hosted.adLoader = QMAAdLoader::initWithAdUnitIDRootViewControllerAdTypesOptions(unit.value_or(hosted.name),
                                                                                  h->rootViewController(), adTypes, options);
  if (!hosted.adLoader) return "error: the ad loader refused these types (see log)";
  hosted.adLoader->setDelegate(std::static_pointer_cast<QMAAdLoaderDelegate>(hosted.nativeRecorder));
  hosted.adLoader->loadRequest(QMARequest::request());
  std::string kinds;
  for (const auto& t : types) kinds += (kinds.empty() ? "" : ",") + t;
  return "ok loading " + hosted.name + " QMAAdLoader types=" + kinds + " unit=" + unit.value_or(hosted.name);
}

void showNativeAd(HostedAd& hosted, const std::shared_ptr<QMANativeAd>& ad, uikit::Point origin) {
  if (hosted.nativeView) hosted.nativeView->removeFromSuperview();
  hosted.nativeView.reset();
  hosted.nativeAd = ad;
  auto h = AdHost::shared();
  if (!h || !h->rootViewController()) return;
  const uikit::Rect frame{origin.x, origin.y, 320, 150};
  if (auto content = std::dynamic_pointer_cast<QMANativeContentAd>(ad)) {
    auto view = QMANativeContentAdView::initWithFrame(frame);
    auto headline = label(content->headline(), {8, 4, 220, 20});
    auto body = label(content->body(), {8, 26, 304, 36});
    auto image = imageView(content->images().empty() ? nullptr : content->images()[0], {8, 66, 150, 78});
    auto logo = imageView(content->logo(), {166, 66, 40, 40});
    auto advertiser = label(content->advertiser(), {166, 110, 100, 16});
    auto action = label(content->callToAction(), {230, 124, 82, 20});
    for (const auto& v : std::vector<std::shared_ptr<uikit::View>>{headline, body, image, logo, advertiser, action})
      view->addSubview(v);
    view->setHeadlineView(headline);
    view->setBodyView(body);
    view->setImageView(image);
    view->setLogoView(logo);
    view->setAdvertiserView(advertiser);
    view->setCallToActionView(action);
    hosted.nativeView = view;
    h->rootViewController()->view()->addSubview(view);
    view->setNativeContentAd(content);
  } else if (auto install = std::dynamic_pointer_cast<QMANativeAppInstallAd>(ad)) {
    auto view = QMANativeAppInstallAdView::initWithFrame(frame);
    auto icon = imageView(install->icon(), {8, 4, 40, 40});
    auto headline = label(install->headline(), {56, 4, 180, 20});
    auto rating = label(foundation::stringWithFormat("%g stars", install->starRating()), {56, 26, 100, 16});
    auto body = label(install->body(), {8, 48, 304, 30});
    auto image = imageView(install->images().empty() ? nullptr : install->images()[0], {8, 82, 150, 62});
    auto store = label(install->store(), {166, 82, 80, 16});
    auto price = label(install->price(), {166, 100, 80, 16});
    auto action = label(install->callToAction(), {230, 124, 82, 20});
    for (const auto& v : std::vector<std::shared_ptr<uikit::View>>{icon, headline, rating, body, image, store, price, action})
      view->addSubview(v);
    view->setIconView(icon);
    view->setHeadlineView(headline);
    view->setStarRatingView(rating);
    view->setBodyView(body);
    view->setImageView(image);
    view->setStoreView(store);
    view->setPriceView(price);
    view->setCallToActionView(action);
    hosted.nativeView = view;
    h->rootViewController()->view()->addSubview(view);
    view->setNativeAppInstallAd(install);
  }
}

// ---- acting and reading

std::string tapNativeAsset(HostedAd& hosted, const std::string& asset) {
  if (!hosted.nativeAd) return "error: " + hosted.name + " has no native ad yet";
  if (auto custom = std::dynamic_pointer_cast<QMANativeCustomTemplateAd>(hosted.nativeAd)) {
    const std::string name = hosted.name;
    custom->performClickOnAssetWithKeyCustomClickHandler(asset, [name, asset] { record(name, "customClickHandler", asset); });
    return "ok clicked " + hosted.name + " asset " + asset;
  }
  auto view = std::dynamic_pointer_cast<QMANativeAdView>(hosted.nativeView);
  if (!view) return "error: " + hosted.name + " is not shown";
  auto policy = view->nativeAdViewPolicy();
  std::shared_ptr<uikit::View> target;
  std::string id;
  if (asset == "attribution-icon" || asset == "attribution-text") {
    auto badge = policy->attributionView();
    if (badge->isHidden()) return "error: " + hosted.name + " shows no attribution";
    target = asset == "attribution-icon" ? badge->iconView() : badge->textView();
  } else {
    for (const auto& [word, v] : assetViews(hosted))
      if (word == asset) target = v;
    if (!target) return "error: no asset view " + asset + " in " + hosted.name;
    id = policy->assetNameForView(target.get()).value_or("");
  }
  const uikit::Rect b = target->bounds();
  const uikit::Point onScreen = target->convertPointToView({b.midX(), b.midY()}, nullptr);
  auto touched = uikit::Window::hitTestScreen(onScreen);
  if (!touched || !touched->isDescendantOfView(view.get()))
    return "error: a finger cannot reach " + asset + " of " + hosted.name;
  policy->tapRecognizer()->performTouches({view->convertPointFromView(onScreen, nullptr)});
  return "ok tapped " + hosted.name + " " + asset + (id.empty() ? "" : " (asset " + id + ")");
}

std::string nativeSnapshot(const HostedAd& hosted) {
  if (!hosted.nativeAd) return "error: " + hosted.name + " has no native ad yet";
  std::string s = "ok snapshot " + hosted.name;
  auto view = std::dynamic_pointer_cast<QMANativeAdView>(hosted.nativeView);
  if (!view) return s + " " + describeNativeAssets(*hosted.nativeAd) + " (no view: the host lays it out)";
  s += " " + view->className() + " " + rect(view->convertRectToView(view->bounds(), nullptr));
  for (const auto& [word, v] : assetViews(hosted)) {
    if (!v) continue;
    s += "; " + word + " " + rect(v->frame());
    if (auto l = std::dynamic_pointer_cast<uikit::Label>(v)) s += " \"" + l->text() + "\"";
    if (auto i = std::dynamic_pointer_cast<uikit::ImageView>(v)) s += " image " + picture(i->image());
    if (auto id = view->nativeAdViewPolicy()->assetNameForView(v.get())) s += " asset " + *id;
  }
  auto badge = view->nativeAdViewPolicy()->attributionView();
  if (badge->isHidden()) return s + "; badge hidden";
  auto text = std::static_pointer_cast<uikit::Label>(badge->textView());
  auto icon = std::static_pointer_cast<uikit::ImageView>(badge->iconView());
  return s + "; badge " + rect(badge->frame()) + " \"" + text->text() + "\" icon " + picture(icon->image()) +
         (hosted.nativeAd->hasRecordedImpression() ? "; impression recorded" : "");
}

std::string nativeScreenLine(const HostedAd& hosted) {
  std::string s = hosted.name + " native";
  if (!hosted.nativeAd) return s + " no ad";
  if (!hosted.nativeView) return s + " " + describeNativeAssets(*hosted.nativeAd);
  auto* fixed = dynamic_cast<const QMANativeFixedLayoutAd*>(hosted.nativeAd.get());
  return s + " " + rect(hosted.nativeView->convertRectToView(hosted.nativeView->bounds(), nullptr)) + " shows " +
         quote(fixed ? fixed->headline() : std::nullopt);
}

}  // namespace adhost
