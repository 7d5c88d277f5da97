#pragma once
// Latency (CSI) reports: how long the steps of loading an ad take, sent for a sampled
// share of processes as GET requests to the latency-report endpoint. QMACSI decides once
// per process whether it reports at all, hands out one time recorder per action, counts
// ad requests and reports every recorder when the batch is full or the report timer fires.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ads/services/scheduler.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/error.h"
#include "platform/foundation/notification_center.h"
#include "platform/net/http.h"

inline constexpr const char* kQMACSIRequestBatchSizeKey = "/quillon/ads/csi_request_batch_size";
inline constexpr const char* kQMACSIReportingProbabilityKey = "/quillon/ads/csi_reporting_probability";
inline constexpr const char* kQMACSIReportingIntervalKey = "/quillon/ads/csi_reporting_interval";

// One named duration on the media clock (seconds). Valid when start and length are both
// above 0; the length is -1 while the timing runs. A timing still running when the
// application resigns active never becomes valid; one that had already ended keeps its
// length and is reported. Any thread; start and length change together under a lock.
class QMACSIVariableTiming : public std::enable_shared_from_this<QMACSIVariableTiming> {
 public:
  static std::shared_ptr<QMACSIVariableTiming> initWithNameStartTime(const std::optional<std::string>& name,
                                                                     double start);
  ~QMACSIVariableTiming();
  const std::string& name() const { return name_; }
  double start() const;
  void setStart(double start);
  double length() const;
  void setLength(double length);
  bool isValid() const;
  bool isRunning() const;
  // Ends a running timing at `now` (media clock): its length becomes now - start.
  void endAt(double now);
  // The application is about to resign active: a running timing can no longer be valid.
  void resigningActive();

 private:
  QMACSIVariableTiming() = default;
  std::string name_;
  mutable std::mutex mutex_;
  double start_ = 0;
  double length_ = -1.0;
  foundation::NotificationCenter::ObserverToken observer_;
};

using QMACSITimings = std::map<std::string, std::shared_ptr<QMACSIVariableTiming>>;

class QMACSITimeRecorder : public std::enable_shared_from_this<QMACSITimeRecorder> {
 public:
  static std::shared_ptr<QMACSITimeRecorder> initWithAction(const std::optional<std::string>& action);
  // The media clock, seconds.
  static double currentTime();
  void startTimeRecorder();

  void startTimingVariableWithNameKey(const std::string& name, const std::string& key);
  void endTimingVariableWithNameKey(const std::string& name, const std::string& key);
  void cancelTimingVariableWithNameKey(const std::string& name, const std::string& key);
  void startTimingVariableWithName(const std::string& name) { startTimingVariableWithNameKey(name, name); }
  void endTimingVariableWithName(const std::string& name) { endTimingVariableWithNameKey(name, name); }
  void cancelTimingVariableWithName(const std::string& name) { cancelTimingVariableWithNameKey(name, name); }

  QMACSITimings ongoingVariables();
  QMACSITimings completedVariables();
  void addCompletedVariable(const std::shared_ptr<QMACSIVariableTiming>& timing);
  void addCompletedVariableForKey(const std::shared_ptr<QMACSIVariableTiming>& timing, const std::string& key);
  void removeCompletedVariableForKey(const std::string& key);
  void addExperimentID(const std::optional<std::string>& experimentID);
  void removeExperimentID(const std::optional<std::string>& experimentID);
  void setCustomizedParameterValueForKey(const std::optional<std::string>& value, const std::string& key);

  const std::string& action() const { return action_; }
  bool reportIRT() const { return reportIRT_; }
  void setReportIRT(bool report) { reportIRT_ = report; }
  double startTime() const { return startTime_; }
  std::vector<std::string> experimentIDs();
  std::map<std::string, std::string> customizedParameters();
  const dispatch::QueuePtr& lockQueue() const { return lockQueue_; }

 private:
  QMACSITimeRecorder() = default;
  QMACSITimings completedVariables_;
  QMACSITimings ongoingVariables_;
  std::vector<std::string> experimentIDs_;
  std::map<std::string, std::string> customizedParameters_;
  dispatch::QueuePtr lockQueue_;
  std::atomic<bool> reportIRT_{false};
  std::string action_;
  std::atomic<double> startTime_{0};
};

class QMACSIConfiguration {
 public:
  static std::shared_ptr<QMACSIConfiguration> initWithServiceName(const std::optional<std::string>& serviceName);
  // Samples the process: in when a random whole number from 0 to 999 is below p x 1000.
  void setReportingProbability(float probability);
  // The machine name with "/" before its first digit and "," turned to "." ("iPhone/7.2").
  static std::string deviceVersionString();
  // "QuillonCsi/1.0 (<device>; U; CPU <system> <version>; <locale>) <name>/<version>", built once.
  const std::string& userAgent();

  bool reportingEnabled() const { return reportingEnabled_; }
  void setReportingEnabled(bool enabled) { reportingEnabled_ = enabled; }
  const std::string& server() const { return server_; }
  void setServer(std::string server) { server_ = std::move(server); }
  const std::string& serviceName() const { return serviceName_; }
  std::uint64_t version() const { return version_; }

 private:
  QMACSIConfiguration() = default;
  std::once_flag userAgentOnce_;
  std::string cachedUserAgentString_;
  std::atomic<bool> reportingEnabled_{true};
  std::string server_;
  std::string serviceName_;
  std::uint64_t version_ = 3;
};

class QMACSIReporter {
 public:
  using Completion = std::function<void(net::URLResponsePtr, std::optional<foundation::Error>)>;
  static std::shared_ptr<QMACSIReporter> initWithConfiguration(std::shared_ptr<QMACSIConfiguration> configuration);
  void reportTimeRecorderCompletionBlock(const std::shared_ptr<QMACSITimeRecorder>& recorder, Completion completion);
  // Nullopt when the recorder has no valid completed timing; builds the URL and takes the
  // timings it lists out of the recorder (invalid ones are dropped too).
  std::optional<std::string> URLStringForTimeRecorder(const std::shared_ptr<QMACSITimeRecorder>& recorder);
  void setSharedParameterValueForKey(const std::optional<std::string>& value, const std::string& key);
  void removeSharedParameterForKey(const std::string& key);
  const std::map<std::string, std::string>& sharedParameters() const { return sharedParameters_; }

 private:
  QMACSIReporter() = default;
  std::shared_ptr<QMACSIConfiguration> configuration_;
  std::map<std::string, std::string> sharedParameters_;
};

class QMACSI : public std::enable_shared_from_this<QMACSI> {
 public:
  static constexpr std::int64_t kDefaultBatchSize = 20;
  static constexpr float kDefaultReportingProbability = 0.05f;
  static constexpr double kDefaultReportingInterval = 150.0;
  // A stored reporting interval below this falls back to the default.
  static constexpr double kMinimumReportingInterval = 1.0;

  static const std::shared_ptr<QMACSI>& sharedInstance();
  // A new instance as a new process makes it (reads the server constants, samples).
  static std::shared_ptr<QMACSI> create();

  // Null when the process is sampled out or there is no action.
  // The recorder of the "load_ad_ios" action, which times the steps of loading an ad.
  static std::shared_ptr<QMACSITimeRecorder> loadAdRecorder();
  std::shared_ptr<QMACSITimeRecorder> timeRecorderForAction(const std::optional<std::string>& action);
  void didMakeAdRequest();
  void sendReport();
  void sendReportInternal();

  std::int64_t batchSize() const { return batchSize_; }
  const std::shared_ptr<QMACSIConfiguration>& configuration() const { return configuration_; }
  const dispatch::QueuePtr& lockQueue() const { return lockQueue_; }
  std::shared_ptr<QMAScheduler> scheduler() const;
  std::int64_t requestCount();

 private:
  QMACSI() = default;
  std::int64_t batchSize_ = kDefaultBatchSize;
  std::shared_ptr<QMACSIConfiguration> configuration_;
  dispatch::QueuePtr lockQueue_;
  std::int64_t requestCount_ = 0;
  std::shared_ptr<QMAScheduler> scheduler_;  // set on the main queue
  bool shouldSendReport_ = false;
  std::map<std::string, std::shared_ptr<QMACSITimeRecorder>> timeRecorders_;
  mutable std::mutex schedulerMutex_;
};
