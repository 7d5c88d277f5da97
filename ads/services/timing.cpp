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
  t->lockQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.timing");
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
  lockQueue_->sync([&] {
    d["category"] = category_;
    d["start"] = Value(static_cast<unsigned long long>(startTimestamp_));
    d["end"] = Value(static_cast<unsigned long long>(endTimestamp_));
    if (!userData_.empty()) d["userData"] = userData_;
  });
  return d;
}

std::shared_ptr<QMATiming> QMATiming::copy() const { return initWithDictionaryRepresentation(dictionaryRepresentation()); }

std::string QMATiming::description() const {
  return foundation::stringWithFormat("%@ (%p): %@", "QMATiming", this, Value(dictionaryRepresentation()));
}

void QMATiming::start() {
  std::uint64_t now = QMACurrentAbsoluteTimeInMilliseconds();
  lockQueue_->async([self = shared_from_this(), now] {
    self->startTimestamp_ = now;
    self->endTimestamp_ = 0;
  });
}

void QMATiming::end() {
  std::uint64_t now = QMACurrentAbsoluteTimeInMilliseconds();
  lockQueue_->async([self = shared_from_this(), now] {
    if (self->startTimestamp_ != 0) self->endTimestamp_ = now;
  });
}

void QMATiming::reset() {
  lockQueue_->async([self = shared_from_this()] { self->startTimestamp_ = self->endTimestamp_ = 0; });
}

std::uint64_t QMATiming::startTimestamp() const {
  std::uint64_t v = 0;
  lockQueue_->sync([&] { v = startTimestamp_; });
  return v;
}

std::uint64_t QMATiming::endTimestamp() const {
  std::uint64_t v = 0;
  lockQueue_->sync([&] { v = endTimestamp_; });
  return v;
}

void QMATiming::setStartTimestamp(std::uint64_t ms) {
  lockQueue_->async([self = shared_from_this(), ms] { self->startTimestamp_ = ms; });
}

void QMATiming::setEndTimestamp(std::uint64_t ms) {
  lockQueue_->async([self = shared_from_this(), ms] { self->endTimestamp_ = ms; });
}

std::uint64_t QMATiming::elapsedMilliseconds() const {
  std::uint64_t elapsed = 0;
  lockQueue_->sync([&] {
    if (endTimestamp_ >= startTimestamp_) {
      elapsed = endTimestamp_ - startTimestamp_;
    } else if (!explicitEnd_) {
      // Timestamps restored from an earlier run come from that run's clock, which may be
      // ahead of this one: never let the difference wrap around.
      std::uint64_t now = QMACurrentAbsoluteTimeInMilliseconds();
      elapsed = now > startTimestamp_ ? now - startTimestamp_ : 0;
    }
  });
  return elapsed;
}

std::string QMATiming::elapsedMillisecondsString() const { return std::to_string(elapsedMilliseconds()); }

bool QMATiming::isActive() const {
  bool active = false;
  lockQueue_->sync([&] { active = startTimestamp_ != 0 && endTimestamp_ == 0; });
  return active;
}

void QMATiming::setValueForKey(const Value& value, const std::string& key) {
  if (value.isNull()) return;
  lockQueue_->async([self = shared_from_this(), value, key] { self->userData_[key] = value; });
}

Value QMATiming::valueForKey(const std::string& key) const {
  Value v;
  lockQueue_->sync([&] {
    if (auto it = userData_.find(key); it != userData_.end()) v = it->second;
  });
  return v;
}

void QMATiming::removeValueForKey(const std::string& key) {
  lockQueue_->async([self = shared_from_this(), key] { self->userData_.erase(key); });
}

bool QMATiming::explicitEnd() const {
  bool v = false;
  lockQueue_->sync([&] { v = explicitEnd_; });
  return v;
}

void QMATiming::setExplicitEnd(bool explicitEnd) {
  lockQueue_->async([self = shared_from_this(), explicitEnd] { self->explicitEnd_ = explicitEnd; });
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
  auto snapshot = timings_;
  savingQueue_->async([snapshot = std::move(snapshot), key = *userDefaultsKey_] {
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
