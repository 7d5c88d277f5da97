#pragma once
// The device as its sensors see it: the orientation the phone is held in. Turning the
// device is the system's doing (a driver's, headless); the application's interface
// follows it where the application and the controller on screen allow
// (Application::followDeviceOrientation). Main thread.

#include <memory>

namespace uikit {

// The numbers of the platform. Landscape left is the device turned a quarter clockwise
// (the home button on the right), which puts the interface in its landscape right (3).
enum class DeviceOrientation : long {
  Unknown = 0,
  Portrait = 1,
  PortraitUpsideDown = 2,
  LandscapeLeft = 3,
  LandscapeRight = 4,
  FaceUp = 5,
  FaceDown = 6,
};

// Posted on the default notification centre, with the device as object, when the device's
// orientation changes; the interface turns after it.
inline constexpr const char* kUIDeviceOrientationDidChangeNotification = "UIDeviceOrientationDidChangeNotification";

class Device : public std::enable_shared_from_this<Device> {
 public:
  static std::shared_ptr<Device> currentDevice();

  // Portrait until the device is turned.
  DeviceOrientation orientation() const { return orientation_; }
  // The device is turned: records the orientation, posts
  // kUIDeviceOrientationDidChangeNotification, and lets the interface follow. Nothing when
  // it is held that way already; an orientation outside 0 to 6 is ignored.
  void setOrientation(DeviceOrientation orientation);

 private:
  DeviceOrientation orientation_ = DeviceOrientation::Portrait;
};

}  // namespace uikit
