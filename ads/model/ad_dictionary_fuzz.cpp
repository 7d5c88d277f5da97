// Ad dictionaries from the SDK-core page (JSON): whatever they hold, the ad made from them
// has properties within their ranges.
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ads/model/ad.h"
#include "ads/services/utilities.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The ad's statistics and the device facts touch the device root: keep it out of the tree.
  static char root[] = "/tmp/wv-ad-dictionary-fuzz-XXXXXX";
  if (mkdtemp(root)) setenv("WARDVANE_DEVICE_ROOT", root, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto decoded = qma_decodedJSONObjectError(text);
  if (!decoded || !decoded->asDictionary()) return 0;
  const foundation::Dictionary& dict = *decoded->asDictionary();
  for (std::shared_ptr<QMAAd> ad :
       {QMAAd::initWithDictionary(dict), std::shared_ptr<QMAAd>(QMABannerAd::initWithDictionary(dict))}) {
    std::uint64_t o = ad->supportedOrientations();
    if (o != 6 && o != 24 && o != 30) std::abort();
    if (ad->adNetworkPassbackURL() && !ad->hasAdNetworkJavaScript()) std::abort();
    if (ad->adHTML() && (ad->adHTML()->empty() || !ad->adBaseURL())) std::abort();
    if (ad->adHTML() && ad->adURL()) std::abort();
    if (!std::isfinite(ad->reloadInterval())) std::abort();
    if (!std::isfinite(ad->size().size.width) || !std::isfinite(ad->size().size.height)) std::abort();
  }
  return 0;
}
