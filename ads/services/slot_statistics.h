#pragma once
// Per-ad-unit statistics: the durations and exit codes of the mediation adapters of a
// waterfall, kept across launches in "quillon_stats_<ad unit>" with their timing in
// "quillon_timing_<ad unit>".

#include <memory>
#include <optional>
#include <string>

#include "ads/services/statistic_dictionary.h"
#include "ads/services/timing.h"

class QMAStatistics {
 public:
  virtual ~QMAStatistics() = default;
  std::shared_ptr<QMATiming> timingNamed(const std::string& name) const;
  // Replaces the named timing with a new, started one.
  void startTimingNamedWithExplicitEnd(const std::string& name, bool explicitEnd);
  void endTimingNamed(const std::string& name);

  const std::shared_ptr<QMAStatisticsCore>& statistics() const { return statistics_; }
  const std::shared_ptr<QMATimingManager>& timingManager() const { return timingManager_; }

 protected:
  std::shared_ptr<QMAStatisticsCore> statistics_;
  std::shared_ptr<QMATimingManager> timingManager_;
};

class QMASlotStatistics : public QMAStatistics {
 public:
  static std::shared_ptr<QMASlotStatistics> init();

  void setIdentifier(const std::string& identifier);
  const std::optional<std::string>& identifier() const { return identifier_; }

  void startTimingAdapter();
  void endTimingAdapterWithExitCode(long code);
  void resetTimingAdapters();
  // The lists joined with ","; nullopt when the list is absent.
  std::optional<std::string> adapterExitCodesParameter() const;
  std::optional<std::string> adapterDurationsParameter() const;

 private:
  QMASlotStatistics() = default;
  std::optional<std::string> identifier_;
};
