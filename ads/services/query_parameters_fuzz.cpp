// Whatever a URL's query holds, reading its parameters gives a value or nothing, and the
// dictionary form holds only valid UTF-8 text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ads/services/url_utilities.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto split = text.find('\n');
  std::string key = split == std::string::npos ? "a" : text.substr(0, split);
  std::string rest = split == std::string::npos ? text : text.substr(split + 1);
  for (const std::string& candidate : {rest, "http://h/p?" + rest}) {
    auto url = net::URL::fromString(candidate);
    if (!url) continue;
    if (auto value = qma_parameterValueForKey(*url, key)) {
      if (value->find('&') != std::string::npos) std::abort();
    }
    for (const auto& [k, v] : qma_dictionaryFromQueryParametersAndConvertKeysToLowercase(*url, true)) {
      if (!net::isValidUTF8(k) || !v.asString() || !net::isValidUTF8(*v.asString())) std::abort();
    }
    (void)qma_impressionTicket(*url);
    (void)qma_absoluteStringWithoutFragmentComponent(*url);
    (void)qma_appendQueryParameters(*url, QMAQueryParameters{{"k", rest}});
  }
  return 0;
}
