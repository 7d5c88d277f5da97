#pragma once
// Named measurements on the component's clock (QMAAbsoluteTime), and a table of them kept
// in the standard user defaults under "quillon_timing_<identifier>", so that the timings
// of an ad unit survive a relaunch.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/queue.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/value.h"

// One measurement: start and end in milliseconds of the component's clock (0 = not set),
// free user data, and whether an unfinished timing reports 0 instead of the time so far.
// Any thread may use it: a lock of its own guards its state (a change is a few words, so
// no caller ever waits long, and none hops to another thread for it).
class QMATiming : public std::enable_shared_from_this<QMATiming> {
 public:
  // A nullopt category names the timing "QMATiming (<address>)".
  static std::shared_ptr<QMATiming> initWithCategory(const std::optional<std::string>& category = std::nullopt);
  // From a stored record {"category", "start", "end"[, "userData"]}.
  static std::shared_ptr<QMATiming> initWithDictionaryRepresentation(const foundation::Dictionary& record);

  foundation::Dictionary dictionaryRepresentation() const;
  // A new timing made from the dictionary representation (so without explicit end).
  std::shared_ptr<QMATiming> copy() const;
  std::string description() const;

  // Each reads the clock on the calling thread.
  void start();
  void end();
  void reset();

  std::uint64_t startTimestamp() const;
  std::uint64_t endTimestamp() const;
  void setStartTimestamp(std::uint64_t ms);
  void setEndTimestamp(std::uint64_t ms);
  std::uint64_t elapsedMilliseconds() const;
  std::string elapsedMillisecondsString() const;
  bool isActive() const;

  void setValueForKey(const foundation::Value& value, const std::string& key);
  foundation::Value valueForKey(const std::string& key) const;
  void removeValueForKey(const std::string& key);

  const std::string& category() const { return category_; }
  void setCategory(std::string category) { category_ = std::move(category); }
  bool explicitEnd() const;
  void setExplicitEnd(bool explicitEnd);

 private:
  QMATiming() = default;
  mutable std::mutex mu_;
  foundation::Dictionary userData_;
  bool explicitEnd_ = false;
  std::string category_;
  std::uint64_t startTimestamp_ = 0;
  std::uint64_t endTimestamp_ = 0;
};

class QMATimingManager : public std::enable_shared_from_this<QMATimingManager> {
 public:
  static std::shared_ptr<QMATimingManager> init();
  ~QMATimingManager();

  // Makes the key "quillon_timing_<identifier>" and loads the stored table into this one.
  void setIdentifier(const std::string& identifier);
  const std::optional<std::string>& identifier() const { return identifier_; }
  void loadPersistentTimings();
  void savePersistentTimings();

  // Stores the timing under its category (when given), then saves.
  void addTiming(const std::shared_ptr<QMATiming>& timing);
  std::shared_ptr<QMATiming> addTimingWithCategory(const std::string& category);
  std::shared_ptr<QMATiming> timingForCategory(const std::string& category) const;
  // The removals change the table only; the next addTiming saves.
  void removeTiming(const std::shared_ptr<QMATiming>& timing);
  void removeTimingForCategory(const std::string& category);
  void removeTimingsForCategories(const std::vector<std::string>& categories);
  void removeAllTimings();
  std::vector<std::shared_ptr<QMATiming>> timings() const;
  std::vector<std::string> categories() const;

  // Waits until every queued save has reached the user defaults.
  void applicationWillTerminate();

 private:
  QMATimingManager() = default;
  std::optional<std::string> identifier_;
  std::optional<std::string> userDefaultsKey_;
  std::map<std::string, std::shared_ptr<QMATiming>> timings_;
  dispatch::QueuePtr savingQueue_;
  // The table the next write takes (guarded by pendingMutex_).
  std::mutex pendingMutex_;
  bool saveQueued_ = false;
  std::map<std::string, std::shared_ptr<QMATiming>> pendingTable_;
  std::string pendingKey_;
  foundation::NotificationCenter::ObserverToken terminateObserver_;
};
