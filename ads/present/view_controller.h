#pragma once
// The full-screen ad view controller (QMAViewController): every screen the ad component
// lays over the host is one. Its presenter (QMAOverlayPresenting; the modal one by default)
// puts it on screen; it takes part in its slot's intermission while it holds the screen,
// announces the takeover and the return with the two full-screen notifications every slot
// listens to, holds itself alive while shown, and when it goes away records on the ad's
// statistics when the user came back.
//
// QMAModalOverlayPresenter presents the controller with the platform's modal presentation
// and hides the status bar while it is up.
//
// Threads: main thread only (checked).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "ads/present/intermission.h"
#include "ads/present/presentation_slot.h"
#include "ads/render/full_screen_ad.h"
#include "platform/foundation/notification_center.h"
#include "platform/uikit/view_controller.h"

class QMAViewController;

// What a presenter offers.
class QMAOverlayPresenting {
 public:
  using Completion = std::function<void()>;
  virtual ~QMAOverlayPresenting() = default;
  // Puts the presented controller on screen from `viewController`; the completion runs
  // once it is there. Throws QMAPresentationRefused when the platform refuses.
  virtual void presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>& viewController,
                                                   Completion completion) = 0;
  // The controller that presents whatever the presented controller itself presents.
  virtual std::shared_ptr<uikit::ViewController> presentationViewController() = 0;
  virtual void dismissWithCompletionHandler(Completion completion) = 0;
  virtual std::shared_ptr<QMAViewController> presentedViewController() const = 0;
  virtual void setPresentedViewController(std::weak_ptr<QMAViewController> viewController) = 0;
  virtual bool isReadyToPresent() = 0;
  // Whether the platform would put the presented controller on screen from
  // `viewController` now; a presenter that cannot tell answers YES.
  virtual bool canPresentFromViewController(const std::shared_ptr<uikit::ViewController>& viewController) {
    return true;
  }
};

// The platform would not present: what it said.
struct QMAPresentationRefused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The notifications the full-screen presenters post, with the controller as object.
inline constexpr const char* kQMAAdModalViewControllerWillPresentFullScreen =
    "kAdModalViewControllerWillPresentFullScreen";
inline constexpr const char* kQMAAdModalViewControllerDidDismissFullScreen =
    "kAdModalViewControllerDidDismissFullScreen";

// Interface orientation masks.
inline constexpr std::uint64_t kQMAInterfaceOrientationMaskAll = 30;

class QMAViewController : public uikit::ViewController, public QMAIntermitting, public QMAFullScreenAd {
 public:
  using Completion = QMAIntermitting::Completion;
  static std::shared_ptr<QMAViewController> init();
  ~QMAViewController() override;
  std::string className() const override { return "QMAViewController"; }

  std::uint64_t supportedInterfaceOrientations() const override { return supportedInterfaceOrientations_; }
  // Any mask, 0 included.
  void setSupportedInterfaceOrientations(std::uint64_t mask) { supportedInterfaceOrientations_ = mask; }
  // Only a mask that is not 0.
  void setSupportedOrientations(std::uint64_t mask);
  // The orientations its creative asked for (MRAID orientation properties), also before the
  // controller is presented: whoever presents it keeps them over the ad's own.
  const std::optional<std::uint64_t>& creativeSupportedInterfaceOrientations() const {
    return creativeSupportedInterfaceOrientations_;
  }
  void setCreativeSupportedInterfaceOrientations(std::uint64_t mask) {
    creativeSupportedInterfaceOrientations_ = mask;
    supportedInterfaceOrientations_ = mask;
  }
  std::shared_ptr<QMAPresentationSlot> slot() const { return slot_.lock(); }
  void setSlot(std::weak_ptr<QMAPresentationSlot> slot) { slot_ = std::move(slot); }
  const std::shared_ptr<QMAOverlayPresenting>& presenter() const { return presenter_; }
  // Keeps the presenter and makes itself its presented controller.
  void setPresenter(std::shared_ptr<QMAOverlayPresenting> presenter);
  std::shared_ptr<QMAIntermission> intermission() const override { return intermission_; }
  bool isHoldingItself() const { return retainCycle_ != nullptr; }
  const Completion& dismissalCompletion() const { return dismissalCompletion_; }
  void setDismissalCompletion(Completion completion) { dismissalCompletion_ = std::move(completion); }

  // Takes the screen: joins the slot's intermission (the first participant makes one),
  // posts the will-present notification and has the presenter present it. Nothing
  // without a controller to present from (a public log line) or a ready presenter.
  // Throws QMAPresentationRefused, before anything is announced, when the platform would
  // not present it from that controller (it presents something else already).
  void presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>& viewController,
                                           Completion completion) override;
  // Whether presenting from `viewController` now would throw QMAPresentationRefused: what a
  // caller asks before it counts the presentation anywhere (an impression of an ad the
  // platform never shows is no impression).
  bool presentationWouldBeRefusedFromViewController(const std::shared_ptr<uikit::ViewController>& viewController);
  void relinquishScreenWithCompletion(Completion completion) override;
  bool shouldDismissOnApplicationEnteringForeground() override { return true; }
  // The whole takeover this controller is part of ends (its intermission's end): what the
  // ad's close button, the creative's "close" and its web process ending ask for. A
  // controller in no takeover gives its own screen back.
  void endTakeover();
  void closeFullScreenAd() override { endTakeover(); }

  // Steps the subclasses extend (calling these).
  virtual void finishAppearing();
  virtual void finishDismissal();
  virtual void viewChangedToOrientation(long orientation) {}

  bool shouldAutorotate() const { return true; }
  bool prefersStatusBarHidden() const { return true; }
  void viewDidLoad() override;
  // A controller the platform presents or dismisses without the two operations above
  // still joins and leaves its intermission.
  void viewWillAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void viewDidDisappear(bool animated) override;

  // What this controller presents goes through its presenter's presentation controller
  // (so a controller laid over the window presents from the application's top one).
  bool presentViewController(const std::shared_ptr<uikit::ViewController>& vc, bool animated,
                             uikit::ViewController::Completion completion) override;
  // Without a presenter the platform's own dismissal runs, so the completion always runs.
  bool dismissViewControllerAnimated(bool animated, uikit::ViewController::Completion completion) override;

 protected:
  QMAViewController() = default;
  void commonSetUp() { supportedInterfaceOrientations_ = kQMAInterfaceOrientationMaskAll; }
  std::shared_ptr<QMAViewController> self() { return std::static_pointer_cast<QMAViewController>(shared_from_this()); }
  void joinIntermission();
  bool isRelinquishing() const { return relinquishing_; }
  // Sets "tlanding_page_load_dismiss" and appends the last click and this return to
  // "tclick" on the slot's ad's statistics.
  void recordDismissal();

 private:
  std::uint64_t supportedInterfaceOrientations_ = kQMAInterfaceOrientationMaskAll;
  std::optional<std::uint64_t> creativeSupportedInterfaceOrientations_;
  std::weak_ptr<QMAPresentationSlot> slot_;
  std::shared_ptr<QMAOverlayPresenting> presenter_;
  std::shared_ptr<QMAIntermission> intermission_;
  std::shared_ptr<QMAViewController> retainCycle_;
  Completion dismissalCompletion_;
  bool relinquishing_ = false;
};

// Whether `from` (or, for a full-screen ad, its presenter's presentation controller, which
// it passes presentations on to) would present `vc` now.
bool QMACanPresentViewControllerFrom(const std::shared_ptr<uikit::ViewController>& from,
                                     const std::shared_ptr<uikit::ViewController>& vc);

class QMAModalOverlayPresenter : public QMAOverlayPresenting,
                                 public std::enable_shared_from_this<QMAModalOverlayPresenter> {
 public:
  static std::shared_ptr<QMAModalOverlayPresenter> init();
  ~QMAModalOverlayPresenter() override;

  void presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>& viewController,
                                           Completion completion) override;
  std::shared_ptr<uikit::ViewController> presentationViewController() override { return presentedViewController(); }
  void dismissWithCompletionHandler(Completion completion) override;
  std::shared_ptr<QMAViewController> presentedViewController() const override { return presented_.lock(); }
  void setPresentedViewController(std::weak_ptr<QMAViewController> viewController) override {
    presented_ = std::move(viewController);
  }
  bool isReadyToPresent() override { return presentedViewController() != nullptr; }
  bool canPresentFromViewController(const std::shared_ptr<uikit::ViewController>& viewController) override;
  // For a full-screen presentation style: tells the intermission that the status bar is overridden, then hides it.
  void hideStatusBar();
  void appDidEnterForeground() { hideStatusBar(); }

 private:
  QMAModalOverlayPresenter() = default;
  void removeForegroundObserver();

  std::weak_ptr<QMAViewController> presented_;
  std::optional<foundation::NotificationCenter::ObserverToken> foregroundObserver_;
};
