// Host-given texts: the request type is one of four values whatever the text, and trimming
// leaves a piece of the text with no white space at either end.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ads/model/request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  long type = QMARequest::requestTypeFromString(text);
  if (type < 0 || type > 3) std::abort();
  std::string trimmed = QMATrimmedString(text);
  if (text.find(trimmed) == std::string::npos) std::abort();
  if (!trimmed.empty()) {
    unsigned char first = trimmed.front(), last = trimmed.back();
    if (first == ' ' || (first >= '\t' && first <= '\r') || last == ' ' || (last >= '\t' && last <= '\r')) std::abort();
  }
  return 0;
}
