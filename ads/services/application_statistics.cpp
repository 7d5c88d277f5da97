// The request signals of the application object: counters of requests and clicks, the
// sequence number, the first and latest request times, the per-slot registry, and the
// click-and-return pairs of ads that took the user out of the application.

#include "ads/services/absolute_time.h"
#include "ads/services/application.h"
#include "platform/foundation/format.h"

using foundation::Dictionary;
using foundation::Value;

Dictionary QMAApplication::nextRequestStatisticsDictionaryForSlot(const QMARequestingSlot* slot) {
  Dictionary snapshot;
  statisticsSerialQueue_->sync([&] {
    Value now = QMAAbsoluteTime::absoluteTimeInMilliseconds();
    statistics_->setObjectForKeyShouldNotifyDelegate(now, "currts", false);
    if (statistics_->objectForKey("basets").isNull()) statistics_->setObjectForKeyShouldNotifyDelegate(now, "basets", false);
    statistics_->incrementNumberForKeyShouldNotifyDelegate("seq_num", false);
    if (slot && slot->isMediating()) {
      statistics_->decrementNumberForKeyShouldNotifyDelegate("preqs", false);
    } else {
      statistics_->incrementNumberForKeyShouldNotifyDelegate("preqs", false);
    }
    snapshot = statistics_->dictionary();
  });
  return snapshot;
}

void QMAApplication::incrementTotalAdRequestCount() { statistics_->incrementNumberForKeyShouldNotifyDelegate("preqs", false); }

void QMAApplication::decrementTotalAdRequestCount() { statistics_->decrementNumberForKeyShouldNotifyDelegate("preqs", false); }

void QMAApplication::incrementTotalAdClickCount() { statistics_->incrementNumberForKeyShouldNotifyDelegate("pclick", false); }

void QMAApplication::incrementSequenceNumber() { statistics_->incrementNumberForKeyShouldNotifyDelegate("seq_num", false); }

std::string QMAApplication::nextSequenceNumberAsString() {
  std::string text;
  statisticsSerialQueue_->sync([&] {
    statistics_->incrementNumberForKeyShouldNotifyDelegate("seq_num", false);
    text = foundation::description(statistics_->objectForKey("seq_num"));
  });
  return text;
}

std::uint64_t QMAApplication::timeSinceFirstAdRequestInMilliseconds() {
  Value base = statistics_->objectForKey("basets");
  auto first = base.longLongValue();
  if (!first) return 0;
  std::uint64_t now = QMACurrentAbsoluteTimeInMilliseconds();
  auto start = static_cast<std::uint64_t>(*first);
  return now > start ? now - start : 0;
}

std::shared_ptr<QMAStatisticDictionary> QMAApplication::slotStatisticsForSlotID(const Value& slotID) {
  const std::string* id = slotID.asString();
  if (!id) return nullptr;
  std::shared_ptr<QMAStatisticDictionary> stats;
  statisticsSerialQueue_->sync([&] {
    auto& entry = slotStatistics_[*id];
    if (!entry) entry = QMAStatisticDictionary::initWithDelegate({});
    stats = entry;
  });
  return stats;
}

Dictionary QMAApplication::slotStatisticsDictionary() {
  std::map<std::string, std::shared_ptr<QMAStatisticDictionary>> registry;
  statisticsSerialQueue_->sync([&] { registry = slotStatistics_; });
  Dictionary out;
  for (const auto& [id, stats] : registry) out[id] = stats->dictionary();
  return out;
}

void QMAApplication::willLeaveApplicationDueToClickOnAd(std::shared_ptr<QMAAdWithStatistics> ad) {
  statisticsSerialQueue_->async([self = shared_from_this(), ad = std::move(ad)] { self->backgroundingAd_ = ad; });
}

void QMAApplication::didBecomeActive() {
  std::shared_ptr<QMAAdWithStatistics> ad;
  statisticsSerialQueue_->sync([&] { ad.swap(backgroundingAd_); });
  if (!ad) return;
  auto stats = ad->statistics();
  if (!stats) return;
  Value click = stats->objectForKey("tclickcurr");
  if (click.isNull()) return;
  Value now = QMAAbsoluteTime::absoluteTimeInMilliseconds();
  stats->addObjectToArrayWithKeyShouldNotifyDelegate(Value(foundation::Array{click, now}), "tclick", true);
}

void QMAApplication::didNotSendAdStatistics(const QMAStatisticDictionarySet& statistics) {
  notificationSerialQueue_->sync([&] { adStatistics_.insert(statistics.begin(), statistics.end()); });
}
