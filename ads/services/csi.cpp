#include "ads/services/csi.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <random>

#include "ads/services/ping_request.h"
#include "ads/services/sdk_version.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/format.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/ad_network.h"
#include "platform/net/connection.h"
#include "platform/system/device_facts.h"

namespace {

constexpr const char* kWillResignActive = "UIApplicationWillResignActiveNotification";

std::uint32_t randomNumber(std::uint32_t bound = 0) {
  static std::mutex mu;
  static std::mt19937 engine{std::random_device{}()};
  std::lock_guard lock(mu);
  if (bound == 0) return static_cast<std::uint32_t>(engine());
  return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(engine);
}

std::string replaced(std::string text, char from, char to) {
  std::replace(text.begin(), text.end(), from, to);
  return text;
}

std::uint64_t milliseconds(double seconds) { return static_cast<std::uint64_t>(std::llround(seconds * 1000.0)); }

}  // namespace

// ---- timings

std::shared_ptr<QMACSIVariableTiming> QMACSIVariableTiming::initWithNameStartTime(const std::optional<std::string>& name,
                                                                                 double start) {
  if (!name) return nullptr;
  std::shared_ptr<QMACSIVariableTiming> timing(new QMACSIVariableTiming());
  timing->name_ = *name;
  timing->start_ = start;
  std::weak_ptr<QMACSIVariableTiming> weak = timing;
  timing->observer_ = foundation::NotificationCenter::defaultCenter().addObserverForName(
      kWillResignActive, nullptr, nullptr, [weak](const foundation::Notification&) {
        if (auto t = weak.lock()) t->resigningActive();
      });
  return timing;
}

QMACSIVariableTiming::~QMACSIVariableTiming() {
  if (observer_) foundation::NotificationCenter::defaultCenter().removeObserver(observer_);
}

double QMACSIVariableTiming::start() const {
  std::lock_guard lock(mutex_);
  return start_;
}

void QMACSIVariableTiming::setStart(double start) {
  std::lock_guard lock(mutex_);
  start_ = start;
}

double QMACSIVariableTiming::length() const {
  std::lock_guard lock(mutex_);
  return length_;
}

void QMACSIVariableTiming::setLength(double length) {
  std::lock_guard lock(mutex_);
  length_ = length;
}

bool QMACSIVariableTiming::isValid() const {
  std::lock_guard lock(mutex_);
  return start_ > 0 && length_ > 0;
}

bool QMACSIVariableTiming::isRunning() const {
  std::lock_guard lock(mutex_);
  return length_ < 0;
}

void QMACSIVariableTiming::endAt(double now) {
  std::lock_guard lock(mutex_);
  length_ = now - start_;
}

void QMACSIVariableTiming::resigningActive() {
  // Only a duration that spans the move to the background is unreliable; one that ended
  // before it is a true measurement still waiting for its report.
  std::lock_guard lock(mutex_);
  if (length_ < 0) start_ = -1.0;
}

// ---- recorders

std::shared_ptr<QMACSITimeRecorder> QMACSITimeRecorder::initWithAction(const std::optional<std::string>& action) {
  if (!action) return nullptr;
  std::shared_ptr<QMACSITimeRecorder> recorder(new QMACSITimeRecorder());
  recorder->action_ = *action;
  recorder->lockQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.csi-time-recorder");
  return recorder;
}

double QMACSITimeRecorder::currentTime() { return foundation::Clock::monotonic(); }

void QMACSITimeRecorder::startTimeRecorder() { startTime_ = currentTime(); }

void QMACSITimeRecorder::startTimingVariableWithNameKey(const std::string& name, const std::string& key) {
  if (name.empty()) return;
  auto timing = QMACSIVariableTiming::initWithNameStartTime(name, currentTime());
  auto self = shared_from_this();
  lockQueue_->async([self, timing, key] { self->ongoingVariables_[key] = timing; });
}

void QMACSITimeRecorder::endTimingVariableWithNameKey(const std::string& name, const std::string& key) {
  if (name.empty()) return;
  auto self = shared_from_this();
  lockQueue_->async([self, key] {
    auto it = self->ongoingVariables_.find(key);
    if (it == self->ongoingVariables_.end()) return;
    auto timing = it->second;
    self->ongoingVariables_.erase(it);
    timing->endAt(currentTime());
    std::string completedKey = key;
    if (self->completedVariables_.count(completedKey))
      completedKey = foundation::stringWithFormat("%@%ld", key, static_cast<long>(randomNumber()));
    self->completedVariables_[completedKey] = timing;
  });
}

void QMACSITimeRecorder::cancelTimingVariableWithNameKey(const std::string&, const std::string& key) {
  auto self = shared_from_this();
  lockQueue_->async([self, key] { self->ongoingVariables_.erase(key); });
}

QMACSITimings QMACSITimeRecorder::ongoingVariables() {
  QMACSITimings copy;
  lockQueue_->sync([&] { copy = ongoingVariables_; });
  return copy;
}

QMACSITimings QMACSITimeRecorder::completedVariables() {
  QMACSITimings copy;
  lockQueue_->sync([&] { copy = completedVariables_; });
  return copy;
}

void QMACSITimeRecorder::addCompletedVariable(const std::shared_ptr<QMACSIVariableTiming>& timing) {
  if (timing) addCompletedVariableForKey(timing, timing->name());
}

void QMACSITimeRecorder::addCompletedVariableForKey(const std::shared_ptr<QMACSIVariableTiming>& timing,
                                                    const std::string& key) {
  if (!timing) return;
  auto self = shared_from_this();
  lockQueue_->async([self, timing, key] { self->completedVariables_[key] = timing; });
}

void QMACSITimeRecorder::removeCompletedVariableForKey(const std::string& key) {
  auto self = shared_from_this();
  lockQueue_->async([self, key] { self->completedVariables_.erase(key); });
}

void QMACSITimeRecorder::addExperimentID(const std::optional<std::string>& experimentID) {
  if (!experimentID) return;
  lockQueue_->sync([&] { experimentIDs_.push_back(*experimentID); });
}

void QMACSITimeRecorder::removeExperimentID(const std::optional<std::string>& experimentID) {
  if (!experimentID) return;
  lockQueue_->sync([&] { std::erase(experimentIDs_, *experimentID); });
}

void QMACSITimeRecorder::setCustomizedParameterValueForKey(const std::optional<std::string>& value,
                                                           const std::string& key) {
  if (key.empty() || !value) return;
  lockQueue_->sync([&] { customizedParameters_[key] = *value; });
}

std::vector<std::string> QMACSITimeRecorder::experimentIDs() {
  std::vector<std::string> copy;
  lockQueue_->sync([&] { copy = experimentIDs_; });
  return copy;
}

std::map<std::string, std::string> QMACSITimeRecorder::customizedParameters() {
  std::map<std::string, std::string> copy;
  lockQueue_->sync([&] { copy = customizedParameters_; });
  return copy;
}

// ---- configuration

std::shared_ptr<QMACSIConfiguration> QMACSIConfiguration::initWithServiceName(
    const std::optional<std::string>& serviceName) {
  if (!serviceName) return nullptr;
  std::shared_ptr<QMACSIConfiguration> c(new QMACSIConfiguration());
  c->serviceName_ = *serviceName;
  c->server_ = net::adNetworkURL("/csi");
  return c;
}

void QMACSIConfiguration::setReportingProbability(float probability) {
  float product = probability * 1000.0f;
  unsigned threshold = product > 0 && std::isfinite(product) ? static_cast<unsigned>(std::min(product, 4e9f)) : 0;
  reportingEnabled_ = randomNumber(1000) < threshold;
}

std::string QMACSIConfiguration::deviceVersionString() {
  std::string machine = system_facts::device().machine;
  if (machine.empty()) return "Unknown";
  auto digit = std::find_if(machine.begin(), machine.end(), [](unsigned char c) { return std::isdigit(c); });
  if (digit != machine.end()) machine.insert(digit, '/');
  return replaced(machine, ',', '.');
}

const std::string& QMACSIConfiguration::userAgent() {
  std::call_once(userAgentOnce_, [this] {
    auto device = system_facts::device();
    auto locale = foundation::UserDefaults::globalDefaults()->stringForKey("AppleLocale").value_or("en_US");
    auto& bundle = foundation::Bundle::main();
    auto text = [&](const char* key) {
      auto v = bundle.objectForInfoDictionaryKey(key);
      return v.asString() ? *v.asString() : std::string();
    };
    cachedUserAgentString_ = foundation::stringWithFormat(
        "QuillonCsi/1.0 (%@; U; CPU %@ %@; %@) %@/%@", deviceVersionString(), device.systemName,
        replaced(device.systemVersion, '.', '_'), replaced(locale, '_', '-'), text("CFBundleName"),
        text("CFBundleVersion"));
  });
  return cachedUserAgentString_;
}

// ---- reporter

std::shared_ptr<QMACSIReporter> QMACSIReporter::initWithConfiguration(
    std::shared_ptr<QMACSIConfiguration> configuration) {
  if (!configuration) return nullptr;
  std::shared_ptr<QMACSIReporter> r(new QMACSIReporter());
  r->configuration_ = std::move(configuration);
  return r;
}

void QMACSIReporter::setSharedParameterValueForKey(const std::optional<std::string>& value, const std::string& key) {
  if (key.empty() || !value || sharedParameters_.count(key)) return;
  sharedParameters_[key] = *value;
}

void QMACSIReporter::removeSharedParameterForKey(const std::string& key) {
  if (!key.empty()) sharedParameters_.erase(key);
}

std::optional<std::string> QMACSIReporter::URLStringForTimeRecorder(const std::shared_ptr<QMACSITimeRecorder>& recorder) {
  if (!recorder) return std::nullopt;
  auto completed = recorder->completedVariables();
  // Timings that can never be valid are dropped here, so they are not reported again and
  // again with an empty list.
  std::vector<std::pair<std::string, std::shared_ptr<QMACSIVariableTiming>>> valid;
  for (const auto& [key, timing] : completed) {
    if (timing->isValid()) valid.emplace_back(key, timing);
    else recorder->removeCompletedVariableForKey(key);
  }
  if (valid.empty()) return std::nullopt;

  const auto& c = *configuration_;
  std::string url = foundation::stringWithFormat("%@?s=%@&v=%tu&action=%@", c.server(), c.serviceName(), c.version(),
                                                 recorder->action());
  for (const auto& [k, v] : sharedParameters_) url += "&" + k + "=" + v;
  for (const auto& [k, v] : recorder->customizedParameters()) url += "&" + k + "=" + v;
  auto ids = recorder->experimentIDs();
  if (!ids.empty()) {
    url += "&e=";
    for (std::size_t i = 0; i < ids.size(); ++i) url += (i ? "," : "") + ids[i];
  }
  std::string it = "&it=";
  for (const auto& [key, timing] : valid) it += foundation::stringWithFormat("%@.%tu,", timing->name(), milliseconds(timing->length()));
  it.pop_back();
  url += it;
  if (recorder->reportIRT()) {
    std::string irt = "&irt=";
    for (const auto& [key, timing] : valid) {
      double sinceStart = timing->start() + timing->length() - recorder->startTime();
      irt += foundation::stringWithFormat("%@.%tu,", timing->name(), milliseconds(sinceStart));
    }
    irt.pop_back();
    url += irt;
  }
  for (const auto& [key, timing] : valid) recorder->removeCompletedVariableForKey(key);
  return url;
}

void QMACSIReporter::reportTimeRecorderCompletionBlock(const std::shared_ptr<QMACSITimeRecorder>& recorder,
                                                       Completion completion) {
  if (!configuration_->reportingEnabled()) return;
  auto text = URLStringForTimeRecorder(recorder);
  if (!text) return;
  auto url = net::URL::fromString(*text);
  if (!url) return;
  net::URLRequest request(*url);
  request.headers.set("User-Agent", configuration_->userAgent());
  QMASendPingRequest(request, net::deliverOn(dispatch::OperationQueue::mainQueue()),
                     [completion](net::URLResponsePtr response, std::optional<foundation::Error> error) {
                       if (completion) completion(response, error);
                     });
}

// ---- the entry point

const std::shared_ptr<QMACSI>& QMACSI::sharedInstance() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* instance = new std::shared_ptr<QMACSI>(create());
  return *instance;
}

std::shared_ptr<QMACSI> QMACSI::create() {
  std::shared_ptr<QMACSI> csi(new QMACSI());
  auto d = foundation::UserDefaults::standardUserDefaults();
  csi->lockQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.csi-lock");
  if (!d->objectForKey(kQMACSIRequestBatchSizeKey).isNull()) csi->batchSize_ = d->integerForKey(kQMACSIRequestBatchSizeKey);
  csi->configuration_ = QMACSIConfiguration::initWithServiceName("qmob_sdk");
  float probability = kDefaultReportingProbability;
  if (!d->objectForKey(kQMACSIReportingProbabilityKey).isNull())
    probability = static_cast<float>(d->doubleForKey(kQMACSIReportingProbabilityKey));
  csi->configuration_->setReportingProbability(probability);
  if (!csi->configuration_->reportingEnabled()) return csi;

  // A stored interval under a second would make the report timer hammer the endpoint:
  // the default stands instead.
  double interval = kDefaultReportingInterval;
  if (!d->objectForKey(kQMACSIReportingIntervalKey).isNull()) {
    double stored = d->doubleForKey(kQMACSIReportingIntervalKey);
    if (std::isfinite(stored) && stored >= kMinimumReportingInterval) interval = stored;
  }
  std::weak_ptr<QMACSI> weak = csi;
  dispatch::Queue::main()->async([weak, interval] {
    auto self = weak.lock();
    if (!self) return;
    auto scheduler = QMAScheduler::initWithInterval(interval);
    scheduler->taskIDScheduledOnQueueBlock(self->lockQueue_, [weak] {
      if (auto target = weak.lock()) {
        target->shouldSendReport_ = true;
        target->sendReportInternal();
      }
    });
    scheduler->start();
    std::lock_guard lock(self->schedulerMutex_);
    self->scheduler_ = scheduler;
  });
  return csi;
}

std::shared_ptr<QMAScheduler> QMACSI::scheduler() const {
  std::lock_guard lock(schedulerMutex_);
  return scheduler_;
}

std::int64_t QMACSI::requestCount() {
  std::int64_t count = 0;
  lockQueue_->sync([&] { count = requestCount_; });
  return count;
}

std::shared_ptr<QMACSITimeRecorder> QMACSI::loadAdRecorder() {
  return sharedInstance()->timeRecorderForAction("load_ad_ios");
}

std::shared_ptr<QMACSITimeRecorder> QMACSI::timeRecorderForAction(const std::optional<std::string>& action) {
  if (!configuration_->reportingEnabled() || !action) return nullptr;
  std::shared_ptr<QMACSITimeRecorder> recorder;
  // Looked up and, when new, entered in one step, so two callers never make two.
  lockQueue_->sync([&] {
    auto& entry = timeRecorders_[*action];
    if (!entry) {
      entry = QMACSITimeRecorder::initWithAction(*action);
      entry->setCustomizedParameterValueForKey(kQMASDKVersion, "sdkVersion");
    }
    recorder = entry;
  });
  return recorder;
}

void QMACSI::didMakeAdRequest() {
  auto self = shared_from_this();
  lockQueue_->async([self] { ++self->requestCount_; });
}

void QMACSI::sendReport() {
  auto self = shared_from_this();
  lockQueue_->async([self] { self->sendReportInternal(); });
}

void QMACSI::sendReportInternal() {
  if (!shouldSendReport_ && requestCount_ < batchSize_) return;
  shouldSendReport_ = false;
  requestCount_ = 0;
  for (const auto& [action, recorder] : timeRecorders_) {
    auto reporter = QMACSIReporter::initWithConfiguration(configuration_);
    reporter->reportTimeRecorderCompletionBlock(recorder, [](net::URLResponsePtr, std::optional<foundation::Error>) {});
  }
}
