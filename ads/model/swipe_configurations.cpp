#include "ads/model/swipe_configurations.h"

#include "ads/services/device.h"

std::shared_ptr<QMASwipeToViewControllerConfigurations>
QMASwipeToViewControllerConfigurations::initWithSwipeConfigurations(const foundation::Dictionary& configurations) {
  if (!QMADevice::sharedInstance()->isOSAtLeastMajorMinorPatch(7, 0, 0)) return nullptr;
  std::shared_ptr<QMASwipeToViewControllerConfigurations> c(new QMASwipeToViewControllerConfigurations());
  if (auto it = configurations.find("app_store_product_id"); it != configurations.end() && it->second.isNumber())
    c->productID_ = it->second;
  if (const foundation::Array* rects = foundation::arrayForKey(configurations, "swipeable_rectangles")) {
    std::vector<QMARect> valid;
    for (const auto& element : *rects) {
      const foundation::Dictionary* d = element.asDictionary();
      if (!d) continue;
      foundation::Error error;
      QMARect r = QMACGRectFromDictionary(*d, &error);
      if (!error.domain.empty()) continue;
      valid.push_back(r);
    }
    if (!valid.empty()) c->rectangles_ = std::move(valid);
  }
  if (const foundation::Dictionary* metadata =
          foundation::dictionaryForKey(configurations, "swipe_event_creative_metadata"))
    c->metadata_ = *metadata;
  if (auto it = configurations.find("swipe_animation_transition_duration");
      it != configurations.end() && it->second.isNumber()) {
    double d = *it->second.doubleValue();
    if (d > 0) c->duration_ = d;
  }
  return c;
}
