#pragma once
// The process-wide reuse cache of web views. A destroyed ad view hands its web view in;
// the cache clears it with about:blank and keeps it only when its page is then empty.
// The capacity is a server constant read once ("/quillon/ads/web_view_cache_max_capacity",
// 0 to 9, anything else 0), and 0 (the default) turns reuse off.
//
// Threads: hand-back and clearing on the main thread; adding and taking on the set's own
// serial queue (QMACacheSet).

#include <memory>
#include <set>

#include "ads/services/utilities.h"
#include "platform/webkit/web_view.h"

class QMAWebViewCacheSet : public QMACacheSet, public webkit::WebViewDelegate {
 public:
  static constexpr const char* kCapacityKey = "/quillon/ads/web_view_cache_max_capacity";
  static constexpr std::size_t kMaximumClearing = 3;

  // Made on first use with the stored capacity.
  static const std::shared_ptr<QMAWebViewCacheSet>& sharedCache();
  static std::shared_ptr<QMAWebViewCacheSet> initWithMaxCapacity(std::uint64_t maxCapacity);
  // The stored capacity as the cache reads it.
  static std::uint64_t storedCapacity();
  ~QMAWebViewCacheSet() override;

  // The hand-back: with capacity 0 the web view is dropped; otherwise it is cleared on the
  // main queue first (the cache is held weakly by that step).
  void addObject(std::shared_ptr<void> object) override;
  void clearWebView(const std::shared_ptr<webkit::WebView>& webView);
  std::size_t clearingCount() const { return clearingWebViews_.size(); }

  bool webViewShouldStartLoadWithRequestNavigationType(webkit::WebView&, const net::URLRequest&,
                                                       webkit::NavigationType) override;
  void webViewDidFinishLoad(webkit::WebView&) override;
  void webViewDidFailLoadWithError(webkit::WebView&, const foundation::Error&) override;

 private:
  explicit QMAWebViewCacheSet(std::uint64_t maxCapacity) : QMACacheSet(maxCapacity) {}
  std::shared_ptr<webkit::WebView> takeClearing(webkit::WebView& webView);
  std::set<std::shared_ptr<webkit::WebView>> clearingWebViews_;
};
