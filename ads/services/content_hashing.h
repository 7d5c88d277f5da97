#pragma once
// The content-hashing driver: while the ad server wants it, the application walks the
// visible view tree at a fixed interval, turns each walk's text into a content record,
// keeps the recent records in a bounded queue, and serves ad requests the best record's
// fingerprint, lowering its score each time so requests rotate through the recent ones.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ads/services/content.h"
#include "ads/services/scheduler.h"
#include "platform/dispatch/queue.h"
#include "platform/uikit/view.h"

// The recent records by walk number. Its own lock makes serving (on the request path)
// safe against the hashing queue's changes.
class QMAContentQueue {
 public:
  static std::shared_ptr<QMAContentQueue> initWithQueueSize(std::uint64_t size);
  explicit QMAContentQueue(std::uint64_t size) : size_(size) {}

  // Adds the record, evicting the oldest when full; a capacity of 0 keeps nothing.
  void enqueueContent(const std::shared_ptr<QMAContent>& content);
  // Removes the older of every pair of records with the same fingerprint as `content`.
  void deduplicate(const std::shared_ptr<QMAContent>& content);
  // The record with the highest score above 0 (oldest first among equals), or null.
  std::shared_ptr<QMAContent> contentWithHighestScore() const;
  std::shared_ptr<QMAContent> contentWithSequenceNumber(std::uint64_t sequenceNumber) const;
  // Takes the best record's fingerprint and lowers its score, in one step.
  std::optional<std::string> serveFingerprintWithPenaltyDeduction();
  std::size_t count() const;
  std::vector<std::uint64_t> sequenceNumbers() const;

 private:
  std::shared_ptr<QMAContent> highestLocked() const;

  mutable std::mutex lock_;
  std::map<std::uint64_t, std::shared_ptr<QMAContent>> contents_;
  std::vector<std::uint64_t> sequenceNumbers_;
  std::uint64_t size_;
};

// Walks a view tree depth first, parent before children and the last subview first,
// visiting each view on the main thread in its own short slice.
class QMAViewHierarchyTraverser : public std::enable_shared_from_this<QMAViewHierarchyTraverser> {
 public:
  using TraversalBlock = std::function<void(const std::shared_ptr<uikit::View>& view, std::int64_t sequenceNumber)>;
  using CompletionBlock = std::function<void(bool finished)>;

  static std::shared_ptr<QMAViewHierarchyTraverser> init();

  // Main thread. A walk under way, or a missing view or visit block, refuses the walk
  // (the completion hears NO).
  void traverseViewTraversalBlockCompletionBlock(const std::shared_ptr<uikit::View>& view, TraversalBlock traversalBlock,
                                                 CompletionBlock completionBlock);
  void setTraversing(bool traversing) { traversing_ = traversing; }
  bool traversing() const { return traversing_; }
  std::int64_t sequenceNumber() const { return sequenceNumber_; }

 private:
  bool traversing_ = false;
  std::int64_t sequenceNumber_ = 0;
  dispatch::QueuePtr SDKLowPrioritySerialQueue_;
};

// The application object's content-hashing part.
class QMAContentHashing {
 public:
  static constexpr const char* kCapacityKey = "/quillon/ads/content_queue_maximum_capacity";
  static constexpr const char* kIntervalKey = "/quillon/ads/traversal_interval";

  static QMAContentHashing& sharedInstance();

  void startContentHashing();
  void stopContentHashing();
  // The best record's fingerprint, its score lowered by 100; nullopt when none is left.
  std::optional<std::string> fingerprintWithServedPenaltyDeduction();

  bool isRunning() const;
  std::shared_ptr<QMAContentQueue> contentQueue() const;
  dispatch::QueuePtr serialQueue() const;

  // The text a view contributes: a web view's body text, a text view's text, else "".
  static std::string textOfView(const std::shared_ptr<uikit::View>& view);

 private:
  void runScreenWalk(const std::shared_ptr<QMAViewHierarchyTraverser>& traverser, const dispatch::QueuePtr& serialQueue,
                     const std::weak_ptr<QMAContentQueue>& contentQueue);

  // Start, stop and serving come from the ad fetcher's and the request's paths.
  mutable std::mutex lock_;
  std::shared_ptr<QMAContentQueue> contentQueue_;
  std::shared_ptr<QMAScheduler> scheduler_;
  dispatch::QueuePtr serialQueue_;
};
