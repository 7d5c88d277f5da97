#include "ads/render/mraid_interceptor.h"

#include <map>
#include <vector>

#include "ads/services/application.h"
#include "platform/net/ad_network.h"

namespace {

struct InterceptorState {
  std::mutex lock;
  bool allowed = false;
  long counter = 0;
  std::optional<std::string> banner, interstitial, expanded;
  std::set<std::string> paths;
};

InterceptorState& state() {
  static InterceptorState s;
  return s;
}

void rebuildPaths(InterceptorState& s) {
  if (s.banner && s.interstitial && s.expanded) s.paths = {*s.banner, *s.interstitial, *s.expanded};
}

struct StashEntry {
  std::weak_ptr<QMAAdView> view;
  const QMAAdView* identity = nullptr;
};

struct StashState {
  std::mutex lock;
  // Every ad view that shows the page, newest last: two views of one creative share a key.
  std::map<std::string, std::vector<StashEntry>> entries;
};

StashState& stash() {
  static StashState s;
  return s;
}

}  // namespace

void QMAMRAIDInterceptor::allowAtStartUp() {
  static const bool added = (QMAApplication::addEarlyActivity([] { allow(); }), true);
  (void)added;
}

void QMAMRAIDInterceptor::allow() {
  std::lock_guard l(state().lock);
  state().allowed = true;
}
void QMAMRAIDInterceptor::disallow() {
  std::lock_guard l(state().lock);
  state().allowed = false;
}
bool QMAMRAIDInterceptor::isAllowed() {
  std::lock_guard l(state().lock);
  return state().allowed;
}
void QMAMRAIDInterceptor::setBannerImplementationPath(const std::optional<std::string>& path) {
  std::lock_guard l(state().lock);
  state().banner = path;
  rebuildPaths(state());
}
void QMAMRAIDInterceptor::setInterstitialImplementationPath(const std::optional<std::string>& path) {
  std::lock_guard l(state().lock);
  state().interstitial = path;
  rebuildPaths(state());
}
void QMAMRAIDInterceptor::setExpandedBannerImplementationPath(const std::optional<std::string>& path) {
  std::lock_guard l(state().lock);
  state().expanded = path;
  rebuildPaths(state());
}
std::optional<std::string> QMAMRAIDInterceptor::bannerImplementationPath() {
  std::lock_guard l(state().lock);
  return state().banner;
}
std::optional<std::string> QMAMRAIDInterceptor::interstitialImplementationPath() {
  std::lock_guard l(state().lock);
  return state().interstitial;
}
std::optional<std::string> QMAMRAIDInterceptor::expandedBannerImplementationPath() {
  std::lock_guard l(state().lock);
  return state().expanded;
}
std::set<std::string> QMAMRAIDInterceptor::implementationPaths() {
  std::lock_guard l(state().lock);
  return state().paths;
}
void QMAMRAIDInterceptor::resetToDefaultPaths() {
  std::lock_guard l(state().lock);
  state().banner = net::adNetworkURL("/qads/static/sdk/native/mraid/v2/mraid_app_banner.js");
  state().expanded = net::adNetworkURL("/qads/static/sdk/native/mraid/v2/mraid_app_expanded_banner.js");
  state().interstitial = net::adNetworkURL("/qads/static/sdk/native/mraid/v2/mraid_app_interstitial.js");
  rebuildPaths(state());
}
void QMAMRAIDInterceptor::enableCanInitWithRequest() {
  std::lock_guard l(state().lock);
  ++state().counter;
}
void QMAMRAIDInterceptor::disableCanInitWithRequest() {
  std::lock_guard l(state().lock);
  if (state().counter > 0) --state().counter;
}
void QMAMRAIDInterceptor::resetCanInitWithRequestCounter() {
  std::lock_guard l(state().lock);
  state().counter = 0;
}
long QMAMRAIDInterceptor::canInitWithRequestCounter() {
  std::lock_guard l(state().lock);
  return state().counter;
}

std::optional<std::string> QMAAdURLStash::canonicalURLString(const net::URL& url) {
  const std::string& text = url.absoluteString();
  auto host = url.host();
  if (url.port() || !host || host->empty()) return text;
  std::string out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t at = text.find(*host, pos);
    if (at == std::string::npos) {
      out.append(text, pos, std::string::npos);
      break;
    }
    out.append(text, pos, at - pos);
    out += *host + ":80";
    pos = at + host->size();
  }
  const std::size_t hash = out.rfind('#');
  if (hash != std::string::npos) out.resize(hash);
  if (!out.empty() && out.back() == '/') out.pop_back();
  if (!net::URL::fromString(out)) return std::nullopt;
  return out;
}

void QMAAdURLStash::addURLForView(const net::URL& url, const std::shared_ptr<QMAAdView>& view) {
  auto key = canonicalURLString(url);
  if (!key || !view) return;
  std::lock_guard l(stash().lock);
  auto& views = stash().entries[*key];
  std::erase_if(views, [&](const StashEntry& e) { return e.identity == view.get() || e.view.expired(); });
  views.push_back(StashEntry{view, view.get()});
}

void QMAAdURLStash::removeURLForView(const net::URL& url, const QMAAdView* view) {
  auto key = canonicalURLString(url);
  if (!key) return;
  std::lock_guard l(stash().lock);
  auto it = stash().entries.find(*key);
  if (it == stash().entries.end()) return;
  std::erase_if(it->second, [&](const StashEntry& e) { return e.identity == view || e.view.expired(); });
  if (it->second.empty()) stash().entries.erase(it);
}

std::shared_ptr<QMAAdView> QMAAdURLStash::viewForURL(const net::URL& url) {
  auto key = canonicalURLString(url);
  if (!key) return nullptr;
  std::lock_guard l(stash().lock);
  auto it = stash().entries.find(*key);
  if (it == stash().entries.end()) return nullptr;
  for (auto e = it->second.rbegin(); e != it->second.rend(); ++e)
    if (auto view = e->view.lock()) return view;
  return nullptr;
}

bool QMAAdURLStash::hasStashedURLs() {
  std::lock_guard l(stash().lock);
  return !stash().entries.empty();
}

void QMAAdURLStash::removeAll() {
  std::lock_guard l(stash().lock);
  stash().entries.clear();
}
