#pragma once
// The ad component's statistics stores.
//
// QMAStatisticDictionary: an in-memory dictionary that any thread changes without
// waiting. Writes are queued on its serial queue, reads wait for it, and each burst of
// writes that asks for it produces one notice to a weak delegate, on the delegate's queue.
//
// QMAStatisticsCore: a dictionary kept in the standard user defaults under
// "quillon_stats_<identifier>"; every change is followed by a write of the stored copy on
// the store's queue (changes that come while a write waits join it). Any thread; a lock
// guards the contents, so no caller waits for the disk.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/queue.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/value.h"

class QMAStatisticDictionary;

class QMAStatisticDictionaryDelegate {
 public:
  virtual ~QMAStatisticDictionaryDelegate() = default;
  // The queue on which the delegate wants its notices; nullptr means no notices.
  virtual dispatch::QueuePtr notificationQueue() = 0;
  virtual void didUpdateStatisticDictionary(const std::shared_ptr<QMAStatisticDictionary>& dictionary) = 0;
};

// A value held by a statistic dictionary. Counters are decimal numbers and growing lists
// are mutable arrays; both are kept apart from plain numbers and fixed arrays, since only
// they can be added to.
class QMAStatisticValue {
 public:
  enum class Kind { Plain, DecimalNumber, MutableArray };
  QMAStatisticValue(foundation::Value value) : value_(std::move(value)) {}
  // An integer or real value as a decimal number.
  static QMAStatisticValue decimalNumber(foundation::Value number);
  static QMAStatisticValue mutableArray(foundation::Array elements = {});

  Kind kind() const { return kind_; }
  const foundation::Value& value() const { return value_; }
  foundation::Value& value() { return value_; }

 private:
  QMAStatisticValue(foundation::Value v, Kind k) : value_(std::move(v)), kind_(k) {}
  foundation::Value value_;
  Kind kind_ = Kind::Plain;
};

class QMAStatisticDictionary : public std::enable_shared_from_this<QMAStatisticDictionary> {
 public:
  static constexpr const char* kDefaultQueueLabel = "com.quillon.pelmark.statistics";
  static std::shared_ptr<QMAStatisticDictionary> initWithQueueLabelDelegate(
      const std::string& label, std::weak_ptr<QMAStatisticDictionaryDelegate> delegate);
  static std::shared_ptr<QMAStatisticDictionary> initWithDelegate(std::weak_ptr<QMAStatisticDictionaryDelegate> delegate);
  static std::shared_ptr<QMAStatisticDictionary> init();

  void setDelegate(std::weak_ptr<QMAStatisticDictionaryDelegate> delegate);
  std::shared_ptr<QMAStatisticDictionaryDelegate> delegate() const;

  void setObjectForKeyShouldNotifyDelegate(QMAStatisticValue value, const std::string& key, bool notify);
  // The same without notice (the subscript setter).
  void setObjectForKeyedSubscript(QMAStatisticValue value, const std::string& key);
  // Null when absent.
  foundation::Value objectForKey(const std::string& key) const;
  foundation::Value objectForKeyedSubscript(const std::string& key) const { return objectForKey(key); }
  std::optional<QMAStatisticValue> statisticValueForKey(const std::string& key) const;

  // A missing key counts as decimal 0; a value that is not a decimal number stays as it is.
  void addDecimalNumberToNumberForKeyShouldNotifyDelegate(const foundation::Value& decimal, const std::string& key,
                                                          bool notify);
  void incrementNumberForKeyShouldNotifyDelegate(const std::string& key, bool notify);
  void decrementNumberForKeyShouldNotifyDelegate(const std::string& key, bool notify);
  // A missing key gets a new mutable array; a value that is not a mutable array stays as it is.
  void addObjectToArrayWithKeyShouldNotifyDelegate(const foundation::Value& object, const std::string& key,
                                                   bool notify);

  // A snapshot of the contents. It is a deep copy: later writes never reach a snapshot
  // already handed out, whichever thread reads it.
  foundation::Dictionary dictionary() const;
  // Ends modification: later writes are dropped, notices already handed to the delegate's
  // queue are delivered, and the delegate is let go.
  void didFinishModifying();
  std::string description() const;
  const dispatch::QueuePtr& serialQueue() const { return serialQueue_; }

  void dispatchAsyncShouldNotifyDelegateBlock(bool notify, std::function<void()> block);
  void enqueueNotificationBlock();

 private:
  QMAStatisticDictionary() = default;
  std::map<std::string, QMAStatisticValue, std::less<>> statistics_;
  bool allowDictionaryModification_ = true;
  bool hasEnqueuedNotificationBlock_ = false;
  std::weak_ptr<QMAStatisticDictionaryDelegate> delegate_;
  mutable std::mutex delegateLock_;
  dispatch::QueuePtr serialQueue_;
};

class QMAStatisticsCore : public std::enable_shared_from_this<QMAStatisticsCore> {
 public:
  static std::shared_ptr<QMAStatisticsCore> init();
  ~QMAStatisticsCore();

  // Binds the store to "quillon_stats_<identifier>" and merges the stored record in;
  // the identifier already held changes nothing. Any thread, like every call here: the
  // identifier and its key are guarded with the contents.
  void setIdentifier(const std::string& identifier);
  std::optional<std::string> identifier() const;

  void setObjectForKey(const foundation::Value& value, const std::string& key);
  void setStringForKey(const std::string& value, const std::string& key) { setObjectForKey(value, key); }
  void setNumberForKey(const foundation::Value& value, const std::string& key) { setObjectForKey(value, key); }
  void setDateForKey(foundation::Date value, const std::string& key) { setObjectForKey(value, key); }
  void setArrayForKey(const foundation::Array& value, const std::string& key) { setObjectForKey(value, key); }
  foundation::Value objectForKey(const std::string& key) const;
  foundation::Value stringForKey(const std::string& key) const { return objectForKey(key); }
  foundation::Value numberForKey(const std::string& key) const { return objectForKey(key); }
  foundation::Value dateForKey(const std::string& key) const { return objectForKey(key); }
  foundation::Value arrayForKey(const std::string& key) const { return objectForKey(key); }
  void appendStringToArrayForKey(const std::optional<std::string>& string, const std::string& key);
  void removeObjectForKey(const std::string& key);
  void removeAllObjects();

  void loadPersistentStatistics();
  void savePersistentStatistics();
  // Waits until every change has reached the user defaults.
  void applicationWillTerminate();

 private:
  QMAStatisticsCore() = default;
  void change(const std::function<void(foundation::Dictionary&)>& edit);
  // Under mu_. A write goes to the queue, which takes mu_ for the record (never the reverse).
  void loadLocked();
  void scheduleSaveLocked();
  mutable std::mutex mu_;
  foundation::Dictionary statistics_;
  std::optional<std::string> identifier_;
  std::optional<std::string> userDefaultsKey_;
  bool saveScheduled_ = false;
  // Where the record is written.
  dispatch::QueuePtr lockQueue_;
  foundation::NotificationCenter::ObserverToken terminateObserver_;
};
