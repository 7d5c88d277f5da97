#pragma once
// The delegate of the ad view inside a full-screen web-app controller (the interstitial's
// among them). Links the user taps ping the ad's click URLs (unless the server switched that
// off); a landing page's start and end are timed on the ad's statistics; while a page of
// the ad view loads, the MRAID script may be served. For an interstitial slot it also
// carries the creative's app events to the host. Its page's web process ending ends the
// takeover.
//
// Threads: main thread (checked).

#include <memory>

#include "ads/render/ad_view_delegate.h"

class QMAAdAppViewController;

class QMAAdAppAdViewDelegate : public QMAAdViewDelegate {
 public:
  // The server constant that switches the click ping on tapped links off ("1").
  static constexpr const char* kDisableClickPingKey = "/quillon/ads/disable_interstitial_click_ping_on_click_navigation";

  static std::shared_ptr<QMAAdAppAdViewDelegate> initWithAdAppViewController(
      const std::shared_ptr<QMAAdAppViewController>& controller);
  // Gives back what it holds of the MRAID interceptor's counter for loads that never ended.
  ~QMAAdAppAdViewDelegate() override;

  std::shared_ptr<QMAAdAppViewController> webAppViewController() const { return webAppViewController_.lock(); }
  void setWebAppViewController(std::weak_ptr<QMAAdAppViewController> controller) {
    webAppViewController_ = std::move(controller);
  }

  std::optional<bool> adViewShouldStartLoadWithRequestNavigationType(QMAAdView& adView, const net::URLRequest& request,
                                                                     webkit::NavigationType type) override;
  void adViewDidStartLoad(QMAAdView& adView) override;
  void adViewDidFinishLoad(QMAAdView& adView) override;
  void adViewDidFailLoadWithError(QMAAdView& adView, const foundation::Error& error) override;
  // The page of a takeover can no longer draw or hear its close: the takeover ends (an
  // interstitial leaves the screen, the host hearing it go), and a banner's own ad view,
  // back in its banner, is handed to the banner's delegate, which loads it again in place
  // or reports it over.
  void adViewWebContentProcessDidTerminate(QMAAdView& adView) override;

 private:
  void endLoad();
  std::weak_ptr<QMAAdAppViewController> webAppViewController_;
  // Loads started and not yet ended, each holding one share of the interceptor's counter.
  long loadsInFlight_ = 0;
};
