#include "platform/eventkit/event_edit_view_controller.h"

namespace eventkit {

std::shared_ptr<EKEventEditViewController> EKEventEditViewController::init() {
  return std::shared_ptr<EKEventEditViewController>(new EKEventEditViewController());
}

void EKEventEditViewController::completeWithAction(EKEventEditViewAction action) {
  if (action == EKEventEditViewActionSaved && event_) EventStore::saveEvent(*event_);
  auto self = std::static_pointer_cast<EKEventEditViewController>(shared_from_this());
  if (auto d = editViewDelegate()) d->eventEditViewControllerDidCompleteWithAction(self, action);
}

}  // namespace eventkit
