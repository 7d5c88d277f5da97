#include "ads/services/host_facts.h"

#include "ads/services/application.h"
#include "platform/system/device_facts.h"

QMAHostFacts QMAHostFacts::current() {
  QMAHostFacts facts;
  const auto& application = QMAApplication::sharedInstance();
  facts.applicationVersion = application->version();
  facts.mainBundleIdentifier = application->mainBundleIdentifier();
  if (const auto& session = application->currentSession()) facts.sessionID = session->uniqueID();
  facts.timeSinceFirstAdRequestInMilliseconds =
      static_cast<std::int64_t>(application->timeSinceFirstAdRequestInMilliseconds());
  const auto device = system_facts::device();
  facts.systemVersion = device.systemVersion;
  facts.advertisingTrackingEnabled = device.advertisingTrackingEnabled;
  facts.advertisingIdentifier = device.advertisingIdentifier;
  return facts;
}
