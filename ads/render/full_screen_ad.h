#pragma once
// What a page's "close" asks of the full-screen ad controller its ad view is shown in:
// give the screen back. Presentation's full-screen ad view controller serves it; a banner's
// view controller (the host's own) does not, and "close" then does nothing.
//
// Threads: main thread.

#include <functional>

class QMAFullScreenAd {
 public:
  virtual ~QMAFullScreenAd() = default;
  // The completion runs once the controller has left the screen.
  virtual void relinquishScreenWithCompletion(std::function<void()> completion) = 0;
};
