#pragma once
// The receiver of app events: named messages an ad sends to its host, with an optional
// information text. Both messages are optional; a format sends one only when
// respondsToSelector answers YES for its selector. They arrive on the thread the slot
// reports the event on (the main thread in practice).

#include <optional>
#include <string>
#include <string_view>

class KVRBannerView;
class KVRInterstitial;

class QMAAppEventDelegate {
 public:
  static constexpr const char* kAdViewDidReceiveAppEventWithInfo = "adView:didReceiveAppEvent:withInfo:";
  static constexpr const char* kInterstitialDidReceiveAppEventWithInfo = "interstitial:didReceiveAppEvent:withInfo:";
  virtual ~QMAAppEventDelegate() = default;
  virtual bool respondsToSelector(std::string_view selector) const { return false; }
  virtual void adViewDidReceiveAppEventWithInfo(KVRBannerView&, const std::string& name,
                                                const std::optional<std::string>& info) {}
  virtual void interstitialDidReceiveAppEventWithInfo(KVRInterstitial&, const std::string& name,
                                                      const std::optional<std::string>& info) {}
};
