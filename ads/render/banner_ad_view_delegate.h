#pragma once
// The delegate of a slot's ad view, for banners, interstitials and the ad loader alike (the
// slot makes it with itself). It tells clicks from other navigations, counts and opens
// clicks, reports the finished or failed load of the ad's HTML to the slot, and holds the
// finish back while the page asks for a delay.
//
// A navigation is a click when the slot shows or loads no HTML (states 0, 2, 3, 4, 6, 7),
// the ad loaded at least 0.15 s ago, it is no back/forward or reload, and the ad view has
// been touched. A click never loads in the ad view: the slot counts it and, for an http(s)
// URL, the opener leaves the application for the slot's click URL.
//
// After the base list it adds the app-event handler and the delay-page-load handler (with
// itself as the delay's delegate); the web-app and swipe handlers join with their classes.
// A click's URL is decided without touching the ad view's recorded page: the click never
// loads there.
//
// A shown ad whose web process ends is loaded again in place, at most
// kMaximumReloadsAfterProcessEnd times per ad: the reload is no new ad (no impression, no
// pings; the slot stays ready). When the page cannot be brought back (its reload fails, or
// its process keeps ending) the slot hears that the ad is over. A process that ends while
// the ad's HTML is still being rendered fails that load, as any failed load does.
//
// The view holds one page's load at a time. A process that ends while the slot's next ad
// is on the way is not reloaded: that ad replaces the page, and a request that ends
// without one (`slotRequestDidEndWithoutAd`) ends the old ad as a page that cannot be
// brought back. A reload still under way when the next ad's page starts is stopped and
// dropped, so the old page's late steps never take the new one's place, its URL or its
// MRAID script. The reload holds a share of the MRAID interceptor's counter whatever the
// slot's current ad says, as the page's first load did: while a request is in flight the
// slot's ad is already the next one, and a new ad's MRAID handler is set only once its
// page has said so.
//
// Threads: main thread (checked).

#include <memory>
#include <optional>

#include "ads/render/ad_view_delegate.h"
#include "ads/render/default_qomb_handler.h"
#include "ads/render/rendering_slot.h"
#include "platform/net/url.h"

class QMABannerAdViewDelegate : public QMAAdViewDelegate, public QMADelayLoadDelegate {
 public:
  // A click needs at least this long since the ad loaded.
  static constexpr double kMinimumSecondsFromLoadToClick = 0.15;
  // How often one ad's page is loaded again after its web process ended.
  static constexpr int kMaximumReloadsAfterProcessEnd = 2;

  static std::shared_ptr<QMABannerAdViewDelegate> initWithSlot(std::weak_ptr<QMARenderingSlot> slot);
  static std::shared_ptr<QMABannerAdViewDelegate> init() { return initWithSlot({}); }
  ~QMABannerAdViewDelegate() override;

  std::shared_ptr<QMARenderingSlot> slot() const { return slot_.lock(); }
  bool isLoadDelayed() const { return loadDelayed_; }
  bool isLoadFinished() const { return loadFinished_; }
  // Reloads of the current ad after its web process ended; reset by the next ad.
  int reloadsAfterProcessEnd() const { return reloadsAfterProcessEnd_; }
  // Whether a reload of the page after its process ended is under way.
  bool isReloadingAfterProcessEnd() const { return reloadingAfterProcessEnd_; }
  // Whether the page's process ended while the slot's request was in flight, and the page
  // waits for the next ad.
  bool awaitsNextAdAfterProcessEnd() const { return awaitingNextAdAfterProcessEnd_; }
  // The slot's request ended and no new page comes (it failed or was given up): a page
  // whose process ended meanwhile cannot be brought back.
  void slotRequestDidEndWithoutAd();
  // The slot's request ended with an ad, shown in this view or in another network's: no
  // page waits any longer.
  void slotRequestDidEndWithAd() { awaitingNextAdAfterProcessEnd_ = false; }

  bool isClick(webkit::NavigationType type) const;
  std::optional<bool> adViewShouldStartLoadWithRequestNavigationType(QMAAdView& adView, const net::URLRequest& request,
                                                                     webkit::NavigationType type) override;
  void adViewDidFinishLoad(QMAAdView& adView) override;
  void adViewDidFailLoadWithError(QMAAdView& adView, const foundation::Error& error) override;
  void adViewWebContentProcessDidTerminate(QMAAdView& adView) override;

  // The page's delay count changed (from the delay-page-load handler).
  void loadHandlerDidChangeDelayFromTo(QMADelayPageLoadQOMBHandler& handler, long from, long to) override;
  // The page gave up its delay: the load counts as failed.
  void loadHandlerDidCancel(QMADelayPageLoadQOMBHandler& handler) override;

 protected:
  // What initWithSlot does once the object exists; subclasses call it from their makers.
  void setUpWithSlot(std::weak_ptr<QMARenderingSlot> slot);

 private:
  std::weak_ptr<QMARenderingSlot> slot_;
  bool loadDelayed_ = false;
  bool loadFinished_ = false;
  int reloadsAfterProcessEnd_ = 0;
  bool reloadingAfterProcessEnd_ = false;
  bool awaitingNextAdAfterProcessEnd_ = false;
  // The page a reload after a process end brings back, and one whose reload the next ad's
  // page stopped (until that page has loaded or failed).
  std::optional<net::URL> reloadedURL_;
  std::optional<net::URL> supersededReloadURL_;
  // The reload holds a share of the MRAID interceptor's counter, as the ad's first load did.
  bool holdsMRAIDInterceptorShare_ = false;
  void endReloadAfterProcessEnd();
};
