#pragma once
// The transparent overlay presenter: it lays the full-screen controller's view straight
// into the application's window, above everything, on a clear background, so the host
// stays visible through the transparent parts of the creative. Its own geometry: a square
// pivot view (turned to the interface orientation on systems before 8.0), a crop view of
// the application frame's size inside it holding the presented view, a slide-in from the
// bottom (0.4 s) and a fade-out (0.2 s). It gives the screen back by itself when the slot's
// banner leaves its window. QMAUnclickableView, the class of the pivot and crop views,
// lets touches on their empty parts through to the application beneath.
//
// A transparent presenter serves one presentation.
//
// Threads: main thread only (checked).

#include <memory>
#include <optional>

#include "ads/present/view_controller.h"
#include "platform/foundation/notification_center.h"
#include "platform/uikit/view.h"

class QMAUnclickableView : public uikit::View {
 public:
  using uikit::View::View;
  std::string className() const override { return "QMAUnclickableView"; }
  // A touch on the view's own empty area reaches whatever lies below it.
  std::shared_ptr<uikit::View> hitTest(uikit::Point p) override;
};

// The notification a slot posts when its banner leaves every window (object: the slot).
inline constexpr const char* kQMASlotDidLeaveWindowNotificationName = "QMASlotDidLeaveWindowNotification";

class QMATransparentOverlayPresenter : public QMAOverlayPresenting,
                                       public std::enable_shared_from_this<QMATransparentOverlayPresenter> {
 public:
  static constexpr double kSlideInDuration = 0.4;
  static constexpr double kFadeOutDuration = 0.2;

  static std::shared_ptr<QMATransparentOverlayPresenter> init();
  ~QMATransparentOverlayPresenter() override;

  void presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>& viewController,
                                           Completion completion) override;
  // The window's top-most presented controller.
  std::shared_ptr<uikit::ViewController> presentationViewController() override;
  void dismissWithCompletionHandler(Completion completion) override;
  std::shared_ptr<QMAViewController> presentedViewController() const override { return presented_.lock(); }
  void setPresentedViewController(std::weak_ptr<QMAViewController> viewController) override {
    presented_ = std::move(viewController);
  }
  bool isReadyToPresent() override { return presentedViewController() != nullptr; }

  static uikit::Rect frameWithSizeCenteredInFrame(uikit::Size size, uikit::Rect frame);
  // The pivot's rotation in radians for an interface orientation: 0 from system 8.0 on.
  static double rotationForOrientation(long orientation);
  uikit::Rect pivotedApplicationFrameForOrientation(long orientation);
  virtual void composeTransparentInterstitialViewsForPresentation();
  virtual void updateTransparentInterstitialOrientation();
  void animateTransparentInterstitialPresentationWithCompletionHandler(Completion completion);

  const std::shared_ptr<QMAUnclickableView>& pivotView() const { return pivotView_; }
  const std::shared_ptr<QMAUnclickableView>& cropView() const { return cropView_; }
  double pivotRotation() const { return pivotRotation_; }
  // Where the last slide-in started, relative to the pivot's place.
  uikit::Point slideInOffset() const { return slideInOffset_; }
  bool isObservingOrientation() const { return orientationChangeListener_.has_value(); }
  bool isObservingPlacement() const { return placementDisappearanceObserver_.has_value(); }

 protected:
  QMATransparentOverlayPresenter() = default;
  // The pivot and crop views, for the makers of this class and its subclasses.
  void makeViews();

 private:
  void removeObservers();

  std::weak_ptr<QMAViewController> presented_;
  std::shared_ptr<QMAUnclickableView> pivotView_;
  std::shared_ptr<QMAUnclickableView> cropView_;
  double pivotRotation_ = 0;
  uikit::Point slideInOffset_;
  std::optional<foundation::NotificationCenter::ObserverToken> orientationChangeListener_;
  std::optional<foundation::NotificationCenter::ObserverToken> placementDisappearanceObserver_;
};
