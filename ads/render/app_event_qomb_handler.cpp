#include "ads/render/app_event_qomb_handler.h"

#include "platform/dispatch/thread_checks.h"

std::shared_ptr<QMAAppEventQOMBHandler> QMAAppEventQOMBHandler::initWithSlot(
    const std::shared_ptr<QMARenderingSlot>& slot) {
  if (!slot) return nullptr;
  auto handler = std::make_shared<QMAAppEventQOMBHandler>();
  handler->slot_ = slot;
  return handler;
}

const QMAActionBlockDictionary* QMAAppEventQOMBHandler::actionBlockDictionary() const {
  static const QMAActionBlockDictionary table = {
      {"appEvent",
       [](QMAQOMBHandler& h, const QMAQOMBArguments& a) {
         static_cast<QMAAppEventQOMBHandler&>(h).didReceiveAppEventNotification(a);
       }},
  };
  return &table;
}

void QMAAppEventQOMBHandler::didReceiveAppEventNotification(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note) return;
  const auto name = arguments.note->parameter("name");
  if (!name) return;
  if (auto s = slot()) s->didReceiveAppEventWithInfo(*name, arguments.note->parameter("info"));
}
