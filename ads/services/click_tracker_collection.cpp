#include "ads/services/click_tracker_collection.h"

#include "ads/services/ad_settings_parameters.h"
#include "ads/services/url_utilities.h"
#include "platform/dispatch/queue.h"
#include "platform/net/connection.h"

const std::shared_ptr<QMAClickTrackerCollection>& QMAClickTrackerCollection::sharedInstance() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* instance = new std::shared_ptr<QMAClickTrackerCollection>(std::make_shared<QMAClickTrackerCollection>());
  return *instance;
}

void QMAClickTrackerCollection::trackURLsCacheEnabled(const std::vector<std::string>& urls, bool cacheEnabled) {
  auto& settings = QMAAdSettingsParameters::sharedInstance();
  const auto clientID = settings.clientID();
  const auto hitID = QMAAdSettingsParameters::currentHitID();
  for (const auto& text : urls) {
    auto url = net::URL::fromString(text);
    if (!url || !url->isHTTP()) continue;
    QMAQueryParameters identifiers;
    if (clientID) identifiers.emplace_back("wj_cid", *clientID);
    if (hitID) identifiers.emplace_back("wj_hid", *hitID);
    auto withIdentifiers = identifiers.empty() ? url : qma_appendQueryParameters(*url, identifiers);
    if (!withIdentifiers) continue;
    net::URLRequest request(*withIdentifiers);
    if (!cacheEnabled) request.cachePolicy = net::CachePolicy::ReloadIgnoringLocalCacheData;
    net::sendAsynchronousRequest(
        request, [](std::function<void()> block) { dispatch::Queue::global()->async(std::move(block)); },
        [](net::URLResponsePtr, net::Bytes, std::optional<foundation::Error>) {});
  }
}
