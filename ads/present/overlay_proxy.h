#pragma once
// A system controller the ad shows (a store page, a composer, the calendar event editor)
// cannot take part in the slot's intermission itself: its QMAOverlayProxy does, so the
// host's will-present and dismiss callbacks stay paired. The proxy is attached to its
// controller, which owns it (a controller has at most one); the proxy refers back to it
// weakly. It is never given back when the application returns to the foreground.
//
// Threads: main thread only (checked).

#include <memory>

#include "ads/present/intermission.h"
#include "ads/present/presentation_slot.h"
#include "platform/uikit/view_controller.h"

class QMAOpener;

class QMAOverlayProxy : public QMAIntermitting, public std::enable_shared_from_this<QMAOverlayProxy> {
 public:
  // The proxy attached to the controller, or null.
  static std::shared_ptr<QMAOverlayProxy> overlayProxyForViewController(
      const std::shared_ptr<uikit::ViewController>& viewController);
  // Null without a controller or when the controller has a proxy already.
  static std::shared_ptr<QMAOverlayProxy> initWithViewController(
      const std::shared_ptr<uikit::ViewController>& viewController);

  // Joins the slot's intermission (a new one when the slot has none) and has `viewController`
  // present the wrapped controller. Nothing when the proxy is on screen already, and
  // nothing at all (no intermission joined, no completion) without a controller to present
  // from or when the platform would refuse to present from it.
  void presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>& viewController,
                                           Completion completion) override;
  bool shouldDismissOnApplicationEnteringForeground() override { return false; }
  // The wrapped controller's presenting controller dismisses it; once it has gone: the
  // completion, then the intermission is left.
  void relinquishScreenWithCompletion(Completion completion) override;
  std::shared_ptr<QMAIntermission> intermission() const override { return intermission_; }

  std::shared_ptr<uikit::ViewController> viewController() const { return viewController_.lock(); }
  std::shared_ptr<QMAPresentationSlot> slot() const { return slot_.lock(); }
  void setSlot(std::weak_ptr<QMAPresentationSlot> slot) { slot_ = std::move(slot); }
  const std::shared_ptr<QMAOpener>& opener() const { return opener_; }
  void setOpener(std::shared_ptr<QMAOpener> opener) { opener_ = std::move(opener); }

 private:
  QMAOverlayProxy() = default;
  void leaveIntermission();

  std::shared_ptr<QMAIntermission> intermission_;
  std::weak_ptr<uikit::ViewController> viewController_;
  std::weak_ptr<QMAPresentationSlot> slot_;
  std::shared_ptr<QMAOpener> opener_;
};
