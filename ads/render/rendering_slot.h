#pragma once
// What the rendering and presentation parts ask of the slot whose ad view they serve: its
// state, request and ad type, the events of its ad view (the ad's HTML loaded or failed,
// the impression), and the steps of a click that may leave the application. The slot of
// the ad slots (QMASlot) serves it; these parts hold it weakly, so a slot that has gone
// silences them.
//
// Threads: main thread, as the slot.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ads/model/ad.h"
#include "ads/model/ad_type.h"
#include "ads/model/request.h"
#include "ads/model/request_error.h"
#include "platform/net/url.h"

class QMAAdView;

class QMARenderingSlot {
 public:
  virtual ~QMARenderingSlot() = default;

  // The slot's state: 0 idle ... 5 rendering, 6 ad ready, 7 failed, 8 invalidated.
  virtual std::int64_t state() const = 0;
  // Monotonic milliseconds at which the current HTML ad finished loading; 0 before.
  virtual std::uint64_t timeLastLoaded() const = 0;
  virtual std::shared_ptr<QMAAdType> adType() const = 0;
  virtual std::shared_ptr<QMARequest> request() const = 0;
  virtual std::shared_ptr<QMAAdView> adView() const = 0;
  virtual bool isMRAIDEnabled() const = 0;
  // The ad shown now; null before one.
  virtual const std::shared_ptr<QMAAd>& ad() const {
    static const std::shared_ptr<QMAAd> none;
    return none;
  }

  // The ad view's HTML finished loading while the slot rendered it, in this order.
  virtual void didReceiveValidAd() = 0;
  virtual void didLoadAdHTMLInWebView() = 0;
  virtual void didMakeAdImpression() = 0;
  virtual void adFinishedLoadingContent() = 0;
  // The request failed (a nil error is reported as an internal error).
  virtual void didFailToReceiveAdWithErrorShouldCancelPendingActions(const std::optional<QMARequestError>& error,
                                                                     bool cancelPendingActions) = 0;

  // A click: counted, turned into the URL to open, and reported once carried out.
  virtual void adWasClicked() = 0;
  virtual net::URL gestureClickURLWithURL(const net::URL& url) = 0;
  virtual void pingClickURLs() = 0;
  virtual void adWillLeaveApplication() = 0;
  virtual void willLeaveAppDueToClick() = 0;

  // The shown ad's page lost its web process and could not be shown again: the ad is over.
  virtual void adWebContentDidEnd() {}
  // Whatever the slot's ad has laid over the host (a resize, an expand, a web app of its
  // creative, the in-app browser) ends now, through the one owner of that takeover.
  virtual void endTakeover() {}
  // The ad's HTML is in the ad view and being drawn (state 5).
  virtual void willLoadAdHTMLInWebView() {}
  // The slot asks for a new ad once its reload interval has passed.
  virtual void scheduleAdReloadTimer() {}
  // The creative switched the swipe to the store page on or off.
  virtual void enableSwipeToViewController() {}
  virtual void disableSwipeToViewController() {}
  // The creative sent the host an app event (a name, and information when it gave some).
  virtual void didReceiveAppEventWithInfo(const std::string& name, const std::optional<std::string>& info) {}
};
