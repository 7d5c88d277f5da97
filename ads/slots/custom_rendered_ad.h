#pragma once
// What a publisher-edition format hands its host when the ad server lets the host render
// an ad itself: the ad's HTML and the root of the ad's site as base URL. The host draws it,
// then reports through it that it finished rendering, that the ad was seen and that it was
// clicked; the format (its delegate) turns those into the slot's ad-ready state, impression
// and click pings. The delegates the formats report to are declared here too.
//
// Threads: main thread.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/net/url.h"
#include "platform/uikit/view.h"

class KVRBannerView;
class KVRInterstitial;
class KVRCustomRenderedAd;

// Served by both publisher-edition formats; all three messages are required.
class KVRCustomRenderedAdDelegate {
 public:
  virtual ~KVRCustomRenderedAdDelegate() = default;
  virtual void recordClick() = 0;
  virtual void recordCustomAdImpression() = 0;
  // The view is not used.
  virtual void finishedRenderingAdView(const std::shared_ptr<uikit::View>& view) = 0;
};

// The hosts' receivers of custom-rendered ads. Their one message is required; a delegate
// may still say that it does not implement it (respondsToSelector NO), and a format whose
// delegate does not, or that has none, refuses the ad with request error 12.
class KVRCustomRenderedBannerViewDelegate {
 public:
  static constexpr const char* kProtocolName = "KVRCustomRenderedBannerViewDelegate";
  static constexpr const char* kBannerViewDidReceiveCustomRenderedAd = "bannerView:didReceiveCustomRenderedAd:";
  virtual ~KVRCustomRenderedBannerViewDelegate() = default;
  virtual bool respondsToSelector(std::string_view selector) const { return true; }
  virtual void bannerViewDidReceiveCustomRenderedAd(KVRBannerView& bannerView,
                                                    const std::shared_ptr<KVRCustomRenderedAd>& ad) = 0;
};

class KVRCustomRenderedInterstitialDelegate {
 public:
  static constexpr const char* kProtocolName = "KVRCustomRenderedInterstitialDelegate";
  static constexpr const char* kInterstitialDidReceiveCustomRenderedAd = "interstitial:didReceiveCustomRenderedAd:";
  virtual ~KVRCustomRenderedInterstitialDelegate() = default;
  virtual bool respondsToSelector(std::string_view selector) const { return true; }
  virtual void interstitialDidReceiveCustomRenderedAd(KVRInterstitial& interstitial,
                                                      const std::shared_ptr<KVRCustomRenderedAd>& ad) = 0;
};

class KVRCustomRenderedAd {
 public:
  // The designated initialiser (copies both); there is no plain one.
  static std::shared_ptr<KVRCustomRenderedAd> initWithAdHTMLAdBaseURL(const std::optional<std::string>& adHTML,
                                                                     const std::optional<net::URL>& adBaseURL);

  const std::optional<std::string>& adHTML() const { return adHTML_; }
  const std::optional<net::URL>& adBaseURL() const { return adBaseURL_; }
  std::shared_ptr<KVRCustomRenderedAdDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<KVRCustomRenderedAdDelegate> delegate) { delegate_ = std::move(delegate); }

  // The host's reports, passed to the delegate.
  void recordClick();
  void recordImpression();
  void finishedRenderingAdView(const std::shared_ptr<uikit::View>& view);

 private:
  KVRCustomRenderedAd(std::optional<std::string> html, std::optional<net::URL> baseURL)
      : adHTML_(std::move(html)), adBaseURL_(std::move(baseURL)) {}
  std::optional<std::string> adHTML_;
  std::optional<net::URL> adBaseURL_;
  std::weak_ptr<KVRCustomRenderedAdDelegate> delegate_;
};
