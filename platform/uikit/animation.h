#pragma once
// View animations on the headless screen: nothing is drawn between the frames, so the
// animated properties take their final values at once; the completion runs on the main
// queue once the duration has passed on the process clock (tests drive it by hand), as it
// would when the animation ends on a device.
//
// Threads: main thread.

#include <functional>

namespace uikit {

// How long the status bar takes to turn with the interface, in seconds.
inline constexpr double kStatusBarOrientationAnimationDuration = 0.3;

void animateWithDuration(double duration, const std::function<void()>& animations,
                         std::function<void(bool finished)> completion);

}  // namespace uikit
