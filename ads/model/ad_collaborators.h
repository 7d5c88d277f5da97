#pragma once
// What an ad response refers to of the rendering and mediation parts, held weakly: the
// receiver of MRAID events for an MRAID ad, and the format that serves mediation for it.

#include <memory>
#include <string>

#include "platform/foundation/value.h"

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
  // Everything the creative reads of its ad, as it stands now, for a change of its MRAID
  // state about to reach it: "currentPosition" (the view's frame), "defaultPosition",
  // "maxSize" and "screenSize". They go out in the same message as the new state, so every
  // listener of the change (its "stateChange" and its "sizeChange") reads the new values,
  // never the ones from before. From then on they count as sent: a later sample that
  // finds them unchanged sends nothing. Empty when the handler keeps no such values.
  virtual foundation::Dictionary MRAIDValuesFromView(const std::shared_ptr<uikit::View>&) { return {}; }
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
