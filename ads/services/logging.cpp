#include "ads/services/logging.h"

#include "platform/foundation/log.h"

const dispatch::QueuePtr& QMALogQueue() {
  static const dispatch::QueuePtr queue = dispatch::Queue::createSerial("com.quillon.pelmark.logging");
  return queue;
}

void QMALogText(std::string text) {
  QMALogQueue()->async([text = std::move(text)] { foundation::systemLog(text); });
}

std::string QMALogQuote(std::string_view text, std::size_t limit) {
  std::size_t end = text.size();
  if (end > limit) {
    end = limit;
    // Back to the start of a UTF-8 character: never half a character in a line.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  }
  std::string quoted(text.substr(0, end));
  for (char& c : quoted)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  if (end < text.size()) quoted += "...";
  return quoted;
}

const std::shared_ptr<QMALogger>& QMALogger::sharedInstance() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* logger = new std::shared_ptr<QMALogger>(std::make_shared<QMALogger>());
  return *logger;
}

void QMALogger::logPublicMessage(const std::string& message) { QMALog("<Quillon> %@", message); }
