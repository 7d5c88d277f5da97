#include "ads/services/pinger.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "ads/services/ping_request.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/connection.h"

namespace {

std::shared_ptr<foundation::UserDefaults> defaults() { return foundation::UserDefaults::standardUserDefaults(); }

void eraseOne(std::multiset<std::string>& set, const std::string& value) {
  if (auto it = set.find(value); it != set.end()) set.erase(it);
}

// Takes the lock within about two seconds, or gives up and answers false. Polled rather
// than timed: a crashing thread must never wait longer than that.
bool lockWithin2Seconds(std::recursive_mutex& mutex) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!mutex.try_lock()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace

const std::shared_ptr<QMAPinger>& QMAPinger::sharedInstance() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* instance = new std::shared_ptr<QMAPinger>(create());
  return *instance;
}

std::shared_ptr<QMAPinger> QMAPinger::create() {
  std::shared_ptr<QMAPinger> pinger(new QMAPinger());
  pinger->lockQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.pinger");
  auto d = defaults();

  // A stored interval under a second (zero, negative, not a number, or a typo of the
  // server's) would make the retry pass hammer the network: the default stands instead.
  double interval = kDefaultPingInterval;
  if (!d->objectForKey(kQMAPingIntervalKey).isNull()) {
    double stored = d->doubleForKey(kQMAPingIntervalKey);
    if (std::isfinite(stored) && stored >= kMinimumPingInterval) interval = stored;
  }
  pinger->scheduler_ = QMAScheduler::initWithInterval(interval);
  if (!d->objectForKey(kQMAMaximumRetryURLCountKey).isNull())
    pinger->maximumRetryURLCount_ = d->integerForKey(kQMAMaximumRetryURLCountKey);
  if (!d->objectForKey(kQMAURLTimeToLiveKey).isNull()) pinger->URLRetryCount_ = d->integerForKey(kQMAURLTimeToLiveKey);
  if (auto keys = d->arrayForKey(kQMARetryGroupKeysKey)) {
    for (const auto& key : *keys)
      if (auto s = key.asString()) pinger->retryGroupKeys_.push_back(*s);
  }
  return pinger;
}

void QMAPinger::start() {
  if (!scheduler_ || started_.exchange(true)) return;
  std::weak_ptr<QMAPinger> weak = shared_from_this();
  scheduler_->taskIDScheduledOnQueueBlock(lockQueue_, [weak] {
    if (auto self = weak.lock()) self->pingRetryURLs();
  });
  scheduler_->start();
}

std::vector<std::string> QMAPinger::retryGroupKeys() const {
  std::lock_guard lock(storeMutex_);
  return retryGroupKeys_;
}

std::set<std::string> QMAPinger::pingedURLs() const {
  std::set<std::string> copy;
  lockQueue_->sync([&] { copy.insert(pingedURLs_.begin(), pingedURLs_.end()); });
  return copy;
}

void QMAPinger::pingWithRetryGroupKeyURLRetryURLString(const std::optional<std::string>& retryGroupKey,
                                                       const std::optional<net::URL>& url,
                                                       const std::optional<std::string>& retryURLString) {
  if (!retryGroupKey || !url || !retryURLString) return;
  auto self = shared_from_this();
  lockQueue_->async([self, key = *retryGroupKey, url = *url, retry = *retryURLString] {
    self->storeRetryURLStringRetryGroupKey(retry, key);
    // Until the first ping answers, its stored retry form is as good as in flight, even
    // when it reads differently from the URL pinged.
    self->filedRetryURLsInFlight_.insert(retry);
    std::weak_ptr<QMAPinger> weak = self;
    self->pingURLStringCompletionBlock(url.absoluteString(), [weak, retry, key](bool success) {
      auto pinger = weak.lock();
      if (!pinger) return;
      eraseOne(pinger->filedRetryURLsInFlight_, retry);
      if (success) pinger->removeRetryURLStringFromGroup(retry, key);
    });
  });
}

void QMAPinger::storeRetryURLStringRetryGroupKey(const std::optional<std::string>& urlString,
                                                 const std::optional<std::string>& retryGroupKey) {
  if (!urlString || !retryGroupKey) return;
  // A crash may come while another thread holds the lock and never lets go: after a
  // bounded wait the entry is written anyway, since losing it is worse than a race.
  std::unique_lock lock(storeMutex_, std::defer_lock);
  if (lockWithin2Seconds(storeMutex_)) lock = std::unique_lock(storeMutex_, std::adopt_lock);

  if (std::find(retryGroupKeys_.begin(), retryGroupKeys_.end(), *retryGroupKey) == retryGroupKeys_.end())
    retryGroupKeys_.push_back(*retryGroupKey);
  auto d = defaults();
  foundation::Array keys(retryGroupKeys_.begin(), retryGroupKeys_.end());
  d->setObjectForKey(keys, kQMARetryGroupKeysKey);

  foundation::Dictionary group = d->dictionaryForKey(*retryGroupKey).value_or(foundation::Dictionary{});
  if (static_cast<std::int64_t>(group.size()) < maximumRetryURLCount_ && !group.count(*urlString)) {
    group[*urlString] = foundation::Dictionary{{kQMARetryCountKey, URLRetryCount_}};
    d->setObjectForKey(group, *retryGroupKey);
  }
}

void QMAPinger::removeRetryURLStringFromGroup(const std::string& urlString, const std::string& retryGroupKey) {
  std::lock_guard lock(storeMutex_);
  auto d = defaults();
  auto group = d->dictionaryForKey(retryGroupKey);
  if (!group) return;
  group->erase(urlString);
  d->setObjectForKey(*group, retryGroupKey);
}

void QMAPinger::pingURLStringCompletionBlock(const std::string& urlString, std::function<void(bool)> completionBlock) {
  WV_DCHECK_ON_QUEUE(lockQueue_);
  if (!completionBlock) return;
  auto url = urlString.empty() ? std::nullopt : net::URL::fromString(urlString);
  if (!url) {
    lockQueue_->async([completionBlock] { completionBlock(false); });
    return;
  }
  pingedURLs_.insert(urlString);
  auto queue = lockQueue_;
  std::weak_ptr<QMAPinger> weak = shared_from_this();
  // The answer's body is never read: its status alone says whether the ping arrived.
  QMASendPingRequest(
      net::URLRequest(*url), net::deliverOn(dispatch::OperationQueue::mainQueue()),
      [queue, weak, urlString, completionBlock](net::URLResponsePtr response, std::optional<foundation::Error> error) {
        bool success = !error && response && response->isHTTP && response->statusCode >= 200 &&
                       response->statusCode <= 299;
        queue->async([weak, urlString, completionBlock, success] {
          if (auto self = weak.lock()) eraseOne(self->pingedURLs_, urlString);
          completionBlock(success);
        });
      });
}

void QMAPinger::pingRetryURLs() {
  WV_DCHECK_ON_QUEUE(lockQueue_);
  auto d = defaults();
  auto keys = d->arrayForKey(kQMARetryGroupKeysKey);
  if (!keys) return;
  for (const auto& keyValue : *keys) {
    auto key = keyValue.asString();
    if (!key) continue;
    std::vector<std::string> toPing;
    {
      std::lock_guard lock(storeMutex_);
      auto group = d->dictionaryForKey(*key);
      if (!group) continue;
      foundation::Dictionary kept;
      for (const auto& [urlString, entry] : *group) {
        if (pingedURLs_.count(urlString) || filedRetryURLsInFlight_.count(urlString)) {
          kept[urlString] = entry;
          continue;
        }
        std::int64_t left = 0;
        if (auto e = entry.asDictionary()) {
          if (auto count = e->find(kQMARetryCountKey); count != e->end()) left = count->second.longLongValue().value_or(0);
        }
        if (left < 1) continue;
        foundation::Dictionary updated = entry.asDictionary() ? *entry.asDictionary() : foundation::Dictionary{};
        updated[kQMARetryCountKey] = left - 1;
        kept[urlString] = updated;
        toPing.push_back(urlString);
      }
      d->setObjectForKey(kept, *key);
    }
    for (const auto& urlString : toPing) {
      std::weak_ptr<QMAPinger> weak = shared_from_this();
      pingURLStringCompletionBlock(urlString, [weak, urlString, key = *key](bool success) {
        auto self = weak.lock();
        if (success && self) self->removeRetryURLStringFromGroup(urlString, key);
      });
    }
  }
}
