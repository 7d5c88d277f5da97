#include "ads/services/click_tracker_collection.h"

#include "ads/services/ad_settings_parameters.h"
#include "platform/dispatch/queue.h"
#include "platform/net/connection.h"

const std::shared_ptr<QMAClickTrackerCollection>& QMAClickTrackerCollection::sharedInstance() {
  static const auto instance = std::make_shared<QMAClickTrackerCollection>();
  return instance;
}

void QMAClickTrackerCollection::trackURLsCacheEnabled(const std::vector<std::string>& urls, bool cacheEnabled) {
  auto& settings = QMAAdSettingsParameters::sharedInstance();
  const auto clientID = settings.clientID();
  const auto hitID = QMAAdSettingsParameters::currentHitID();
  for (const auto& text : urls) {
    auto url = net::URL::fromString(text);
    if (!url || !url->isHTTP()) continue;
    std::string full = url->absoluteString();
    std::string extra;
    if (clientID) extra += "wj_cid=" + net::percentEscape(*clientID);
    if (hitID) extra += std::string(extra.empty() ? "" : "&") + "wj_hid=" + net::percentEscape(*hitID);
    if (!extra.empty()) {
      const auto hash = full.find('#');
      const std::string fragment = hash == std::string::npos ? "" : full.substr(hash);
      full = full.substr(0, hash);
      full += (url->query() && !url->query()->empty() ? "&" : (full.back() == '?' ? "" : "?")) + extra + fragment;
    }
    auto withIdentifiers = net::URL::fromString(full);
    if (!withIdentifiers) continue;
    net::URLRequest request(*withIdentifiers);
    if (!cacheEnabled) request.cachePolicy = net::CachePolicy::ReloadIgnoringLocalCacheData;
    net::sendAsynchronousRequest(
        request, [](std::function<void()> block) { dispatch::Queue::global()->async(std::move(block)); },
        [](net::URLResponsePtr, net::Bytes, net::ErrorPtr) {});
  }
}
