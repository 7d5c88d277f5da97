#include "ads/services/statistic_dictionary.h"

#include "ads/services/utilities.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"
#include "platform/foundation/user_defaults.h"

using foundation::Dictionary;
using foundation::Value;

QMAStatisticValue QMAStatisticValue::decimalNumber(Value number) { return QMAStatisticValue(std::move(number), Kind::DecimalNumber); }

QMAStatisticValue QMAStatisticValue::mutableArray(foundation::Array elements) {
  return QMAStatisticValue(Value(std::move(elements)), Kind::MutableArray);
}

std::shared_ptr<QMAStatisticDictionary> QMAStatisticDictionary::initWithQueueLabelDelegate(
    const std::string& label, std::weak_ptr<QMAStatisticDictionaryDelegate> delegate) {
  std::shared_ptr<QMAStatisticDictionary> d(new QMAStatisticDictionary());
  d->serialQueue_ = dispatch::Queue::createSerial(label);
  d->delegate_ = std::move(delegate);
  return d;
}

std::shared_ptr<QMAStatisticDictionary> QMAStatisticDictionary::initWithDelegate(
    std::weak_ptr<QMAStatisticDictionaryDelegate> delegate) {
  return initWithQueueLabelDelegate(kDefaultQueueLabel, std::move(delegate));
}

std::shared_ptr<QMAStatisticDictionary> QMAStatisticDictionary::init() { return initWithDelegate({}); }

void QMAStatisticDictionary::setDelegate(std::weak_ptr<QMAStatisticDictionaryDelegate> delegate) {
  std::lock_guard lock(delegateLock_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<QMAStatisticDictionaryDelegate> QMAStatisticDictionary::delegate() const {
  std::lock_guard lock(delegateLock_);
  return delegate_.lock();
}

void QMAStatisticDictionary::dispatchAsyncShouldNotifyDelegateBlock(bool notify, std::function<void()> block) {
  serialQueue_->async([self = shared_from_this(), notify, block = std::move(block)] {
    if (!self->allowDictionaryModification_) return;
    block();
    if (notify && !self->hasEnqueuedNotificationBlock_) self->enqueueNotificationBlock();
  });
}

void QMAStatisticDictionary::enqueueNotificationBlock() {
  hasEnqueuedNotificationBlock_ = true;
  // Behind the writes already queued, so one notice covers the whole burst.
  serialQueue_->async([self = shared_from_this()] {
    self->hasEnqueuedNotificationBlock_ = false;
    auto delegate = self->delegate();
    if (!delegate) return;
    auto queue = delegate->notificationQueue();
    if (!queue) return;
    queue->async([self] {
      if (auto d = self->delegate()) d->didUpdateStatisticDictionary(self);
    });
  });
}

void QMAStatisticDictionary::setObjectForKeyShouldNotifyDelegate(QMAStatisticValue value, const std::string& key,
                                                                 bool notify) {
  dispatchAsyncShouldNotifyDelegateBlock(notify, [this, value = std::move(value), key]() mutable {
    statistics_.insert_or_assign(key, std::move(value));
  });
}

void QMAStatisticDictionary::setObjectForKeyedSubscript(QMAStatisticValue value, const std::string& key) {
  setObjectForKeyShouldNotifyDelegate(std::move(value), key, false);
}

Value QMAStatisticDictionary::objectForKey(const std::string& key) const {
  Value v;
  serialQueue_->sync([&] {
    if (auto it = statistics_.find(key); it != statistics_.end()) v = it->second.value();
  });
  return v;
}

std::optional<QMAStatisticValue> QMAStatisticDictionary::statisticValueForKey(const std::string& key) const {
  std::optional<QMAStatisticValue> v;
  serialQueue_->sync([&] {
    if (auto it = statistics_.find(key); it != statistics_.end()) v = it->second;
  });
  return v;
}

void QMAStatisticDictionary::addDecimalNumberToNumberForKeyShouldNotifyDelegate(const Value& decimal,
                                                                               const std::string& key, bool notify) {
  if (!decimal.isNumber()) return;
  dispatchAsyncShouldNotifyDelegateBlock(notify, [this, decimal, key] {
    auto it = statistics_.find(key);
    if (it == statistics_.end()) {
      statistics_.insert_or_assign(key, QMAStatisticValue::decimalNumber(decimal));
      return;
    }
    if (it->second.kind() != QMAStatisticValue::Kind::DecimalNumber) return;
    const Value& current = it->second.value();
    if (current.asInteger() && decimal.asInteger()) {
      it->second.value() = Value(*current.asInteger() + *decimal.asInteger());
    } else {
      it->second.value() = Value(current.doubleValue().value_or(0) + decimal.doubleValue().value_or(0));
    }
  });
}

void QMAStatisticDictionary::incrementNumberForKeyShouldNotifyDelegate(const std::string& key, bool notify) {
  addDecimalNumberToNumberForKeyShouldNotifyDelegate(Value(1), key, notify);
}

void QMAStatisticDictionary::decrementNumberForKeyShouldNotifyDelegate(const std::string& key, bool notify) {
  addDecimalNumberToNumberForKeyShouldNotifyDelegate(Value(-1), key, notify);
}

void QMAStatisticDictionary::addObjectToArrayWithKeyShouldNotifyDelegate(const Value& object, const std::string& key,
                                                                        bool notify) {
  dispatchAsyncShouldNotifyDelegateBlock(notify, [this, object, key] {
    auto it = statistics_.find(key);
    if (it == statistics_.end()) {
      statistics_.insert_or_assign(key, QMAStatisticValue::mutableArray({object}));
      return;
    }
    if (it->second.kind() != QMAStatisticValue::Kind::MutableArray) return;
    it->second.value().asArray()->push_back(object);
  });
}

Dictionary QMAStatisticDictionary::dictionary() const {
  Dictionary d;
  serialQueue_->sync([&] {
    for (const auto& [k, v] : statistics_) d.emplace(k, v.value());
  });
  return d;
}

void QMAStatisticDictionary::didFinishModifying() {
  serialQueue_->sync([&] { allowDictionaryModification_ = false; });
  serialQueue_->sync([&] {
    auto d = delegate();
    if (!d) return;
    if (auto q = d->notificationQueue()) q->sync([] {});
  });
  setDelegate({});
}

std::string QMAStatisticDictionary::description() const {
  Dictionary contents = dictionary();
  auto json = qma_JSONStringPretty(contents, true);
  return foundation::stringWithFormat("<%@: %p>\nqueue: %s\nstatistics: %@", "QMAStatisticDictionary", this,
                                      serialQueue_->label(), json ? *json : foundation::description(Value(contents)));
}

// Persisted store ----------------------------------------------------------------------

std::shared_ptr<QMAStatisticsCore> QMAStatisticsCore::init() {
  std::shared_ptr<QMAStatisticsCore> c(new QMAStatisticsCore());
  c->lockQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.statistics");
  std::weak_ptr<QMAStatisticsCore> weak = c;
  c->terminateObserver_ = foundation::NotificationCenter::defaultCenter().addObserverForName(
      "UIApplicationWillTerminateNotification", nullptr, nullptr, [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->applicationWillTerminate();
      });
  return c;
}

QMAStatisticsCore::~QMAStatisticsCore() {
  foundation::NotificationCenter::defaultCenter().removeObserver(terminateObserver_);
}

void QMAStatisticsCore::applicationWillTerminate() { lockQueue_->sync([] {}); }

void QMAStatisticsCore::setIdentifier(const std::string& identifier) {
  std::lock_guard lock(mu_);
  if (identifier_ == identifier) return;
  identifier_ = identifier;
  userDefaultsKey_ = "quillon_stats_" + identifier;
  loadLocked();
}

std::optional<std::string> QMAStatisticsCore::identifier() const {
  std::lock_guard lock(mu_);
  return identifier_;
}

void QMAStatisticsCore::loadPersistentStatistics() {
  std::lock_guard lock(mu_);
  loadLocked();
}

void QMAStatisticsCore::savePersistentStatistics() {
  std::lock_guard lock(mu_);
  scheduleSaveLocked();
}

void QMAStatisticsCore::loadLocked() {
  if (!userDefaultsKey_) return;
  auto stored = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey(*userDefaultsKey_);
  if (!stored) return;
  for (auto& [k, v] : *stored) statistics_.insert_or_assign(k, std::move(v));
}

void QMAStatisticsCore::scheduleSaveLocked() {
  // Writing the record takes the file system's time: it happens on the queue, so neither
  // a change nor a read waits for the disk. Changes that come while a write is queued join
  // it, since the write takes the record as it is when it starts: each change still
  // reaches the file, in order, and at most one write waits behind the one under way.
  if (!userDefaultsKey_ || saveScheduled_) return;
  saveScheduled_ = true;
  lockQueue_->async([self = shared_from_this()] {
    Dictionary record;
    std::string key;
    {
      std::lock_guard lock(self->mu_);
      self->saveScheduled_ = false;
      if (!self->userDefaultsKey_) return;
      record = self->statistics_;
      key = *self->userDefaultsKey_;
    }
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    defaults->setObjectForKey(Value(std::move(record)), key);
    defaults->synchronize();
  });
}

void QMAStatisticsCore::change(const std::function<void(Dictionary&)>& edit) {
  std::lock_guard lock(mu_);
  edit(statistics_);
  scheduleSaveLocked();
}

void QMAStatisticsCore::setObjectForKey(const Value& value, const std::string& key) {
  change([&](Dictionary& d) { d.insert_or_assign(key, value); });
}

Value QMAStatisticsCore::objectForKey(const std::string& key) const {
  std::lock_guard lock(mu_);
  if (auto it = statistics_.find(key); it != statistics_.end()) return it->second;
  return Value();
}

void QMAStatisticsCore::appendStringToArrayForKey(const std::optional<std::string>& string, const std::string& key) {
  if (!string) return;
  change([&](Dictionary& d) {
    auto it = d.find(key);
    if (it == d.end() || !it->second.asArray()) {
      d.insert_or_assign(key, Value(foundation::Array{}));
      it = d.find(key);
    }
    it->second.asArray()->push_back(Value(*string));
  });
}

void QMAStatisticsCore::removeObjectForKey(const std::string& key) {
  change([&](Dictionary& d) { d.erase(key); });
}

void QMAStatisticsCore::removeAllObjects() {
  change([](Dictionary& d) { d.clear(); });
}
