#pragma once
// For tests: a slot that holds a shown ad (state 6) and does nothing with what it hears.
// A test derives from it and overrides only what it records or answers differently.
// `Base` is the slot interface to stand in for (QMARenderingSlot or one derived from it).

#include <memory>
#include <optional>

#include "ads/render/rendering_slot.h"

namespace render_test {

template <class Base = QMARenderingSlot>
struct StubSlot : Base {
  std::int64_t state() const override { return 6; }
  std::uint64_t timeLastLoaded() const override { return 0; }
  std::shared_ptr<QMAAdType> adType() const override { return nullptr; }
  std::shared_ptr<QMARequest> request() const override { return nullptr; }
  std::shared_ptr<QMAAdView> adView() const override { return nullptr; }
  bool isMRAIDEnabled() const override { return false; }
  void didReceiveValidAd() override {}
  void didLoadAdHTMLInWebView() override {}
  void didMakeAdImpression() override {}
  void adFinishedLoadingContent() override {}
  void didFailToReceiveAdWithErrorShouldCancelPendingActions(const std::optional<QMARequestError>&, bool) override {}
  void adWasClicked() override {}
  net::URL gestureClickURLWithURL(const net::URL& url) override { return url; }
  void pingClickURLs() override {}
  void adWillLeaveApplication() override {}
  void willLeaveAppDueToClick() override {}
};

}  // namespace render_test
