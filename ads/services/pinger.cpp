#include "ads/services/pinger.h"

#include <chrono>
#include <cmath>

#include "platform/dispatch/operation_queue.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/connection.h"

namespace {

std::shared_ptr<foundation::UserDefaults> defaults() { return foundation::UserDefaults::standardUserDefaults(); }

}  // namespace

const std::shared_ptr<QMAPinger>& QMAPinger::sharedInstance() {
  static const std::shared_ptr<QMAPinger> instance = create();
  return instance;
}

std::shared_ptr<QMAPinger> QMAPinger::create() {
  std::shared_ptr<QMAPinger> pinger(new QMAPinger());
  pinger->lockQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.pinger");
  auto d = defaults();

  // A stored interval that is not a positive number would make the retry pass spin.
  double interval = kDefaultPingInterval;
  if (!d->objectForKey(kQMAPingIntervalKey).isNull()) {
    double stored = d->doubleForKey(kQMAPingIntervalKey);
    if (std::isfinite(stored) && stored > 0) interval = stored;
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
  if (started_ || !scheduler_) return;
  started_ = true;
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
  lockQueue_->sync([&] { copy = pingedURLs_; });
  return copy;
}

void QMAPinger::pingWithRetryGroupKeyURLRetryURLString(const std::optional<std::string>& retryGroupKey,
                                                       const std::optional<net::URL>& url,
                                                       const std::optional<std::string>& retryURLString) {
  if (!retryGroupKey || !url || !retryURLString) return;
  auto self = shared_from_this();
  lockQueue_->async([self, key = *retryGroupKey, url = *url, retry = *retryURLString] {
    self->storeRetryURLStringRetryGroupKey(retry, key);
    std::weak_ptr<QMAPinger> weak = self;
    self->pingURLStringCompletionBlock(url.absoluteString(), [weak, retry, key](bool success) {
      auto pinger = weak.lock();
      if (success && pinger) pinger->removeRetryURLStringFromGroup(retry, key);
    });
  });
}

void QMAPinger::storeRetryURLStringRetryGroupKey(const std::optional<std::string>& urlString,
                                                 const std::optional<std::string>& retryGroupKey) {
  if (!urlString || !retryGroupKey) return;
  // A crash may come while another thread holds the lock and never lets go: after a
  // bounded wait the entry is written anyway, since losing it is worse than a race.
  std::unique_lock lock(storeMutex_, std::defer_lock);
  (void)lock.try_lock_for(std::chrono::seconds(2));

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
  if (!completionBlock) return;
  auto url = urlString.empty() ? std::nullopt : net::URL::fromString(urlString);
  if (!url) {
    lockQueue_->async([completionBlock] { completionBlock(false); });
    return;
  }
  pingedURLs_.insert(urlString);
  auto queue = lockQueue_;
  std::weak_ptr<QMAPinger> weak = shared_from_this();
  net::sendAsynchronousRequest(
      net::URLRequest(*url), net::deliverOn(dispatch::OperationQueue::mainQueue()),
      [queue, weak, urlString, completionBlock](net::URLResponsePtr response, foundation::Bytes,
                                                std::optional<foundation::Error> error) {
        bool success = !error && response && response->isHTTP && response->statusCode >= 200 &&
                       response->statusCode <= 299;
        queue->async([weak, urlString, completionBlock, success] {
          if (auto self = weak.lock()) self->pingedURLs_.erase(urlString);
          completionBlock(success);
        });
      });
}

void QMAPinger::pingRetryURLs() {
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
        if (pingedURLs_.count(urlString)) {
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
