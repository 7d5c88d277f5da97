#pragma once
// Public messages of the ad component and its log. Lines are formatted on the caller's
// thread and written, one whole line at a time and in call order, on one serial queue,
// so a caller never waits for the log.

#include <memory>
#include <string>
#include <string_view>

#include "platform/dispatch/queue.h"
#include "platform/foundation/format.h"

// The logging queue, "com.quillon.pelmark.logging", made on first use.
const dispatch::QueuePtr& QMALogQueue();

// Writes already formatted text; "%" in it stays as it is.
void QMALogText(std::string text);

// Formats with printf-style specifiers plus "%@" and writes the line.
template <class... Args>
void QMALog(std::string_view format, Args&&... args) {
  QMALogText(foundation::stringWithFormat(format, std::forward<Args>(args)...));
}

// Text from outside (a page's message, a server's class name) as a log line may quote it:
// at most `limit` bytes, cut on a character boundary and marked "..." when cut, with line
// breaks and other control characters shown as spaces, so one quote stays one short line.
inline constexpr std::size_t kQMALogQuoteLimit = 100;
std::string QMALogQuote(std::string_view text, std::size_t limit = kQMALogQuoteLimit);

class QMALogger {
 public:
  static const std::shared_ptr<QMALogger>& sharedInstance();
  // Writes "<Quillon> " followed by the message.
  void logPublicMessage(const std::string& message);
};
