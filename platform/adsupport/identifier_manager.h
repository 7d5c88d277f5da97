#pragma once
// The advertising identifier and the user's tracking choice, as the device reports
// them. Tests and drivers set both; by default tracking is on and the identifier is
// fixed for the process.

#include <mutex>
#include <optional>
#include <string>

namespace adsupport {

class ASIdentifierManager {
 public:
  static ASIdentifierManager& sharedManager();

  bool isAdvertisingTrackingEnabled() const;
  // The identifier as an upper-case UUID string; nullopt when the device has none.
  std::optional<std::string> advertisingIdentifier() const;

  void setAdvertisingTrackingEnabled(bool enabled);
  void setAdvertisingIdentifier(std::optional<std::string> identifier);

 private:
  mutable std::mutex lock_;
  bool trackingEnabled_ = true;
  std::optional<std::string> identifier_ = "6D92078A-8246-4BA4-AE5B-76104861E7DC";
};

}  // namespace adsupport
