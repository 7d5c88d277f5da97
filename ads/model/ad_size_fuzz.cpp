// Whatever text names a size, reading it gives finite numbers or 0 x 0, and the size made
// from it can be measured, checked and named without trouble.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ads/model/ad_size.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (uikit::Size s : {QMAAdSizeFromString(text), CGSizeFromString(text)}) {
    if (!std::isfinite(s.width) || !std::isfinite(s.height)) std::abort();
    QMAAdSize adSize = QMAAdSizeFromCGSize(s);
    const QMAAdSizeScreenFacts phone{QMAUserInterfaceIdiomPhone, 375, 667};
    foundation::Error error;
    bool valid = QMAAdSizeIsValidWithError(adSize, &error, phone);
    if (!valid && error.localizedDescription().empty()) std::abort();
    if (valid && (s.width < 0 || s.height < 0)) std::abort();
    uikit::Size measured = CGSizeFromQMAAdSize(adSize, phone);
    if (!std::isfinite(measured.width) || !std::isfinite(measured.height)) std::abort();
    if (NSStringFromQMAAdSize(adSize).empty()) std::abort();
    if (!QMAAdSizeEqualToSize(QMAAdSizeFromNSValue(NSValueFromQMAAdSize(adSize)), adSize)) std::abort();
  }
  return 0;
}
