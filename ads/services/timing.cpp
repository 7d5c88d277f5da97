#include "ads/services/timing.h"

#include "ads/services/absolute_time.h"
#include "platform/foundation/format.h"
#include "platform/foundation/user_defaults.h"

using foundation::Dictionary;
using foundation::Value;

namespace {
std::uint64_t u64(const Value* v) {
  if (!v) return 0;
  if (auto i = v->longLongValue()) return static_cast<std::uint64_t>(*i);
  return 0;
}
}  // namespace

std::shared_ptr<QMATiming> QMATiming::initWithCategory(const std::optional<std::string>& category) {
  std::shared_ptr<QMATiming> t(new QMATiming());
  t->category_ = category ? *category : foundation::stringWithFormat("%@ (%p)", "QMATiming", t.get());
  return t;
}

std::shared_ptr<QMATiming> QMATiming::initWithDictionaryRepresentation(const Dictionary& record) {
  const std::string* category = foundation::stringForKey(record, "category");
  auto t = initWithCategory(category ? std::optional<std::string>(*category) : std::nullopt);
  auto get = [&](const char* k) -> const Value* {
    auto it = record.find(k);
    return it == record.end() ? nullptr : &it->second;
  };
  t->startTimestamp_ = u64(get("start"));
  t->endTimestamp_ = u64(get("end"));
  if (const Dictionary* ud = foundation::dictionaryForKey(record, "userData")) t->userData_ = *ud;
  return t;
}

Dictionary QMATiming::dictionaryRepresentation() const {
  Dictionary d;
  std::lock_guard lock(mu_);
  d["category"] = category_;
  d["start"] = Value(static_cast<unsigned long long>(startTimestamp_));
  d["end"] = Value(static_cast<unsigned long long>(endTimestamp_));
  if (!userData_.empty()) d["userData"] = userData_;
  return d;
}

std::shared_ptr<QMATiming> QMATiming::copy() const { return initWithDictionaryRepresentation(dictionaryRepresentation()); }

std::string QMATiming::description() const {
  return foundation::stringWithFormat("%@ (%p): %@", "QMATiming", this, Value(dictionaryRepresentation()));
}

void QMATiming::start() {
  const std::uint64_t now = QMACurrentAbsoluteTimeInMilliseconds();
  std::lock_guard lock(mu_);
  startTimestamp_ = now;
  endTimestamp_ = 0;
}

void QMATiming::end() {
  const std::uint64_t now = QMACurrentAbsoluteTimeInMilliseconds();
  std::lock_guard lock(mu_);
  if (startTimestamp_ != 0) endTimestamp_ = now;
}

void QMATiming::reset() {
  std::lock_guard lock(mu_);
  startTimestamp_ = endTimestamp_ = 0;
}

std::uint64_t QMATiming::startTimestamp() const {
  std::lock_guard lock(mu_);
  return startTimestamp_;
}

std::uint64_t QMATiming::endTimestamp() const {
  std::lock_guard lock(mu_);
  return endTimestamp_;
}

void QMATiming::setStartTimestamp(std::uint64_t ms) {
  std::lock_guard lock(mu_);
  startTimestamp_ = ms;
}

void QMATiming::setEndTimestamp(std::uint64_t ms) {
  std::lock_guard lock(mu_);
  endTimestamp_ = ms;
}

std::uint64_t QMATiming::elapsedMilliseconds() const {
  std::lock_guard lock(mu_);
  if (endTimestamp_ >= startTimestamp_) return endTimestamp_ - startTimestamp_;
  if (explicitEnd_) return 0;
  // Timestamps restored from an earlier run come from that run's clock, which may be
  // ahead of this one: never let the difference wrap around.
  const std::uint64_t now = QMACurrentAbsoluteTimeInMilliseconds();
  return now > startTimestamp_ ? now - startTimestamp_ : 0;
}

std::string QMATiming::elapsedMillisecondsString() const { return std::to_string(elapsedMilliseconds()); }

bool QMATiming::isActive() const {
  std::lock_guard lock(mu_);
  return startTimestamp_ != 0 && endTimestamp_ == 0;
}

void QMATiming::setValueForKey(const Value& value, const std::string& key) {
  if (value.isNull()) return;
  std::lock_guard lock(mu_);
  userData_[key] = value;
}

Value QMATiming::valueForKey(const std::string& key) const {
  std::lock_guard lock(mu_);
  if (auto it = userData_.find(key); it != userData_.end()) return it->second;
  return Value();
}

void QMATiming::removeValueForKey(const std::string& key) {
  std::lock_guard lock(mu_);
  userData_.erase(key);
}

bool QMATiming::explicitEnd() const {
  std::lock_guard lock(mu_);
  return explicitEnd_;
}

void QMATiming::setExplicitEnd(bool explicitEnd) {
  std::lock_guard lock(mu_);
  explicitEnd_ = explicitEnd;
}

// Manager ------------------------------------------------------------------------------

std::shared_ptr<QMATimingManager> QMATimingManager::init() {
  std::shared_ptr<QMATimingManager> m(new QMATimingManager());
  m->savingQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.timing");
  std::weak_ptr<QMATimingManager> weak = m;
  m->terminateObserver_ = foundation::NotificationCenter::defaultCenter().addObserverForName(
      "UIApplicationWillTerminateNotification", nullptr, nullptr, [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->applicationWillTerminate();
      });
  return m;
}

QMATimingManager::~QMATimingManager() {
  foundation::NotificationCenter::defaultCenter().removeObserver(terminateObserver_);
  savingQueue_->sync([] {});
}

void QMATimingManager::applicationWillTerminate() { savingQueue_->sync([] {}); }

void QMATimingManager::setIdentifier(const std::string& identifier) {
  identifier_ = identifier;
  userDefaultsKey_ = "quillon_timing_" + identifier;
  loadPersistentTimings();
}

void QMATimingManager::loadPersistentTimings() {
  if (!userDefaultsKey_) return;
  auto stored = foundation::UserDefaults::standardUserDefaults()->dictionaryForKey(*userDefaultsKey_);
  if (!stored) return;
  for (const auto& [category, record] : *stored)
    if (const Dictionary* r = record.asDictionary()) timings_[category] = QMATiming::initWithDictionaryRepresentation(*r);
}

void QMATimingManager::savePersistentTimings() {
  if (!userDefaultsKey_) return;
  // The table as it is now replaces one still waiting to be written: a write takes the
  // latest table, and at most one waits behind the one under way.
  std::lock_guard lock(pendingMutex_);
  pendingTable_ = timings_;
  pendingKey_ = *userDefaultsKey_;
  if (saveQueued_) return;
  saveQueued_ = true;
  // The destructor waits for the queue, so the manager outlives the block.
  savingQueue_->async([this] {
    std::map<std::string, std::shared_ptr<QMATiming>> snapshot;
    std::string key;
    {
      std::lock_guard taking(pendingMutex_);
      saveQueued_ = false;
      snapshot = std::move(pendingTable_);
      key = std::move(pendingKey_);
    }
    Dictionary table;
    for (const auto& [category, timing] : snapshot) table[category] = timing->dictionaryRepresentation();
    auto defaults = foundation::UserDefaults::standardUserDefaults();
    defaults->setObjectForKey(Value(std::move(table)), key);
    defaults->synchronize();
  });
}

void QMATimingManager::addTiming(const std::shared_ptr<QMATiming>& timing) {
  if (timing) timings_[timing->category()] = timing;
  savePersistentTimings();
}

std::shared_ptr<QMATiming> QMATimingManager::addTimingWithCategory(const std::string& category) {
  auto t = QMATiming::initWithCategory(category);
  addTiming(t);
  return t;
}

std::shared_ptr<QMATiming> QMATimingManager::timingForCategory(const std::string& category) const {
  auto it = timings_.find(category);
  return it == timings_.end() ? nullptr : it->second;
}

void QMATimingManager::removeTiming(const std::shared_ptr<QMATiming>& timing) {
  if (timing) timings_.erase(timing->category());
}

void QMATimingManager::removeTimingForCategory(const std::string& category) { timings_.erase(category); }

void QMATimingManager::removeTimingsForCategories(const std::vector<std::string>& categories) {
  for (const auto& c : categories) timings_.erase(c);
}

void QMATimingManager::removeAllTimings() { timings_.clear(); }

std::vector<std::shared_ptr<QMATiming>> QMATimingManager::timings() const {
  std::vector<std::shared_ptr<QMATiming>> out;
  for (const auto& [c, t] : timings_) out.push_back(t);
  return out;
}

std::vector<std::string> QMATimingManager::categories() const {
  std::vector<std::string> out;
  for (const auto& [c, t] : timings_) out.push_back(c);
  return out;
}
