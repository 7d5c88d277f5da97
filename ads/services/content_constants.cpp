#include "ads/services/content.h"
#include "platform/foundation/user_defaults.h"

QMAContentConstants QMAContentConstants::fromUserDefaults() {
  QMAContentConstants c;
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  auto read = [&](std::string_view key, auto& field) {
    if (!defaults->objectForKey(key).isNull()) {
      field = static_cast<std::remove_reference_t<decltype(field)>>(defaults->integerForKey(key));
    }
  };
  read("/quillon/ads/content_age_weight", c.contentAgeWeight);
  read("/quillon/ads/content_length_weight", c.contentLengthWeight);
  read("/quillon/ads/maximum_shingle_count", c.maximumShingleCount);
  read("/quillon/ads/minimum_paragraph_length", c.minimumParagraphLength);
  read("/quillon/ads/shingle_length", c.shingleLength);
  return c;
}
