#pragma once
// The delegate of the in-app browser's ad view: it counts the landing pages the user opens
// by scheme ("plpnc" for http, "plpsnc" for https, on the ad's statistics), times the
// landing page ("tlanding_page_load_start" once, "tlanding_page_load_end" at every finish)
// and refreshes the browser's toolbar whenever a page starts, finishes or fails to load.
// Its handler list is the base one.
//
// Threads: main thread (checked).

#include <memory>

#include "ads/render/ad_view_delegate.h"

class QMABrowserViewController;

class QMABrowserAdViewDelegate : public QMAAdViewDelegate {
 public:
  static std::shared_ptr<QMABrowserAdViewDelegate> init() { return std::make_shared<QMABrowserAdViewDelegate>(); }

  // The browser of a browser's ad view; null for any other ad view.
  static std::shared_ptr<QMABrowserViewController> browserControllerForAdView(QMAAdView& adView);

  std::optional<bool> adViewShouldStartLoadWithRequestNavigationType(QMAAdView& adView, const net::URLRequest& request,
                                                                     webkit::NavigationType type) override;
  void adViewDidStartLoad(QMAAdView& adView) override;
  void adViewDidFinishLoad(QMAAdView& adView) override;
  void adViewDidFailLoadWithError(QMAAdView& adView, const foundation::Error& error) override;
};
