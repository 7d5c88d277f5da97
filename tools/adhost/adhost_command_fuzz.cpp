// Whatever a line holds, the command reader answers a command or a reason, never more than
// it was given: names stay names, sizes and points stay within the screen's reach, clock
// steps stay positive and bounded.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/adhost/command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  auto parsed = adhost::parseCommand(line);
  if (auto* error = std::get_if<adhost::ParseError>(&parsed)) {
    if (error->message.empty() || error->message.size() > 1024) std::abort();
    return 0;
  }
  const auto& c = std::get<adhost::Command>(parsed);
  if (size > adhost::kMaximumLineLength) std::abort();
  if (c.name.size() > adhost::kMaximumNameLength) std::abort();
  if (c.name.find_first_of(" \t\r\n") != std::string::npos) std::abort();
  auto bounded = [](double v) { return std::isfinite(v) && std::fabs(v) <= adhost::kMaximumDimension; };
  if (c.size && (!bounded(c.size->size.width) || !bounded(c.size->size.height))) std::abort();
  for (const auto& s : c.validSizes)
    if (!bounded(s.size.width) || !bounded(s.size.height)) std::abort();
  if (c.origin && (!bounded(c.origin->x) || !bounded(c.origin->y))) std::abort();
  if (c.frameSize && (!bounded(c.frameSize->width) || !bounded(c.frameSize->height) || c.frameSize->width < 0))
    std::abort();
  if (c.seconds && !(*c.seconds > 0 && *c.seconds <= adhost::kMaximumClockStep)) std::abort();
  if (c.validSizes.size() > 16 || c.selectors.size() > 10) std::abort();
  return 0;
}
