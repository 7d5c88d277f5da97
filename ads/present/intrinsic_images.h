#pragma once
// The built-in button artwork: the in-app browser's back and forward arrows, the close mark
// of full-screen ads and the invisible close image that keeps a tappable close region for
// creatives with their own close control. Each is made once, on first request, for the
// screen's density (single-density pictures on a density-1 screen, double-density ones
// otherwise), and kept for the life of the process. The pictures are our own
// (scripts/make-intrinsic-images draws them).
//
// Threads: main thread.

#include <memory>
#include <string>

#include "platform/uikit/image.h"

class QMAIntrinsicImages {
 public:
  static QMAIntrinsicImages& sharedInstance();

  // PNG bytes in standard base64, at the screen's density; null when they do not decode.
  static std::shared_ptr<uikit::Image> imageWithBase64EncodedString(const std::string& text);
  // The first on a screen of density exactly 1, else the second.
  static const std::string& chooseImageOrDoubleDensityImage(const std::string& single, const std::string& dual);

  std::shared_ptr<uikit::Image> browserBackButton();     // 27 x 27 points at density 1 and 2
  std::shared_ptr<uikit::Image> browserForwardButton();  // 27 x 27
  std::shared_ptr<uikit::Image> closeButton();           // 25 x 25
  // Fully transparent, 10 x 10 points at the screen's scale.
  std::shared_ptr<uikit::Image> transparentImage();

 private:
  std::shared_ptr<uikit::Image> browserBackButton_;
  std::shared_ptr<uikit::Image> browserForwardButton_;
  std::shared_ptr<uikit::Image> closeButton_;
  std::shared_ptr<uikit::Image> transparentImage_;
};
