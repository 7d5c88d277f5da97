#include "ads/render/mraid_interceptor.h"

#include <atomic>
#include <map>
#include <vector>

#include "ads/model/ad_type.h"
#include "ads/render/ad_view.h"
#include "ads/render/banner_ad_view_delegate.h"
#include "ads/services/application.h"
#include "platform/dispatch/queue.h"
#include "platform/net/ad_network.h"
#include "platform/net/connection.h"

namespace {

struct InterceptorState {
  std::mutex lock;
  bool allowed = false;
  long counter = 0;
  std::optional<std::string> banner, interstitial, expanded;
  std::set<std::string> paths;
};

void rebuildPaths(InterceptorState& s) {
  if (s.banner && s.interstitial && s.expanded) s.paths = {*s.banner, *s.interstitial, *s.expanded};
}

// The class comes to life on its first use: the default script URLs and its place in the
// URL protocol registry for the rest of the process. The flag waits for the first allow
// (the start-up's early activities, a preset ad's load).
InterceptorState& state() {
  static InterceptorState* s = [] {
    auto* fresh = new InterceptorState;
    fresh->banner = net::adNetworkURL("/qads/static/sdk/native/mraid/v2/mraid_app_banner.js");
    fresh->expanded = net::adNetworkURL("/qads/static/sdk/native/mraid/v2/mraid_app_expanded_banner.js");
    fresh->interstitial = net::adNetworkURL("/qads/static/sdk/native/mraid/v2/mraid_app_interstitial.js");
    rebuildPaths(*fresh);
    net::URLProtocolRegistry::registerClass(
        net::URLProtocolClass{[](const net::URLRequest& request) { return QMAMRAIDInterceptor::canInitWithRequest(request); },
                              [] { return std::make_shared<QMAMRAIDInterceptor>(); }});
    return fresh;
  }();
  return *s;
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

bool QMAMRAIDInterceptor::canInitWithRequestIsEnabled() {
  {
    std::lock_guard l(state().lock);
    if (!state().allowed || state().counter == 0) return false;
  }
  return QMAAdURLStash::hasStashedURLs();
}

bool QMAMRAIDInterceptor::urlIsAnImplementationPath(const net::URL& url) {
  std::lock_guard l(state().lock);
  return state().paths.count(url.absoluteString()) != 0;
}

std::optional<net::URL> QMAMRAIDInterceptor::refererURLFromRequest(const net::URLRequest& request) {
  auto referer = request.headers.get("referer");
  if (!referer || referer->empty()) return std::nullopt;
  return net::URL::fromString(*referer);
}

bool QMAMRAIDInterceptor::shouldRedirectForMRAID(const net::URLRequest& request) {
  if (urlIsAnImplementationPath(request.url)) return false;
  const std::string path = request.url.path();
  const std::size_t slash = path.rfind('/');
  return path.substr(slash == std::string::npos ? 0 : slash + 1) == "mraid.js";
}

bool QMAMRAIDInterceptor::canInitWithRequest(const net::URLRequest& request) {
  if (!canInitWithRequestIsEnabled()) return false;
  if (!shouldRedirectForMRAID(request)) return false;
  auto referer = refererURLFromRequest(request);
  return referer && QMAAdURLStash::viewForURL(*referer) != nullptr;
}

QMAMRAIDInterceptor::QMAMRAIDInterceptor(const net::URLRequest& request) { chooseScript(request); }

void QMAMRAIDInterceptor::chooseScript(const net::URLRequest& request) {
  chosen_ = true;
  auto referer = refererURLFromRequest(request);
  if (!referer) return;
  std::shared_ptr<QMAAdView> view = QMAAdURLStash::viewForURL(*referer);
  auto delegate = view ? view->delegate() : nullptr;
  if (auto* banner = dynamic_cast<QMABannerAdViewDelegate*>(delegate.get())) {
    auto slot = banner->slot();
    auto type = slot ? slot->adType() : nullptr;
    mraidLocationToLoad_ = type && type->isInterstitial() ? interstitialImplementationPath() : bannerImplementationPath();
  } else {
    mraidLocationToLoad_ = expandedBannerImplementationPath();
  }
}

struct QMAMRAIDInterceptor::Load {
  std::atomic<bool> stopped{false};
};

void QMAMRAIDInterceptor::startLoading(const net::URLRequest& request, std::shared_ptr<net::URLProtocolClient> client) {
  if (!chosen_) chooseScript(request);
  std::optional<net::URL> script;
  if (mraidLocationToLoad_) script = net::URL::fromString(*mraidLocationToLoad_);
  if (!script) {
    client->protocolDidFail(foundation::Error{"NSCocoaErrorDomain", -1000, {}});
    return;
  }
  auto load = std::make_shared<Load>();
  load_ = load;
  net::URLRequest download(*script);
  download.timeoutInterval = kScriptDownloadTimeout;
  // The download runs on the loading machinery's threads: neither the page's thread nor
  // the main thread waits for it.
  net::sendAsynchronousRequest(
      std::move(download), net::deliverOn(dispatch::Queue::global()),
      [load, client, url = *script](net::URLResponsePtr response, net::Bytes data, std::optional<foundation::Error> error) {
        if (load->stopped) return;
        if (!error && response && response->isHTTP && (response->statusCode < 200 || response->statusCode >= 300)) {
          foundation::Dictionary info;
          info[foundation::kLocalizedDescriptionKey] =
              "The MRAID script answered with HTTP status " + std::to_string(response->statusCode);
          error = foundation::Error{"NSURLErrorDomain", -1011, std::move(info)};
        }
        if (error || !response) {
          client->protocolDidFail(error ? *error : foundation::Error{"NSURLErrorDomain", -1, {}});
          return;
        }
        auto answer = std::make_shared<net::URLResponse>();
        answer->url = url;
        answer->isHTTP = false;
        answer->mimeType = "application/javascript";
        answer->expectedContentLength = static_cast<std::int64_t>(data.size());
        client->protocolDidReceiveResponse(std::move(answer));
        client->protocolDidLoadData(std::move(data));
        client->protocolDidFinishLoading();
      });
}

void QMAMRAIDInterceptor::stopLoading() {
  if (load_) load_->stopped = true;
}
