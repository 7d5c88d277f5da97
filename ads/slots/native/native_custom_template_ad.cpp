#include "ads/slots/native/native_custom_template_ad.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "ads/services/logging.h"
#include "ads/services/utilities.h"
#include "ads/slots/native/ad_loader.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"

namespace {

void logTemplateMessage(const std::string& message) { QMALogger::sharedInstance()->logPublicMessage(message); }

// The decimal text of a number: integers (also whole reals) without a fraction.
std::optional<std::string> decimalText(const foundation::Value& v) {
  if (const auto* i = v.asInteger()) return std::to_string(*i);
  if (const auto* d = v.asReal()) {
    if (!std::isfinite(*d)) return std::nullopt;
    if (std::floor(*d) == *d && std::fabs(*d) < 1e18) return std::to_string(static_cast<long long>(*d));
    return QMAStringFromDouble(*d);
  }
  return std::nullopt;
}

// Whether a number formatter in its default settings reads the text as a number.
bool readsAsNumber(const std::string& text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  bool digits = false, point = false;
  for (; i < text.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i]))) {
      digits = true;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

}  // namespace

QMANativeCustomTemplateAd::QMANativeCustomTemplateAd(foundation::Dictionary adObject, std::string templateID)
    : QMANativeAd(std::move(adObject)),
      lockQueue_(dispatch::Queue::createSerial("com.quillon.pelmark.custom-template")),
      templateID_(std::move(templateID)) {}

QMANativeCustomTemplateAd::~QMANativeCustomTemplateAd() {
  if (customClickObserver_) foundation::NotificationCenter::defaultCenter().removeObserver(customClickObserver_);
}

std::shared_ptr<QMANativeCustomTemplateAd> QMANativeCustomTemplateAd::initWithDictionaryOptions(
    foundation::Dictionary object, const std::optional<QMAAdLoaderOptionsByClass>& options) {
  auto idValue = object.find("custom_template_id");
  if (idValue == object.end()) return nullptr;
  std::optional<std::string> templateID;
  if (const std::string* s = idValue->second.asString()) {
    templateID = *s;
  } else if (!idValue->second.asBoolean()) {
    templateID = decimalText(idValue->second);
  }
  if (!templateID) return nullptr;
  std::shared_ptr<QMANativeCustomTemplateAd> ad(new QMANativeCustomTemplateAd(std::move(object), *templateID));
  const foundation::Dictionary& adObject = ad->adConfiguration();
  auto imageOptions = QMANativeAdImageOptionsIn(options);
  ad->disableImageLoading_ = imageOptions && imageOptions->disableImageLoading();
  if (const foundation::Array* assets = foundation::arrayForKey(adObject, "custom_assets")) {
    for (const auto& element : *assets) {
      const foundation::Dictionary* asset = element.asDictionary();
      if (!asset) continue;
      const std::string* name = foundation::stringForKey(*asset, "name");
      const std::string* type = foundation::stringForKey(*asset, "type");
      if (!name || name->empty() || !type || type->empty()) continue;
      if (*type == "string") {
        if (const std::string* value = foundation::stringForKey(*asset, "string_value")) {
          ad->stringAssets_[*name] = *value;
        } else {
          ad->stringAssets_.erase(*name);
        }
        ad->availableAssetKeys_.insert(*name);
      } else if (*type == "image") {
        auto it = asset->find("image_value");
        auto image = it == asset->end() ? nullptr : QMANativeAdImage::initWithDictionary(it->second);
        if (!image) continue;
        // One image per name: a later entry replaces an earlier one, whichever its flag, so
        // a name is never both required and optional.
        ad->requiredImages_.erase(*name);
        ad->optionalImages_.erase(*name);
        (image->required() ? ad->requiredImages_ : ad->optionalImages_)[*name] = image;
      }
    }
  }
  return ad;
}

std::vector<std::string> QMANativeCustomTemplateAd::templateIDsFromDelegateAnswer(
    const std::optional<foundation::Array>& ids) {
  std::vector<std::string> out;
  if (!ids) return out;
  for (const auto& id : *ids) {
    if (const std::string* s = id.asString()) {
      if (!readsAsNumber(*s))
        logTemplateMessage(foundation::stringWithFormat(
            "Received non-numeric custom template ID. The template ID may be invalid: %@", *s));
      out.push_back(*s);
    } else if (auto text = id.asBoolean() ? std::nullopt : decimalText(id)) {
      out.push_back(*text);
    } else {
      logTemplateMessage(foundation::stringWithFormat("Received non-string custom template ID: %@",
                                             id.asBoolean() ? (*id.asBoolean() ? "1" : "0") : foundation::jsonSerialize(id)));
    }
  }
  return out;
}

foundation::Dictionary QMANativeCustomTemplateAd::requestParametersForAdLoader(QMAAdLoader& adLoader) {
  std::optional<foundation::Array> answer;
  if (auto d = std::dynamic_pointer_cast<QMANativeCustomTemplateAdLoaderDelegate>(adLoader.delegate()))
    answer = d->nativeCustomTemplateIDsForAdLoader(adLoader);
  foundation::Array ids;
  for (auto& id : templateIDsFromDelegateAnswer(answer)) ids.emplace_back(std::move(id));
  return {{"format", 3}, {"custom_template_ids", std::move(ids)}};
}

bool QMANativeCustomTemplateAd::hasValidConfigurationForRequestParameters(
    const std::optional<foundation::Dictionary>& params) const {
  if (!QMANativeAd::hasValidConfigurationForRequestParameters(params) || !params) return false;
  const foundation::Array* ids = foundation::arrayForKey(*params, "custom_template_ids");
  if (!ids) return false;
  return std::any_of(ids->begin(), ids->end(), [&](const foundation::Value& v) {
    return v.asString() && *v.asString() == templateID_;
  });
}

std::optional<std::set<std::string>> QMANativeCustomTemplateAd::requiredAssets() const {
  std::set<std::string> names;
  for (const auto& [name, image] : requiredImages_) names.insert(name);
  return names;
}

void QMANativeCustomTemplateAd::exposeImage(const std::string& name, const std::shared_ptr<QMANativeAdImage>& image) {
  imageAssets_[name] = image;
  availableAssetKeys_.insert(name);
}

void QMANativeCustomTemplateAd::loadAssets() {
  WV_DCHECK_MAIN_THREAD();
  for (const auto* images : {&optionalImages_, &requiredImages_}) {
    for (const auto& [name, image] : *images) {
      if (disableImageLoading_) {
        exposeImage(name, image);
        continue;
      }
      loadImageAsset(image, name, [name = name, image = image](QMANativeAd& ad) {
        static_cast<QMANativeCustomTemplateAd&>(ad).exposeImage(name, image);
      });
    }
  }
  QMANativeAd::loadAssets();
}

void QMANativeCustomTemplateAd::adLoaderDidReceiveAd(QMAAdLoader& adLoader) {
  auto self = std::static_pointer_cast<QMANativeCustomTemplateAd>(shared_from_this());
  if (auto d = std::dynamic_pointer_cast<QMANativeCustomTemplateAdLoaderDelegate>(adLoader.delegate()))
    d->adLoaderDidReceiveNativeCustomTemplateAd(adLoader, self);
}

void QMANativeCustomTemplateAd::setSlot(std::shared_ptr<QMASlot> slot) {
  auto& center = foundation::NotificationCenter::defaultCenter();
  if (customClickObserver_) {
    center.removeObserver(customClickObserver_);
    customClickObserver_.reset();
  }
  QMANativeAd::setSlot(slot);
  // Only an ad view's own answers count: with no ad view nothing is observed (a missing
  // object would mean every sender).
  if (slot && slot->adView()) {
    std::weak_ptr<QMANativeAd> weak = weak_from_this();
    customClickObserver_ = center.addObserverForName(
        kCustomClickNotification, slot->adView().get(), nullptr, [weak](const foundation::Notification&) {
          if (auto self = std::static_pointer_cast<QMANativeCustomTemplateAd>(weak.lock()))
            self->handleNativeAdCustomClick();
        });
  }
}

std::vector<std::string> QMANativeCustomTemplateAd::availableAssetKeys() const {
  std::vector<std::string> keys(availableAssetKeys_.begin(), availableAssetKeys_.end());
  auto folded = [](const std::string& s) {
    std::string f(s);
    std::transform(f.begin(), f.end(), f.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return f;
  };
  std::stable_sort(keys.begin(), keys.end(), [&](const std::string& a, const std::string& b) {
    const std::string fa = folded(a), fb = folded(b);
    return fa != fb ? fa < fb : a < b;
  });
  return keys;
}

std::optional<std::string> QMANativeCustomTemplateAd::stringForKey(const std::string& key) const {
  auto it = stringAssets_.find(key);
  if (it == stringAssets_.end()) return std::nullopt;
  return it->second;
}

std::shared_ptr<QMANativeAdImage> QMANativeCustomTemplateAd::imageForKey(const std::string& key) const {
  auto it = imageAssets_.find(key);
  return it == imageAssets_.end() ? nullptr : it->second;
}

void QMANativeCustomTemplateAd::performClickOnAssetWithKeyCustomClickHandler(const std::string& key,
                                                                            ClickHandler handler) {
  if (!availableAssetKeys_.count(key)) {
    logTemplateMessage(foundation::stringWithFormat("Asset is unavailable. Cannot perform click on \"%@\".", key));
    return;
  }
  if (!handler) {
    performClickOnViewAssetNameEnvironment(nullptr, key, std::nullopt);
    return;
  }
  auto self = std::static_pointer_cast<QMANativeCustomTemplateAd>(shared_from_this());
  lockQueue_->async([self, key, handler = std::move(handler)] {
    if (self->customClickHandler_) {
      logTemplateMessage("Still processing prior click event. This click event will be ignored.");
      return;
    }
    self->customClickHandler_ = handler;
    self->performClickOnViewAssetNameEnvironment(nullptr, key,
                                                 foundation::Dictionary{{"has_custom_click_handler", true}});
  });
}

void QMANativeCustomTemplateAd::handleNativeAdCustomClick() {
  auto self = std::static_pointer_cast<QMANativeCustomTemplateAd>(shared_from_this());
  lockQueue_->async([self] {
    if (!self->customClickHandler_) return;
    dispatch::Queue::main()->async(std::move(self->customClickHandler_));
    self->customClickHandler_ = nullptr;
  });
}

bool QMANativeCustomTemplateAd::hasPendingClickHandler() const {
  bool pending = false;
  lockQueue_->sync([&] { pending = static_cast<bool>(customClickHandler_); });
  return pending;
}

std::string QMANativeCustomTemplateAd::description() const {
  std::string joined;
  for (const auto& k : availableAssetKeys()) joined += (joined.empty() ? "" : ", ") + k;
  return foundation::stringWithFormat("<%@: %p, availableAssetKeys:[%@]>", className(), static_cast<const void*>(this),
                                      joined);
}
