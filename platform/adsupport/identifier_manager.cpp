#include "platform/adsupport/identifier_manager.h"

namespace adsupport {

ASIdentifierManager& ASIdentifierManager::sharedManager() {
  static ASIdentifierManager manager;
  return manager;
}

bool ASIdentifierManager::isAdvertisingTrackingEnabled() const {
  std::lock_guard lock(lock_);
  return trackingEnabled_;
}

std::optional<std::string> ASIdentifierManager::advertisingIdentifier() const {
  std::lock_guard lock(lock_);
  return identifier_;
}

void ASIdentifierManager::setAdvertisingTrackingEnabled(bool enabled) {
  std::lock_guard lock(lock_);
  trackingEnabled_ = enabled;
}

void ASIdentifierManager::setAdvertisingIdentifier(std::optional<std::string> identifier) {
  std::lock_guard lock(lock_);
  identifier_ = std::move(identifier);
}

}  // namespace adsupport
