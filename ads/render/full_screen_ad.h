#pragma once
// What a page's "close" asks of the full-screen ad controller its ad view is shown in:
// end the takeover it is part of. Presentation's full-screen ad view controller serves it; a banner's
// view controller (the host's own) does not, and "close" then does nothing.
//
// Threads: main thread.

#include <functional>

class QMAFullScreenAd {
 public:
  virtual ~QMAFullScreenAd() = default;
  // The completion runs once the controller has left the screen.
  virtual void relinquishScreenWithCompletion(std::function<void()> completion) = 0;
  // The creative closes its ad: the whole takeover it is part of ends (the screen it
  // opened over a resize or an expand with it), not only this controller.
  virtual void closeFullScreenAd() { relinquishScreenWithCompletion(nullptr); }
};
