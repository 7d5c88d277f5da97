#include "ads/services/host_facts.h"

#include "ads/services/absolute_time.h"
#include "platform/adsupport/identifier_manager.h"
#include "platform/foundation/bundle.h"

QMAHostFacts QMAHostFacts::current() {
  QMAHostFacts facts;
  auto& bundle = foundation::Bundle::main();
  const foundation::Value version = bundle.objectForInfoDictionaryKey("CFBundleVersion");
  if (const auto* text = version.asString()) facts.applicationVersion = *text;
  facts.mainBundleIdentifier = bundle.bundleIdentifier();
  const foundation::Value os = bundle.objectForInfoDictionaryKey("QMASystemVersion");
  if (const auto* text = os.asString()) facts.systemVersion = *text;
  auto& ads = adsupport::ASIdentifierManager::sharedManager();
  facts.advertisingTrackingEnabled = ads.isAdvertisingTrackingEnabled();
  facts.advertisingIdentifier = ads.advertisingIdentifier();
  return facts;
}
