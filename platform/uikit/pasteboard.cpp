#include "platform/uikit/pasteboard.h"

#include "platform/dispatch/thread_checks.h"

namespace uikit {

Pasteboard& Pasteboard::generalPasteboard() {
  static Pasteboard board;
  return board;
}

std::optional<std::string> Pasteboard::string() const {
  WV_DCHECK_MAIN_THREAD();
  return text_;
}

void Pasteboard::setString(std::optional<std::string> text) {
  WV_DCHECK_MAIN_THREAD();
  text_ = std::move(text);
}

}  // namespace uikit
