#include "ads/render/ad_view_opener.h"

#include "ads/model/ad_collaborators.h"
#include "ads/render/rendering_slot.h"

void QMAAdViewOpener::reportMRAIDError(const std::string& message, const std::string& action) const {
  if (auto handling = std::dynamic_pointer_cast<QMAMRAIDEventHandling>(slot()))
    handling->handleErrorAction(message, action);
}

void QMAAdViewOpener::openWebAppWithResizeProperties(const std::shared_ptr<QMAMRAIDResizeProperties>&) {
  reportMRAIDError("Resizing is not available", "resize");
}

void QMAAdViewOpener::openCalendarWithDictionary(const foundation::Dictionary&) {
  reportMRAIDError("Calendar events are not available", "createCalendarEvent");
}

bool QMAAdViewOpener::setMRAIDSupportedInterfaceOrientations(std::uint64_t) { return false; }
