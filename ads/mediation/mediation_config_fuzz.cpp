// Whatever a mediation response's body holds, reading it as a configuration gives one with
// sane settings and networks that each have an ID, or a request error 7 or 8; nothing
// crashes or hangs.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ads/mediation/mediation_config.h"
#include "ads/services/utilities.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = [] {
    auto cls = runtime::Class::make("FuzzAdapter");
    cls->addProtocol(kQMAMAdNetworkAdapterProtocol);
    cls->addMethod<void()>("getInterstitial", [](const runtime::Id&) {});
    runtime::objc_registerClassPair(cls);
    return true;
  }();
  (void)registered;
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto decoded = qma_decodedJSONObjectError(text);
  std::optional<foundation::Dictionary> dictionary;
  if (decoded && decoded->asDictionary()) dictionary = *decoded->asDictionary();
  std::optional<QMARequestError> error;
  auto config = QMAMConfig::initWithAppKeyConfigDictError("unit", dictionary, &error);
  if (!config) {
    if (!error || (error->code != QMARequestErrorCodeInvalidMediationResponse && error->code != QMARequestErrorCodeNoAdapter))
      std::abort();
    return 0;
  }
  const double timeout = config->adNetworkTimeout();
  if (!std::isfinite(timeout) || timeout < 0 || timeout > QMAMConfig::kMaxAdNetworkTimeout) std::abort();
  const double refresh = config->refreshInterval();
  if (!std::isfinite(refresh) || refresh >= QMAMConfig::kRefreshIntervalLimit) std::abort();
  if (config->bannerAnimationType() < 0 || config->bannerAnimationType() > 8) std::abort();
  if (!config->adType()) std::abort();
  for (const auto& network : config->adNetworkConfigs()) {
    if (!network || !network->networkID()) std::abort();
    if (network->adapterClass() && !QMAMAdNetworkAdapterClasses::classIsAdapterClass(network->adapterClass()))
      std::abort();
    (void)network->description();
  }
  (void)config->description();
  return 0;
}
