#include "ads/services/logging.h"

#include "platform/foundation/log.h"

const dispatch::QueuePtr& QMALogQueue() {
  static const dispatch::QueuePtr queue = dispatch::Queue::createSerial("com.quillon.pelmark.logging");
  return queue;
}

void QMALogText(std::string text) {
  QMALogQueue()->async([text = std::move(text)] { foundation::systemLog(text); });
}

const std::shared_ptr<QMALogger>& QMALogger::sharedInstance() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* logger = new std::shared_ptr<QMALogger>(std::make_shared<QMALogger>());
  return *logger;
}

void QMALogger::logPublicMessage(const std::string& message) { QMALog("<Quillon> %@", message); }
