#pragma once
// The swipe-to-store-page set-up an ad may carry: the store item, the rectangles of the
// banner where a swipe may begin, the metadata echoed to the creative, and the duration
// of the transition. Made from the ad dictionary's "swipe_to_viewcontroller" or the
// header "x-qvra-swipe-to-view-controller"; the swipe itself is presentation work. Made by
// the owner of its ad on that owner's thread; the direction and drag flag change on the
// main thread.

#include <memory>
#include <optional>
#include <vector>

#include "ads/services/geometry.h"
#include "platform/foundation/value.h"

class QMASwipeToViewControllerConfigurations {
 public:
  // Not supported: nullptr.
  static std::shared_ptr<QMASwipeToViewControllerConfigurations> init() { return nullptr; }
  // Nullptr below OS 7.0.0. Values of another type than expected count as missing.
  static std::shared_ptr<QMASwipeToViewControllerConfigurations> initWithSwipeConfigurations(
      const foundation::Dictionary& configurations);

  // A JSON number; nullopt when none (a string counts as none).
  const std::optional<foundation::Value>& swipeableInAppStoreProductID() const { return productID_; }
  // The valid rectangles in order; nullopt when none is valid.
  const std::optional<std::vector<QMARect>>& swipeableRectangles() const { return rectangles_; }
  long swipeDirection() const { return swipeDirection_; }
  void setSwipeDirection(long direction) { swipeDirection_ = direction; }
  bool isAdDraggable() const { return adDraggable_; }
  void setAdDraggable(bool draggable) { adDraggable_ = draggable; }
  // Always above 0 (1.0 unless the configuration gives a positive number).
  double swipeAnimationTransitionDuration() const { return duration_; }
  const std::optional<foundation::Dictionary>& swipeEventCreativeMetadata() const { return metadata_; }

 private:
  QMASwipeToViewControllerConfigurations() = default;
  std::optional<foundation::Value> productID_;
  std::optional<std::vector<QMARect>> rectangles_;
  long swipeDirection_ = 0;
  bool adDraggable_ = false;
  double duration_ = 1.0;
  std::optional<foundation::Dictionary> metadata_;
};
