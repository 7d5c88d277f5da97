#pragma once
// A view whose content moves under its bounds: the content offset is the bounds' origin,
// so subviews placed in content coordinates scroll with it. It clips to its bounds.
// Main thread only, like the views.

#include "platform/uikit/view.h"

namespace uikit {

class ScrollView : public View {
 public:
  ScrollView() { setClipsToBounds(true); }
  explicit ScrollView(Rect frame) : View(frame) { setClipsToBounds(true); }
  std::string className() const override { return "ScrollView"; }

  Point contentOffset() const { return bounds().origin; }
  void setContentOffset(Point offset) { setBounds({offset, bounds().size}); }
  Size contentSize() const { return contentSize_; }
  void setContentSize(Size size) { contentSize_ = size; }

 private:
  Size contentSize_;
};

}  // namespace uikit
