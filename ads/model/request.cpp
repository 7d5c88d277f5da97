#include "ads/model/request.h"

#include <climits>
#include <mutex>
#include <cstdio>

#include "ads/services/application.h"
#include "ads/services/device.h"
#include "ads/services/logging.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/format.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

// The process's request-signal source and whether it has been set up.
struct SignalSourceSlot {
  std::mutex mu;
  std::shared_ptr<QMARequestSignalSource> source;
  bool setUp = false;
};

SignalSourceSlot& signalSourceSlot() {
  static SignalSourceSlot* slot = new SignalSourceSlot();
  return *slot;
}

// Asked on the main thread: the signal text, after the one-time set-up.
std::optional<std::string> requestSignalOnMainThread() {
  auto& slot = signalSourceSlot();
  std::shared_ptr<QMARequestSignalSource> source;
  bool needsSetUp = false;
  {
    std::lock_guard lock(slot.mu);
    source = slot.source;
    needsSetUp = source && !slot.setUp;
    if (needsSetUp) slot.setUp = true;
  }
  if (!source) return std::nullopt;
  if (needsSetUp) source->setUpWithSDKVersion(QMARequest::sdkVersion());
  return source->requestSignal();
}

std::optional<std::pair<std::string, std::string>> requestSignalPair() {
  {
    auto& slot = signalSourceSlot();
    std::lock_guard lock(slot.mu);
    if (!slot.source) return std::nullopt;  // nothing to ask: no hop to the main thread
  }
  std::optional<std::string> signal;
  if (dispatch::isMainThread()) {
    signal = requestSignalOnMainThread();
  } else {
    dispatch::Queue::main()->sync([&] { signal = requestSignalOnMainThread(); });
  }
  if (!signal) return std::nullopt;
  std::size_t eq = signal->find('=');
  if (eq == std::string::npos) return std::nullopt;
  std::string key = signal->substr(0, eq);
  std::string rest = signal->substr(eq + 1);
  std::string value = rest.substr(0, rest.find('='));
  if (key.empty() || value.empty()) return std::nullopt;
  return std::make_pair(key, value);
}

// The UTF-8 bytes of white space and line breaks a text may be trimmed of, beyond ASCII.
constexpr std::string_view kUnicodeSpaces[] = {
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83",
    "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",
    "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

std::size_t spaceAtFront(std::string_view text) {
  if (text.empty()) return 0;
  char c = text.front();
  if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
  for (auto s : kUnicodeSpaces)
    if (text.starts_with(s)) return s.size();
  return 0;
}

std::size_t spaceAtBack(std::string_view text) {
  if (text.empty()) return 0;
  char c = text.back();
  if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
  for (auto s : kUnicodeSpaces)
    if (text.ends_with(s)) return s.size();
  return 0;
}

int clampToInt(long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}

}  // namespace

std::string QMATrimmedString(std::string_view text) {
  while (std::size_t n = spaceAtFront(text)) text.remove_prefix(n);
  while (std::size_t n = spaceAtBack(text)) text.remove_suffix(n);
  return std::string(text);
}

// ---- class facts

QMARequest::QMARequest() {
  static const bool initialized = [] {
    QMARunOnMainThread([] { QMAApplication::sharedInstance()->runEarlyActivities(); });
    return true;
  }();
  (void)initialized;
}

std::shared_ptr<QMARequest> QMARequest::request() { return std::shared_ptr<QMARequest>(new QMARequest()); }

const std::string& QMARequest::sdkVersion() {
  static const std::string version = kQMASDKVersion;
  return version;
}

const std::string& QMARequest::sdkVersionIdentifiers() {
  static const std::string identifiers = [] {
    std::string id = "rc.1";
    return id.empty() ? std::string() : "-" + id;
  }();
  return identifiers;
}

const std::string& QMARequest::sdkVersionMetadata() {
  static const std::string metadata = [] {
    std::string build = "8714";
    return build.empty() ? std::string() : "+" + build;
  }();
  return metadata;
}

const std::string& QMARequest::extendedSDKVersionNumber() {
  static const std::string extended = sdkVersion() + sdkVersionIdentifiers() + sdkVersionMetadata();
  return extended;
}

long QMARequest::requestTypeFromString(std::string_view text) {
  if (text == "pelmark") return 2;
  if (text == "vcz") return 3;
  if (text == "lumoria") return 1;
  return 0;
}

void QMARequest::setRequestSignalSource(std::shared_ptr<QMARequestSignalSource> source) {
  auto& slot = signalSourceSlot();
  std::lock_guard lock(slot.mu);
  slot.source = std::move(source);
  slot.setUp = false;
}

// ---- copying and description

void QMARequest::copyRequestFieldsInto(QMARequest& copy) const {
  copy.networkExtras_ = networkExtras_;
  copy.additionalParameters_ = additionalParameters_;
  copy.testDevices_ = testDevices_;
  copy.formatParameters_ = formatParameters_;
  copy.privateMediationExtras_ = privateMediationExtras_;
  copy.gender_ = gender_;
  copy.birthday_ = birthday_;
  copy.setLocation(location_);
  copy.keywords_ = keywords_;
  copy.childDirectedTreatment_ = childDirectedTreatment_;
  copy.contentURL_ = contentURL_;
  copy.responseType_ = responseType_;
  copy.requestAgent_ = requestAgent_;
  copy.correlationID_ = correlationID_;
}

std::shared_ptr<QMARequest> QMARequest::copy() const {
  auto request = QMARequest::request();
  copyRequestFieldsInto(*request);
  return request;
}

std::string QMARequest::description() const {
  std::string parts;
  if (gender_ == QMAGenderMale) parts += "\ngender:Male";
  if (gender_ == QMAGenderFemale) parts += "\ngender:Female";
  if (birthday_) parts += "\nbirthday:" + foundation::description(Value(*birthday_));
  if (location_) parts += "\nlocation:" + location_->locationDescription();
  if (keywords_) {
    Array words(keywords_->begin(), keywords_->end());
    parts += "\nkeywords:" + foundation::description(Value(words));
  }
  if (auto extras = registeredExtras(); extras && extras->additionalParameters())
    parts += "\nadditionalParameters:" + foundation::description(Value(*extras->additionalParameters()));
  return foundation::stringWithFormat("<%@ %p: %@>", className(), static_cast<const void*>(this), parts);
}

// ---- extras

void QMARequest::registerAdNetworkExtras(const std::shared_ptr<QMAAdNetworkExtras>& extras) {
  if (!extras) {
    QMALogger::sharedInstance()->logPublicMessage(
        foundation::stringWithFormat("Must specify extras for %@.", "registerAdNetworkExtras:"));
    return;
  }
  networkExtras_[extras->extrasClassName()] = extras;
}

std::shared_ptr<QMAAdNetworkExtras> QMARequest::adNetworkExtrasFor(std::string_view className) const {
  auto it = networkExtras_.find(className);
  return it == networkExtras_.end() ? nullptr : it->second;
}

void QMARequest::removeAdNetworkExtrasFor(std::string_view className) {
  if (auto it = networkExtras_.find(className); it != networkExtras_.end()) networkExtras_.erase(it);
}

std::shared_ptr<QMAExtras> QMARequest::registeredExtras() const { return adNetworkExtrasFor<QMAExtras>(); }

std::optional<Dictionary> QMARequest::networkExtrasAdditionalParameters() {
  auto extras = registeredExtras();
  if (!extras) return std::nullopt;
  std::optional<Dictionary> parameters = extras->additionalParameters();
  if (parameters) {
    auto it = parameters->find("_useOnce");
    if (it != parameters->end() && it->second.boolValue().value_or(false))
      removeAdNetworkExtrasFor(QMAExtras::kClassName);
  }
  return parameters;
}

void QMARequest::addAdditionalParametersFromDictionary(const Dictionary& parameters) {
  for (const auto& [key, value] : parameters) additionalParameters_[key] = value;
}

// ---- targeting

void QMARequest::setBirthdayWithMonthDayYear(long month, long day, long year) {
  foundation::DateComponents c;
  c.year = clampToInt(year);
  c.month = clampToInt(month);
  c.day = clampToInt(day);
  birthday_ = foundation::Calendar::dateFromLocalComponents(c);
}

void QMARequest::setLocationWithLatitudeLongitudeAccuracy(double latitude, double longitude, double accuracy) {
  location_ = QMALocation::initWithLatitudeLongitudeAccuracy(latitude, longitude, accuracy);
}

void QMARequest::setLocationWithDescription(const std::string& description) {
  location_ = QMALocation::initWithLocationDescription(description);
}

bool QMARequest::isATestDevice() const {
  if (!testDevices_) return false;
  auto device = QMADevice::sharedInstance();
  std::string identifier = device->isSimulator() ? kQMASimulatorID : device->deviceIdentifier();
  for (const auto& entry : *testDevices_) {
    const std::string* s = entry.asString();
    if (s && !s->empty() && *s == identifier) return true;
  }
  return false;
}

std::optional<std::string> QMARequest::genderString() const {
  if (gender_ == QMAGenderMale) return "1";
  if (gender_ == QMAGenderFemale) return "2";
  return std::nullopt;
}

std::optional<std::string> QMARequest::birthdayString() const {
  if (!birthday_) return std::nullopt;
  // Always the Gregorian calendar and ASCII digits, in the time zone the birthday was made
  // in: the ad server reads the text as a Gregorian date whatever the device shows.
  foundation::DateComponents c = foundation::Calendar::componentsInLocalTime(*birthday_);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", c.year, c.month, c.day);
  return std::string(buf);
}

std::optional<std::string> QMARequest::contentURLString() const {
  if (!contentURL_) return std::nullopt;
  std::string trimmed = QMATrimmedString(*contentURL_);
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

// ---- the parameter dictionary

Dictionary QMARequest::parameters() {
  Dictionary p;
  if (auto adapters = QMAApplication::sharedInstance()->availableAdapterNames())
    p["adapters"] = Array(adapters->begin(), adapters->end());

  auto device = QMADevice::sharedInstance();
  for (auto& [key, value] : device->parameters()) p[key] = std::move(value);
  p["js"] = sdkVersion();
  if (const auto& network = device->network()) {
    if (auto type = network->networkTypeString()) p["net"] = *type;
    if (auto last = network->lastKnownNetworkTypeString()) p["net_last"] = *last;
  }
  if (device->isSimulator()) p["simulator"] = "1";
  if (isATestDevice()) p["adtest"] = "on";
  if (correlationID_ != 0) p["correlation_id"] = Value(static_cast<unsigned long long>(correlationID_));
  if (auto extras = registeredExtras(); extras && extras->additionalParameters())
    p["extras"] = *extras->additionalParameters();
  if (auto gender = genderString()) p["cust_gender"] = *gender;
  if (auto age = birthdayString()) p["cust_age"] = *age;
  if (keywords_) p["kw"] = Array(keywords_->begin(), keywords_->end());
  if (childDirectedTreatment_) p["tag_for_child_directed_treatment"] = *childDirectedTreatment_ ? "1" : "0";
  if (auto url = contentURLString()) p["url"] = *url;
  if (requestAgent_) p["request_agent"] = *requestAgent_;
  if (location_) {
    if (auto uule = location_->dictionaryRepresentation()) p["uule"] = *uule;
  }
  if (auto signal = requestSignalPair()) p[signal->first] = signal->second;

  if (formatParameters_) {
    // Entries come from the ad loader; anything not of the expected type counts as absent.
    std::vector<std::string> formats;
    for (const auto& entry : *formatParameters_) {
      const Dictionary* d = entry.asDictionary();
      if (!d) continue;
      if (const Array* ids = foundation::arrayForKey(*d, "custom_template_ids")) {
        std::vector<std::string> texts;
        for (const auto& id : *ids)
          if (const std::string* s = id.asString()) texts.push_back(*s);
        if (!texts.empty()) p["native_custom_templates"] = joined(texts, ",");
      }
      if (auto it = d->find("format"); it != d->end() && it->second.asInteger())
        formats.push_back(std::to_string(*it->second.asInteger()));
    }
    std::string templates = joined(formats, ",");
    if (!templates.empty() && responseType_ != 0) {
      p["native_templates"] = templates;
      p["native_version"] = Value(responseType_);
    }
  }

  for (const auto& [key, value] : additionalParameters_) p[key] = value;
  return p;
}
