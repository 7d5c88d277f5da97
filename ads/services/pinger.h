#pragma once
// Fire-and-forget GET pings. A ping filed under a retry group is first stored, in the
// standard user defaults, as a retry URL with a number of retries left; a successful ping
// removes it, and a retry pass every ping interval pings each stored URL again until its
// retries are used up. The store outlives the process, so what one launch could not send
// (a crash report) goes out at a later one.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ads/services/scheduler.h"
#include "platform/dispatch/queue.h"
#include "platform/net/url.h"

inline constexpr const char* kQMAPingIntervalKey = "/quillon/ads/ping_interval";
inline constexpr const char* kQMAMaximumRetryURLCountKey = "/quillon/ads/maximum_retry_url_count";
inline constexpr const char* kQMAURLTimeToLiveKey = "/quillon/ads/url_time_to_live";
inline constexpr const char* kQMARetryGroupKeysKey = "/quillon/ads/retry_group_keys";
inline constexpr const char* kQMARetryCountKey = "/quillon/ads/retry_count";

class QMAPinger : public std::enable_shared_from_this<QMAPinger> {
 public:
  static constexpr double kDefaultPingInterval = 60.0;
  // A stored ping interval below this falls back to the default.
  static constexpr double kMinimumPingInterval = 1.0;
  static constexpr std::int64_t kDefaultMaximumRetryURLCount = 10;
  static constexpr std::int64_t kDefaultURLRetryCount = 3;

  // The pinger of the process, made on first use.
  static const std::shared_ptr<QMAPinger>& sharedInstance();
  // A pinger as a new process makes it, reading the server constants and the stored group
  // keys now. Tests make their own to play a new launch.
  static std::shared_ptr<QMAPinger> create();

  // Starts the retry passes (once per process).
  void start();
  // Stores the retry URL in the group, then pings `url`; success removes the retry URL.
  // Returns at once; nothing happens when an argument is missing.
  void pingWithRetryGroupKeyURLRetryURLString(const std::optional<std::string>& retryGroupKey,
                                              const std::optional<net::URL>& url,
                                              const std::optional<std::string>& retryURLString);
  // Adds one URL to one group of the store. Safe from any thread, including a crashing
  // one: it waits a bounded time for the pinger's own store work, and never for its queue.
  // The pinger's queue calls it too.
  void storeRetryURLStringRetryGroupKey(const std::optional<std::string>& urlString,
                                        const std::optional<std::string>& retryGroupKey);
  // One GET; the block runs on the pinger's queue with whether the answer was 2xx.
  // On the pinger's queue.
  void pingURLStringCompletionBlock(const std::string& urlString, std::function<void(bool)> completionBlock);
  // One retry pass. On the pinger's queue.
  void pingRetryURLs();

  const dispatch::QueuePtr& lockQueue() const { return lockQueue_; }
  const std::shared_ptr<QMAScheduler>& scheduler() const { return scheduler_; }
  std::int64_t maximumRetryURLCount() const { return maximumRetryURLCount_; }
  std::int64_t URLRetryCount() const { return URLRetryCount_; }
  std::vector<std::string> retryGroupKeys() const;
  // URL strings whose ping is in flight (read on the pinger's queue).
  std::set<std::string> pingedURLs() const;

 private:
  QMAPinger() = default;
  void removeRetryURLStringFromGroup(const std::string& urlString, const std::string& retryGroupKey);

  dispatch::QueuePtr lockQueue_;
  std::shared_ptr<QMAScheduler> scheduler_;
  std::int64_t maximumRetryURLCount_ = kDefaultMaximumRetryURLCount;
  std::int64_t URLRetryCount_ = kDefaultURLRetryCount;
  std::vector<std::string> retryGroupKeys_;
  // Both on the queue. The same URL may be out more than once, so each is counted: a
  // pass leaves an entry alone while any ping of it is in flight, whether the entry is
  // the URL pinged or the retry form a filed ping stored for it.
  std::multiset<std::string> pingedURLs_;
  std::multiset<std::string> filedRetryURLsInFlight_;
  // Guards the group keys and each read-modify-write of the store, between the queue's
  // work and a direct store from a crashing thread (which may be the queue's own thread).
  mutable std::recursive_mutex storeMutex_;
  std::atomic<bool> started_{false};
};
