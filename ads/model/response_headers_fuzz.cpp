// Response headers from the ad server, one "name: value" a line: whatever they hold, the
// reading gives a known response type and properties within their ranges.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ads/model/ad_fetcher.h"
#include "ads/model/string_values.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  foundation::Dictionary headers;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      if (!value.empty() && value.front() == ' ') value.erase(0, 1);
      headers[line.substr(0, colon)] = value;
    }
    start = end + 1;
  }
  QMAResponseHeaderReading r = QMAReadResponseHeaders(headers);
  if (r.responseType > QMAAdResponseTypeCustomRendering) std::abort();
  if (r.responseType == QMAAdResponseTypeMediation) {
    const std::string* type = foundation::stringForKey(r.headers, "content-type");
    if (!type || !type->starts_with("application/json")) std::abort();
  }
  if (r.reloadInterval && (!std::isfinite(*r.reloadInterval) || *r.reloadInterval < 0)) std::abort();
  if (r.supportedOrientations && *r.supportedOrientations != 6 && *r.supportedOrientations != 24 &&
      *r.supportedOrientations != 30)
    std::abort();
  for (const auto* list : {&r.clickURLs, &r.impressionURLs, &r.manualImpressionURLs})
    if (*list && (*list)->empty()) std::abort();
  if (r.swipeConfigurations && r.swipeConfigurations->empty()) std::abort();
  for (const auto& [name, value] : r.headers)
    for (char c : name)
      if (c >= 'A' && c <= 'Z') std::abort();
  if (auto d = QMAStringDoubleValue(text); d && !std::isfinite(*d)) std::abort();
  (void)QMAStringBoolValue(text);
  return 0;
}
