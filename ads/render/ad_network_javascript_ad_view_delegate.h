#pragma once
// Ads that arrive as another ad network's JavaScript: the script draws the creative
// itself some time after the page has loaded, or gives the placement back (a passback)
// when it has nothing to show. The page's "finished" event says nothing about either, so
// the slot loads such an ad with QMAAdNetworkJavaScriptAdViewDelegate, which
//   - treats a navigation to the ad's passback URL (same host and path), or to any URL of
//     the scheme "passback", as no fill: request error 1, and the slot reloads later;
//   - after the first finished load, photographs the ad view every 0.2 s with a
//     QMAAdViewRenderedChecker until something other than its background shows, and only
//     then lets the banner delegate finish the load (ad ready, impression);
//   - gives up after more than 100 failed checks (some 20 s): a failed load.
//
// The check compares each pixel with the ad view's background colour as it is drawn
// (alpha premultiplied, 8 bits a channel) with one step of slack a channel: the drawing
// rounds, and a colour that is no whole step would otherwise never match.
//
// Threads: main thread (checked). The check timer runs on the main run loop in the default
// mode, so checks pause while that loop runs in another mode.

#include <cstdint>
#include <memory>
#include <optional>

#include "ads/render/banner_ad_view_delegate.h"
#include "platform/dispatch/run_loop.h"
#include "platform/net/url.h"
#include "platform/uikit/color.h"
#include "platform/uikit/image.h"

class QMAAdView;

class QMAAdViewRenderedCheckerDelegate {
 public:
  virtual ~QMAAdViewRenderedCheckerDelegate() = default;
  virtual void adViewDidRenderContent(QMAAdView& adView) = 0;
  virtual void adViewDidFailToRenderContent(QMAAdView& adView) = 0;
};

class QMAAdViewRenderedChecker {
 public:
  // Below this share of background pixels the ad counts as drawn.
  static constexpr double kRenderedBackgroundShare = 0.9;
  // Steps of 255 a channel may differ and still count as the background.
  static constexpr int kColorTolerance = 1;

  std::shared_ptr<QMAAdView> adView() const { return adView_.lock(); }
  void setAdView(std::weak_ptr<QMAAdView> adView) { adView_ = std::move(adView); }
  std::shared_ptr<QMAAdViewRenderedCheckerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAAdViewRenderedCheckerDelegate> delegate) { delegate_ = std::move(delegate); }

  // One check: the ad view drawn at its frame size and scale 1, its share of background
  // pixels, and the verdict to the delegate. Nothing when either has gone.
  void checkIsContentRenderedInAdView();
  // The share of pixels of `image` that show `color` (straight components), as drawn over
  // nothing: not a number for an image without pixels; 0 without a colour (nothing to
  // compare with counts as drawn).
  static double percentOfImageOfColor(const std::shared_ptr<uikit::Image>& image,
                                      const std::optional<uikit::Color>& color);

 private:
  std::weak_ptr<QMAAdView> adView_;
  std::weak_ptr<QMAAdViewRenderedCheckerDelegate> delegate_;
};

class QMAAdNetworkJavaScriptAdViewDelegate : public QMABannerAdViewDelegate, public QMAAdViewRenderedCheckerDelegate {
 public:
  static constexpr double kCheckRenderingInterval = 0.2;
  // More failed checks than this end the load as failed.
  static constexpr std::uint64_t kMaximumCheckRenderingCount = 100;

  static std::shared_ptr<QMAAdNetworkJavaScriptAdViewDelegate> initWithSlotPassbackURL(
      std::weak_ptr<QMARenderingSlot> slot, std::optional<net::URL> passbackURL);
  static std::shared_ptr<QMAAdNetworkJavaScriptAdViewDelegate> initWithSlot(std::weak_ptr<QMARenderingSlot> slot) {
    return initWithSlotPassbackURL(std::move(slot), std::nullopt);
  }
  ~QMAAdNetworkJavaScriptAdViewDelegate() override;

  const std::optional<net::URL>& passbackURL() const { return passbackURL_; }
  void setPassbackURL(std::optional<net::URL> url) { passbackURL_ = std::move(url); }
  bool wasPassbackReceived() const { return wasPassbackReceived_; }
  void setWasPassbackReceived(bool received) { wasPassbackReceived_ = received; }
  std::uint64_t checkRenderingCount() const { return checkRenderingCount_; }
  bool renderingCheckHasStarted() const { return renderingCheckHasStarted_; }
  const std::shared_ptr<QMAAdViewRenderedChecker>& adViewRenderedChecker() const { return adViewRenderedChecker_; }
  bool isCheckRenderingTimerRunning() const;

  bool isPassbackRequest(const net::URLRequest& request) const;
  void startRenderingTimerForAdView(const std::shared_ptr<QMAAdView>& adView);
  void stopRenderingTimer();

  std::optional<bool> adViewShouldStartLoadWithRequestNavigationType(QMAAdView& adView, const net::URLRequest& request,
                                                                     webkit::NavigationType type) override;
  void adViewDidFinishLoad(QMAAdView& adView) override;

  void adViewDidRenderContent(QMAAdView& adView) override;
  void adViewDidFailToRenderContent(QMAAdView& adView) override;

 private:
  std::optional<net::URL> passbackURL_;
  bool wasPassbackReceived_ = false;
  std::uint64_t checkRenderingCount_ = 0;
  dispatch::RunLoop* checkRenderingTimerLoop_ = nullptr;
  dispatch::RunLoop::Id checkRenderingTimer_ = 0;
  std::shared_ptr<QMAAdViewRenderedChecker> adViewRenderedChecker_;
  bool renderingCheckHasStarted_ = false;
};
