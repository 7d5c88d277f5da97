#pragma once
// What an ad response refers to of the rendering and mediation parts, held weakly: the
// receiver of MRAID events for an MRAID ad, and the format that serves mediation for it.

#include <memory>
#include <string>

class QMAAd;

// An MRAID ad's event sink; the slot tells it when the ad goes away. Main thread.
class QMAMRAIDEventHandling {
 public:
  virtual ~QMAMRAIDEventHandling() = default;
  virtual void MRAIDAdDidUnload() = 0;
  // The creative hears of a failed MRAID action ("onError" with the message and action).
  virtual void handleErrorAction(const std::string& message, const std::string& action) {}
  // The ad's full-screen view became visible or hidden.
  virtual void updateVisibility(bool visible) {}
};

// Served by the banner view, the interstitial and the ad loader. Main thread.
class QMAAdMediationDelegate {
 public:
  virtual ~QMAAdMediationDelegate() = default;
  // The name of the mediation connector class to use for the ad.
  virtual std::string connectorClassForAd(const std::shared_ptr<QMAAd>& ad) = 0;
};
