#include "ads/services/click_tracker_collection.h"

#include <algorithm>
#include <cctype>

#include "ads/services/ad_settings_parameters.h"
#include "ads/services/url_utilities.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"

namespace {

// The error that stops a download at a redirect out of HTTP (the public error domain, code 0).
constexpr const char* kRedirectStopDomain = "com.quillon.ads";

bool isHTTPScheme(const net::URL& url) {
  std::string scheme = url.scheme().value_or("");
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme.starts_with("http");
}

}  // namespace

// ---- QMAClickTracker

QMAClickTracker::~QMAClickTracker() {
  dropDownload();
  if (backgroundTask_ != uikit::Application::kBackgroundTaskInvalid)
    uikit::Application::sharedApplication()->endBackgroundTask(backgroundTask_);
}

void QMAClickTracker::dropDownload() {
  if (!download_) return;
  download_->setDelegate({});
  download_->invalidate();
  download_.reset();
}

void QMAClickTracker::reset() {
  WV_DCHECK_MAIN_THREAD();
  hasTracked_ = false;
  dropDownload();
  endBackgroundTask();
}

void QMAClickTracker::beginBackgroundTask() {
  WV_DCHECK_MAIN_THREAD();
  std::weak_ptr<QMAClickTracker> weak = weak_from_this();
  backgroundTask_ = uikit::Application::sharedApplication()->beginBackgroundTaskWithExpirationHandler([weak] {
    auto self = weak.lock();
    if (!self) return;
    self->reset();
    if (auto d = self->delegate()) d->trackerWasAbandoned(*self);
  });
}

void QMAClickTracker::endBackgroundTask() {
  if (backgroundTask_ == uikit::Application::kBackgroundTaskInvalid) return;
  uikit::Application::sharedApplication()->endBackgroundTask(backgroundTask_);
  backgroundTask_ = uikit::Application::kBackgroundTaskInvalid;
}

void QMAClickTracker::trackURL(const std::optional<net::URL>& url) {
  WV_DCHECK_MAIN_THREAD();
  reset();
  if (!url) return;
  beginBackgroundTask();
  download_ = QMACachedFile::initWithURL(url);
  if (!download_) return;
  download_->setDelegate(std::static_pointer_cast<QMACachedFileDelegate>(shared_from_this()));
  if (!cacheEnabled_) download_->setCachePolicy(net::CachePolicy::ReloadIgnoringLocalCacheData);
  // A ping is judged by its status alone: the page it lands on, of whatever size, is not
  // read or stored.
  download_->setKeepsBody(false);
  download_->validate();
}

std::optional<foundation::Error> QMAClickTracker::cachedFileShouldRedirectToURL(QMACachedFile&, const net::URL& url) {
  if (isHTTPScheme(url)) return std::nullopt;
  // A store or application link ends the chain: it is where the click leads, not a page.
  finishWithDestination(url);
  return foundation::Error{kRedirectStopDomain, 0, {}};
}

void QMAClickTracker::finishWithDestination(const net::URL& destination) {
  if (hasTracked_) return;
  auto keep = shared_from_this();
  hasTracked_ = true;
  if (auto d = delegate()) d->trackerDidRedirect(*this, destination);
  endBackgroundTask();
}

void QMAClickTracker::cachedFileDownloadDidEnd(QMACachedFile& file) { finishWithDestination(file.HTTPDestinationURL()); }

void QMAClickTracker::cachedFileDownloadDidFail(QMACachedFile&, const std::optional<foundation::Error>& error) {
  if (hasTracked_) return;  // stopped at a redirect out of HTTP: reported already
  auto keep = shared_from_this();
  hasTracked_ = true;
  if (auto d = delegate()) d->trackerDidFailWithError(*this, error);
  endBackgroundTask();
}

// ---- QMAClickTrackerCollection

const std::shared_ptr<QMAClickTrackerCollection>& QMAClickTrackerCollection::sharedInstance() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* instance = new std::shared_ptr<QMAClickTrackerCollection>(std::make_shared<QMAClickTrackerCollection>());
  return *instance;
}

void QMAClickTrackerCollection::trackURL(const std::optional<net::URL>& url) { trackURLCacheEnabled(url, true); }

void QMAClickTrackerCollection::trackURLsCacheEnabled(const foundation::Array& urls, bool cacheEnabled) {
  for (const auto& element : urls) {
    const std::string* text = element.asString();
    if (!text) continue;
    if (auto url = net::URL::fromString(*text)) trackURLCacheEnabled(url, cacheEnabled);
  }
}

void QMAClickTrackerCollection::trackURLsCacheEnabled(const std::vector<std::string>& urls, bool cacheEnabled) {
  for (const auto& text : urls)
    if (auto url = net::URL::fromString(text)) trackURLCacheEnabled(url, cacheEnabled);
}

void QMAClickTrackerCollection::trackURLCacheEnabled(const std::optional<net::URL>& url, bool cacheEnabled) {
  // A tracker without a URL would never report: none is made.
  if (!url || !url->isHTTP()) return;
  auto self = shared_from_this();
  QMARunOnMainThread([self, target = *url, cacheEnabled] { self->startTracker(target, cacheEnabled); });
}

void QMAClickTrackerCollection::startTracker(net::URL url, bool cacheEnabled) {
  WV_DCHECK_MAIN_THREAD();
  auto tracker = QMAClickTracker::init();
  tracker->setDelegate(weak_from_this());
  tracker->setCacheEnabled(cacheEnabled);
  auto& settings = QMAAdSettingsParameters::sharedInstance();
  QMAQueryParameters identifiers;
  if (auto clientID = settings.clientID()) identifiers.emplace_back("wj_cid", *clientID);
  if (auto hitID = QMAAdSettingsParameters::currentHitID()) identifiers.emplace_back("wj_hid", *hitID);
  if (!identifiers.empty()) {
    auto withIdentifiers = qma_appendQueryParameters(url, identifiers);
    if (!withIdentifiers) return;
    url = *withIdentifiers;
  }
  trackers_.insert(tracker);
  tracker->trackURL(url);
}

void QMAClickTrackerCollection::cleanupTrackers() {
  WV_DCHECK_MAIN_THREAD();
  for (auto it = trackers_.begin(); it != trackers_.end();) {
    if ((*it)->hasTracked()) {
      (*it)->setDelegate({});
      it = trackers_.erase(it);
    } else {
      ++it;
    }
  }
}

void QMAClickTrackerCollection::scheduleCleanup() {
  auto self = shared_from_this();
  dispatch::Queue::main()->async([self] { self->cleanupTrackers(); });
}

void QMAClickTrackerCollection::trackerDidRedirect(QMAClickTracker&, const net::URL&) { scheduleCleanup(); }

void QMAClickTrackerCollection::trackerDidFailWithError(QMAClickTracker&, const std::optional<foundation::Error>&) {
  scheduleCleanup();
}

void QMAClickTrackerCollection::trackerWasAbandoned(QMAClickTracker& tracker) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = tracker.shared_from_this();
  tracker.setDelegate({});
  trackers_.erase(keep);
}
