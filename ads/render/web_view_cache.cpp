#include "ads/render/web_view_cache.h"

#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/user_defaults.h"

std::uint64_t QMAWebViewCacheSet::storedCapacity() {
  const auto stored = foundation::UserDefaults::standardUserDefaults()->objectForKey(kCapacityKey);
  if (stored.isNull()) return 0;
  const long long value = foundation::UserDefaults::standardUserDefaults()->integerForKey(kCapacityKey);
  return value >= 0 && value <= 9 ? static_cast<std::uint64_t>(value) : 0;
}

const std::shared_ptr<QMAWebViewCacheSet>& QMAWebViewCacheSet::sharedCache() {
  // Lives to the end of the process: ad views that go away while the program exits still
  // hand their web views back to it.
  static const auto* cache = new std::shared_ptr<QMAWebViewCacheSet>(initWithMaxCapacity(storedCapacity()));
  return *cache;
}

std::shared_ptr<QMAWebViewCacheSet> QMAWebViewCacheSet::initWithMaxCapacity(std::uint64_t maxCapacity) {
  auto cache = std::shared_ptr<QMAWebViewCacheSet>(new QMAWebViewCacheSet(maxCapacity));
  cache->observeMemoryWarnings();
  return cache;
}

QMAWebViewCacheSet::~QMAWebViewCacheSet() {
  for (const auto& webView : clearingWebViews_) {
    webView->setDelegate({});
    webView->stopLoading();
  }
}

void QMAWebViewCacheSet::addObject(std::shared_ptr<void> object) {
  if (maxCapacity() == 0 || !object) return;
  auto webView = std::static_pointer_cast<webkit::WebView>(object);
  std::weak_ptr<QMACacheSet> weak = shared_from_this();
  dispatch::Queue::main()->async([weak, webView] {
    if (auto cache = std::static_pointer_cast<QMAWebViewCacheSet>(weak.lock())) cache->clearWebView(webView);
  });
}

void QMAWebViewCacheSet::clearWebView(const std::shared_ptr<webkit::WebView>& webView) {
  WV_DCHECK_MAIN_THREAD();
  if (clearingWebViews_.size() >= kMaximumClearing) return;
  webView->removeFromSuperview();
  webView->stopLoading();
  webView->setDelegate(std::dynamic_pointer_cast<webkit::WebViewDelegate>(shared_from_this()));
  clearingWebViews_.insert(webView);
  webView->loadRequest(net::URLRequest(*net::URL::fromString("about:blank")));
}

std::shared_ptr<webkit::WebView> QMAWebViewCacheSet::takeClearing(webkit::WebView& webView) {
  for (auto it = clearingWebViews_.begin(); it != clearingWebViews_.end(); ++it) {
    if (it->get() == &webView) {
      auto found = *it;
      clearingWebViews_.erase(it);
      return found;
    }
  }
  return nullptr;
}

bool QMAWebViewCacheSet::webViewShouldStartLoadWithRequestNavigationType(webkit::WebView&,
                                                                         const net::URLRequest& request,
                                                                         webkit::NavigationType) {
  return request.url.absoluteString() == "about:blank";
}

void QMAWebViewCacheSet::webViewDidFinishLoad(webkit::WebView& webView) {
  WV_DCHECK_MAIN_THREAD();
  auto found = takeClearing(webView);
  if (!found) return;
  found->setDelegate({});
  if (!found->stringByEvaluatingJavaScriptFromString("document.body.innerHTML").empty()) return;
  // The next owner must not be able to go back to another ad's pages.
  found->resetHistory();
  QMACacheSet::addObject(found);
}

void QMAWebViewCacheSet::webViewDidFailLoadWithError(webkit::WebView& webView, const foundation::Error&) {
  WV_DCHECK_MAIN_THREAD();
  if (auto found = takeClearing(webView)) found->setDelegate({});
}
