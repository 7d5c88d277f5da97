#include "platform/uikit/device.h"

#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/notification_center.h"
#include "platform/uikit/application.h"
#include "platform/uikit/view_controller.h"

namespace uikit {

std::shared_ptr<Device> Device::currentDevice() {
  // Never destroyed, as the application: observers may still hold it while the process exits.
  static const auto* device = new std::shared_ptr<Device>(std::make_shared<Device>());
  return *device;
}

void Device::setOrientation(DeviceOrientation orientation) {
  WV_DCHECK_MAIN_THREAD();
  const long value = static_cast<long>(orientation);
  if (value < 0 || value > 6 || orientation == orientation_) return;
  orientation_ = orientation;
  foundation::NotificationCenter::defaultCenter().postNotificationName(kUIDeviceOrientationDidChangeNotification,
                                                                       shared_from_this());
  Application::sharedApplication()->followDeviceOrientation();
}

// ---- the controllers' side of a turn

long ViewController::interfaceOrientation() const { return Application::sharedApplication()->statusBarOrientation(); }

void ViewController::interfaceDidRotateFromOrientation(long fromInterfaceOrientation) {
  auto keep = shared_from_this();
  // Only what is on screen hears it; what it presents may be on screen all the same.
  if (appeared_) didRotateFromInterfaceOrientation(fromInterfaceOrientation);
  for (const auto& child : childrenShown()) child->interfaceDidRotateFromOrientation(fromInterfaceOrientation);
  if (auto presented = presented_) presented->interfaceDidRotateFromOrientation(fromInterfaceOrientation);
}

}  // namespace uikit
