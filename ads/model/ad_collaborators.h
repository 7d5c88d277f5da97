#pragma once
// What an ad response refers to of the rendering and mediation parts, held weakly: the
// receiver of MRAID events for an MRAID ad, and the format that serves mediation for it.

#include <memory>
#include <string>

class QMAAd;
namespace uikit {
class View;
}

// An MRAID ad's event sink (the slot): what the creative's page hears of its ad. The
// creative's script starts it (load), the slot ends it when its ad goes away (unload),
// viewability samples move it (visibility, position), and every refusal of a creative's
// request reaches the creative through it (error, with the request's action). Main thread.
class QMAMRAIDEventHandling {
 public:
  virtual ~QMAMRAIDEventHandling() = default;
  virtual void MRAIDAdDidLoad() = 0;
  virtual void MRAIDAdDidUnload() = 0;
  // The ad's view became visible or hidden (its full-screen view, or a viewability sample).
  virtual void updateVisibility(bool visible) = 0;
  virtual void updatePositionFromView(const std::shared_ptr<uikit::View>& view) = 0;
  // The creative hears of a failed MRAID action ("onError" with the message and action).
  virtual void handleErrorAction(const std::string& message, const std::string& action) = 0;
};

// Served by the banner view, the interstitial and the ad loader. Main thread.
class QMAAdMediationDelegate {
 public:
  virtual ~QMAAdMediationDelegate() = default;
  // The name of the mediation connector class to use for the ad.
  virtual std::string connectorClassForAd(const std::shared_ptr<QMAAd>& ad) = 0;
};
