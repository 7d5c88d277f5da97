#pragma once
// The banner creative's switch of the swipe to the store page: "enableSwipeToViewController"
// ("swipe_direction" "top_to_bottom" or "bottom_to_top", "ad_draggable" "1") sets the
// current ad's swipe direction and drag flag, then has the slot switch the swipe on;
// "disableSwipeToViewController" has the slot switch it off, then clears both. The slot is
// held weakly: a message after it has gone does nothing.
//
// Threads: main thread, where the router runs actions.

#include <memory>

#include "ads/render/qomb.h"
#include "ads/render/rendering_slot.h"

class QMASwipeToViewControllerQOMBHandler : public QMAQOMBHandler {
 public:
  static std::shared_ptr<QMASwipeToViewControllerQOMBHandler> initWithSlot(std::weak_ptr<QMARenderingSlot> slot);
  const QMAActionBlockDictionary* actionBlockDictionary() const override;
  std::shared_ptr<QMARenderingSlot> slot() const { return slot_.lock(); }

  void enableSwipeToViewController(const QMAQOMBArguments& arguments);
  void disableSwipeToViewController(const QMAQOMBArguments& arguments);

 private:
  std::weak_ptr<QMARenderingSlot> slot_;
};
