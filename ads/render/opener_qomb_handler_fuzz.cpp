// Fuzzes the opener message handler's readings of a creative's "open" parameters: any
// query gives a URL or none, one of the three orientation masks, and report templates that
// are never empty and hold no white space; never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ads/render/opener_qomb_handler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string query(reinterpret_cast<const char*>(data), size);
  auto note = QMANotification::initWithNotificationURL(net::URL::fromString("qomb://ad/open?" + query));
  if (!note) return 0;
  (void)QMAOpenerQOMBHandler::URLFromParams(*note);
  (void)QMAOpenerQOMBHandler::shouldUseCustomClose(*note);
  for (bool landscape : {false, true}) {
    const std::uint64_t mask = QMAOpenerQOMBHandler::orientationFromParams(*note, landscape);
    if (mask != 6 && mask != 24 && mask != 30) __builtin_trap();
  }
  for (const auto& url : QMAOpenerQOMBHandler::reportURLsFromParams(*note)) {
    if (url.empty() || url.find_first_of(" \t\n\r\v\f") != std::string::npos) __builtin_trap();
  }
  return 0;
}
