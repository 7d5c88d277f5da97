#pragma once
// The public ad request: the targeting a host fills in (gender, birthday, location,
// keywords, content URL, child-directed treatment), test devices, network extras by
// class, and the fields the component's own formats set. `parameters` builds the request
// side of the request-parameter dictionary that the SDK-core page receives.
//
// A request has no lock: the host fills it in on one thread before loading it, and each
// slot keeps a copy. `parameters` may run on any thread; only the request signal is asked
// for on the main thread (synchronously, so the main thread must never wait on a thread
// that is building parameters).

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ads/services/location.h"
#include "ads/services/sdk_version.h"
#include "platform/foundation/value.h"

// The identifier by which the simulator is listed among test devices.
inline constexpr const char* kQMASimulatorID = "Simulator";

enum QMAGender : long { QMAGenderUnknown = 0, QMAGenderMale = 1, QMAGenderFemale = 2 };

// Extras a host registers for one ad network, stored under the name of their class.
class QMAAdNetworkExtras {
 public:
  virtual ~QMAAdNetworkExtras() = default;
  virtual std::string extrasClassName() const = 0;
};

// The extras of the component's own network. Keys beginning with "_" are instructions to
// the component ("_useOnce" here; "_ad", "_adHeaders", "_requestUrl" and "_orientation"
// are read by the slot), the others targeting.
class QMAExtras : public QMAAdNetworkExtras {
 public:
  static constexpr const char* kClassName = "QMAExtras";
  static std::shared_ptr<QMAExtras> init() { return std::make_shared<QMAExtras>(); }

  std::string extrasClassName() const override { return kClassName; }
  const std::optional<foundation::Dictionary>& additionalParameters() const { return additionalParameters_; }
  void setAdditionalParameters(std::optional<foundation::Dictionary> parameters) {
    additionalParameters_ = std::move(parameters);
  }
  // Instructions whose values are objects rather than property-list values, beside the
  // parameters: "_ad" as a ready QMAAd, "_requestUrl" as a URL (net::URL). Nullptr when
  // there is none under the key.
  void setAdditionalObjectForKey(std::any object, const std::string& key) {
    additionalObjects_.insert_or_assign(key, std::move(object));
  }
  const std::any* additionalObjectForKey(std::string_view key) const {
    auto it = additionalObjects_.find(key);
    return it == additionalObjects_.end() ? nullptr : &it->second;
  }
  std::shared_ptr<QMAExtras> copy() const { return std::make_shared<QMAExtras>(*this); }

 private:
  std::optional<foundation::Dictionary> additionalParameters_;
  std::map<std::string, std::any, std::less<>> additionalObjects_;
};

// Where the request signal comes from: a source outside the request that answers a text
// "key=value" or fails. It is set up once with the SDK version before its first signal.
// Both calls come on the main thread.
class QMARequestSignalSource {
 public:
  virtual ~QMARequestSignalSource() = default;
  virtual void setUpWithSDKVersion(const std::string& sdkVersion) = 0;
  virtual std::optional<std::string> requestSignal() = 0;
};

class QMARequest : public std::enable_shared_from_this<QMARequest> {
 public:
  static std::shared_ptr<QMARequest> request();
  static std::shared_ptr<QMARequest> init() { return request(); }
  virtual ~QMARequest() = default;

  // "qvra-sdk-i-v7.4.1".
  static const std::string& sdkVersion();
  // The version-information texts: "-rc.1", "+8714", "qvra-sdk-i-v7.4.1-rc.1+8714".
  static const std::string& sdkVersionIdentifiers();
  static const std::string& sdkVersionMetadata();
  static const std::string& extendedSDKVersionNumber();
  // "pelmark" 2, "vcz" 3, "lumoria" 1, anything else 0.
  static long requestTypeFromString(std::string_view text);

  // The process's request-signal source (none by default: requests then carry no signal).
  static void setRequestSignalSource(std::shared_ptr<QMARequestSignalSource> source);

  // A new request of the receiver's own class with the same fields; the extras map and
  // the additional parameters are copied, the extras objects shared.
  virtual std::shared_ptr<QMARequest> copy() const;
  virtual std::string className() const { return "QMARequest"; }
  std::string description() const;

  // Network extras.
  void registerAdNetworkExtras(const std::shared_ptr<QMAAdNetworkExtras>& extras);
  std::shared_ptr<QMAAdNetworkExtras> adNetworkExtrasFor(std::string_view className) const;
  template <class T>
  std::shared_ptr<T> adNetworkExtrasFor() const {
    return std::dynamic_pointer_cast<T>(adNetworkExtrasFor(T::kClassName));
  }
  void removeAdNetworkExtrasFor(std::string_view className);
  // The registered QMAExtras' parameters. When they hold a true "_useOnce", the QMAExtras
  // are removed from the request first (the caller still gets them this once).
  std::optional<foundation::Dictionary> networkExtrasAdditionalParameters();

  void addAdditionalParametersFromDictionary(const foundation::Dictionary& parameters);
  const foundation::Dictionary& additionalParameters() const { return additionalParameters_; }

  // Targeting.
  const std::optional<foundation::Array>& testDevices() const { return testDevices_; }
  void setTestDevices(std::optional<foundation::Array> devices) { testDevices_ = std::move(devices); }
  long gender() const { return gender_; }
  void setGender(long gender) { gender_ = gender; }
  const std::optional<foundation::Date>& birthday() const { return birthday_; }
  void setBirthday(std::optional<foundation::Date> birthday) { birthday_ = birthday; }
  // The date of those components in the Gregorian calendar, in the local time zone.
  void setBirthdayWithMonthDayYear(long month, long day, long year);
  const std::optional<std::vector<std::string>>& keywords() const { return keywords_; }
  void setKeywords(std::optional<std::vector<std::string>> keywords) { keywords_ = std::move(keywords); }
  const std::optional<std::string>& contentURL() const { return contentURL_; }
  void setContentURL(std::optional<std::string> url) { contentURL_ = std::move(url); }
  const std::optional<std::string>& requestAgent() const { return requestAgent_; }
  void setRequestAgent(std::optional<std::string> agent) { requestAgent_ = std::move(agent); }
  const std::shared_ptr<QMALocation>& location() const { return location_; }
  void setLocation(const std::shared_ptr<QMALocation>& location) { location_ = location ? location->copy() : nullptr; }
  void setLocationWithLatitudeLongitudeAccuracy(double latitude, double longitude, double accuracy);
  void setLocationWithDescription(const std::string& description);
  const std::optional<bool>& childDirectedTreatment() const { return childDirectedTreatment_; }
  void setChildDirectedTreatment(std::optional<bool> treatment) { childDirectedTreatment_ = treatment; }
  void tagForChildDirectedTreatment(bool childDirected) { childDirectedTreatment_ = childDirected; }

  // Fields the component's own formats set.
  const std::optional<foundation::Dictionary>& privateMediationExtras() const { return privateMediationExtras_; }
  void setPrivateMediationExtras(std::optional<foundation::Dictionary> extras) {
    privateMediationExtras_ = std::move(extras);
  }
  // Entries may hold "format" (an integer) and "custom_template_ids" (strings).
  const std::optional<foundation::Array>& formatParameters() const { return formatParameters_; }
  void setFormatParameters(std::optional<foundation::Array> parameters) { formatParameters_ = std::move(parameters); }
  long responseType() const { return responseType_; }
  void setResponseType(long type) { responseType_ = type; }
  std::uint64_t correlationID() const { return correlationID_; }
  void setCorrelationID(std::uint64_t id) { correlationID_ = id; }

  // Whether a string entry of testDevices is this device's identifier.
  bool isATestDevice() const;
  // "1", "2" or nullopt; "yyyyMMdd" in the Gregorian calendar; the trimmed content URL.
  std::optional<std::string> genderString() const;
  std::optional<std::string> birthdayString() const;
  std::optional<std::string> contentURLString() const;

  // The request side of the request-parameter dictionary.
  virtual foundation::Dictionary parameters();

 protected:
  // The class's first use (of it or a kind of it) brings the ad component up, if the host's
  // launch has not yet: the early activities run on the main thread.
  QMARequest();
  // Copies this request's fields into `copy`, a new request of the same class.
  void copyRequestFieldsInto(QMARequest& copy) const;

 private:
  std::shared_ptr<QMAExtras> registeredExtras() const;

  std::map<std::string, std::shared_ptr<QMAAdNetworkExtras>, std::less<>> networkExtras_;
  foundation::Dictionary additionalParameters_;
  std::optional<foundation::Array> testDevices_;
  long gender_ = QMAGenderUnknown;
  std::optional<foundation::Date> birthday_;
  std::optional<std::vector<std::string>> keywords_;
  std::optional<std::string> contentURL_;
  std::optional<std::string> requestAgent_;
  std::shared_ptr<QMALocation> location_;
  std::optional<bool> childDirectedTreatment_;
  std::optional<foundation::Dictionary> privateMediationExtras_;
  std::optional<foundation::Array> formatParameters_;
  long responseType_ = 0;
  std::uint64_t correlationID_ = 0;
};

// Leading and trailing white space and line breaks removed.
std::string QMATrimmedString(std::string_view text);
