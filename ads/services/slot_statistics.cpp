#include "ads/services/slot_statistics.h"

using foundation::Value;

std::shared_ptr<QMATiming> QMAStatistics::timingNamed(const std::string& name) const {
  return timingManager_ ? timingManager_->timingForCategory(name) : nullptr;
}

void QMAStatistics::startTimingNamedWithExplicitEnd(const std::string& name, bool explicitEnd) {
  if (!timingManager_) return;
  timingManager_->removeTimingForCategory(name);
  auto timing = timingManager_->addTimingWithCategory(name);
  timing->setExplicitEnd(explicitEnd);
  timing->start();
}

void QMAStatistics::endTimingNamed(const std::string& name) {
  if (auto t = timingNamed(name)) t->end();
}

std::shared_ptr<QMASlotStatistics> QMASlotStatistics::init() {
  std::shared_ptr<QMASlotStatistics> s(new QMASlotStatistics());
  s->statistics_ = QMAStatisticsCore::init();
  s->timingManager_ = QMATimingManager::init();
  return s;
}

void QMASlotStatistics::setIdentifier(const std::string& identifier) {
  if (identifier_ == identifier) return;
  identifier_ = identifier;
  statistics_->setIdentifier(identifier);
  timingManager_->setIdentifier(identifier);
}

void QMASlotStatistics::startTimingAdapter() { startTimingNamedWithExplicitEnd("adapter", true); }

void QMASlotStatistics::endTimingAdapterWithExitCode(long code) {
  endTimingNamed("adapter");
  if (auto t = timingNamed("adapter")) statistics_->appendStringToArrayForKey(t->elapsedMillisecondsString(), "adapter_duration");
  statistics_->appendStringToArrayForKey(std::to_string(code), "adapter_exit");
}

void QMASlotStatistics::resetTimingAdapters() {
  statistics_->removeObjectForKey("adapter_exit");
  statistics_->removeObjectForKey("adapter_duration");
}

namespace {
std::optional<std::string> joined(const Value& list) {
  const foundation::Array* a = list.asArray();
  if (!a) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < a->size(); ++i) {
    if (i) out += ",";
    if (auto s = (*a)[i].asString()) out += *s;
  }
  return out;
}
}  // namespace

std::optional<std::string> QMASlotStatistics::adapterExitCodesParameter() const {
  return joined(statistics_->arrayForKey("adapter_exit"));
}

std::optional<std::string> QMASlotStatistics::adapterDurationsParameter() const {
  return joined(statistics_->arrayForKey("adapter_duration"));
}
