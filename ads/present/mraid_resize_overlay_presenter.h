#pragma once
// The MRAID resize presenter: the transparent overlay presenter that shows a creative's
// own ad view at the size and place its resize properties ask for, over the host, which
// stays visible and usable around it. It judges the properties against the screen (the
// application frame) before anything moves, keeps the content inside the screen when the
// creative does not allow it to leave, places it again after every turn of the interface,
// and closes the resized ad when the content no longer fits in place.
//
// The properties in force only change to a valid set: a rejected set is reported to the
// creative and the ad stays as it was.
//
// Threads: main thread only (checked).

#include <memory>

#include "ads/model/ad_collaborators.h"
#include "ads/present/overlay_presenters.h"
#include "ads/render/mraid_resize_properties.h"

class QMAMRAIDResizeOverlayPresenter : public QMATransparentOverlayPresenter {
 public:
  // The re-check of a frame once it is in place.
  static constexpr double kRepositionCheckDelay = 0.1;

  // Offsets are given in `referenceView`'s coordinates (the ad view's superview when the
  // resize began). Null without a reference view.
  static std::shared_ptr<QMAMRAIDResizeOverlayPresenter> initWithReferenceView(
      const std::shared_ptr<uikit::View>& referenceView);

  const std::shared_ptr<QMAMRAIDResizeProperties>& resizeProperties() const { return resizeProperties_; }
  // Stores valid properties and answers YES; otherwise reports "Received invalid resize
  // properties ..." / "setResizeProperties" to the event handler, keeps what it had and
  // answers NO (null properties are invalid too).
  bool setResizeProperties(const std::shared_ptr<QMAMRAIDResizeProperties>& properties);
  bool resizePropertiesAreValidRelativeToView(const QMAMRAIDResizeProperties& properties,
                                              const std::shared_ptr<uikit::View>& view) const;
  // The content's frame in the crop view's coordinates.
  uikit::Rect contentFrame() const;
  // Moves the presented view to the content frame and, once it is there, checks that it
  // still fits: content that no longer does closes the resized ad after an "onError".
  void repositionContentIfNeeded();

  bool dismissToDefaultState() const { return dismissToDefaultState_; }
  void setDismissToDefaultState(bool value) { dismissToDefaultState_ = value; }
  std::shared_ptr<QMAMRAIDEventHandling> MRAIDEventHandler() const { return MRAIDEventHandler_.lock(); }
  void setMRAIDEventHandler(std::weak_ptr<QMAMRAIDEventHandling> handler) { MRAIDEventHandler_ = std::move(handler); }
  const std::shared_ptr<uikit::View>& referenceView() const { return referenceView_; }

  // No properties: NO without a word. Properties that no longer fit: an "onError" and NO.
  bool isReadyToPresent() override;
  void composeTransparentInterstitialViewsForPresentation() override;
  void updateTransparentInterstitialOrientation() override;

 private:
  QMAMRAIDResizeOverlayPresenter() = default;
  void reportError(const std::string& message, const std::string& action) const;

  std::shared_ptr<QMAMRAIDResizeProperties> resizeProperties_;
  bool dismissToDefaultState_ = true;
  std::weak_ptr<QMAMRAIDEventHandling> MRAIDEventHandler_;
  std::shared_ptr<uikit::View> referenceView_;
};
