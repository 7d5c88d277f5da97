#pragma once
// Full-screen ads that show web content: QMAAdAppViewController gives one ad web view the
// whole screen with a close button (32 x 32 in the top-left corner, or an MRAID creative's
// 50 x 50 close area at its chosen position), wires the web-app delegate of its ad view on
// the first appearance and loads what it was given, and tells the slot and the MRAID
// creative when the ad view appears and when it disappears with the controller (a slot's
// ad view that stays on screen, a banner given back or uncovered, goes on being watched by
// the slot's viewability monitor). QMAInterstitialViewController shows a
// loaded interstitial slot's own ad view: the public interstitial makes it and presents it
// once; while it is up it keeps the interstitial alive and tells the creative "onshow" and
// "onhide". QMASupplementalAdAppViewController shows a second web app a creative opens;
// QMAExpandedAdAppViewController borrows a banner's live ad view for an MRAID expand and
// leaves a still picture of the banner in its place until it gives the ad view back.
//
// Threads: main thread only (checked).

#include <memory>
#include <optional>
#include <string>

#include "ads/present/view_controller.h"
#include "ads/render/ad_app_qomb_handler.h"
#include "ads/render/ad_view.h"
#include "platform/uikit/controls.h"

class QMAAdAppAdViewDelegate;

class QMAAdAppViewController : public QMAViewController, public QMAAdAppScreen {
 public:
  static constexpr double kCloseButtonSide = 32;
  static constexpr const char* kCloseButtonAccessibilityLabel = "Close Advertisement";

  // With no ad view, a new one whose view controller is the new controller.
  static std::shared_ptr<QMAAdAppViewController> initWithAdView(const std::shared_ptr<QMAAdView>& adView);
  static std::shared_ptr<QMAAdAppViewController> init() { return initWithAdView(nullptr); }
  // Lets the ad view go of this controller and its delegate, and the opener of the slot.
  ~QMAAdAppViewController() override;
  std::string className() const override { return "QMAAdAppViewController"; }

  const std::shared_ptr<QMAAdView>& adView() const { return adView_; }
  const std::shared_ptr<QMAAdAppAdViewDelegate>& adViewDelegate() const { return adViewDelegate_; }
  const std::shared_ptr<uikit::Button>& closeButton() const { return closeButton_; }
  bool useCustomClose() const { return useCustomClose_; }
  // The creative draws its own close control: the close button leaves the view (an MRAID
  // creative keeps an invisible close area).
  void setUseCustomClose(bool use) override;
  // The transparent overlay presenter, or none (the modal one is made at presentation).
  void setTransparentBackgroundPresentation(bool transparent) override;
  // The MRAID close position (codes of QMAMRAIDResizeProperties).
  std::int64_t customClosePosition() const { return customClosePosition_; }
  void setCustomClosePosition(std::int64_t position);
  // The flag of the ad view's current delegate.
  bool isFileAccessAllowed() const;
  void setFileAccessAllowed(bool allowed);

  // The whole takeover ends, not only this controller: a web app opened over a resized ad
  // takes the resize with it.
  void closeButtonPressed() { endTakeover(); }
  // Whether the page has loaded once.
  virtual bool isLoaded() const;
  // YES with custom close; NO once after the user left for another application through
  // the loaded ad; otherwise YES.
  bool shouldDismissOnApplicationEnteringForeground() override;

  // Loaded into the ad view now, or on the first appearance.
  void load(const std::optional<net::URL>& url);
  void loadHTMLBaseURL(const std::optional<std::string>& html, const std::optional<net::URL>& baseURL);

  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void viewChangedToOrientation(long orientation) override;
  // The page hears the new orientation, without an event.
  void didRotateFromInterfaceOrientation(long fromInterfaceOrientation) override;

 protected:
  void positionMRAIDCloseButton();
  // Whether the slot's ad view is in a window outside this controller's view, so that it
  // stays on screen when this controller goes.
  bool slotAdViewStaysOnScreenWithout(const QMAPresentationSlot& slot);
  bool isMRAIDAd() const;
  QMAAdAppViewController() = default;
  void initWithAdViewSteps(const std::shared_ptr<QMAAdView>& adView);
  // On the first appearance: the ad view fills the view under the close button, gets its
  // web-app delegate, and loads what waits.
  virtual void configureView();
  void updateCloseButtonVisibilityAndImage();
  std::shared_ptr<QMAAdView> adView_;

 private:
  std::shared_ptr<QMAAdAppAdViewDelegate> adViewDelegate_;
  std::shared_ptr<uikit::Button> closeButton_;
  bool useCustomClose_ = false;
  std::int64_t customClosePosition_ = 0;
  bool hasAppeared_ = false;
  std::optional<net::URL> pendingURL_;
  std::optional<std::string> pendingHTML_;
  std::optional<net::URL> pendingBaseURL_;
};

class QMAInterstitialViewController : public QMAAdAppViewController {
 public:
  // Shows the slot's ad view; null without a slot.
  static std::shared_ptr<QMAInterstitialViewController> initWithSlot(const std::shared_ptr<QMAPresentationSlot>& slot);
  std::string className() const override { return "QMAInterstitialViewController"; }

  // Keeps the slot's public interstitial, then presents as every full-screen ad does.
  void presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>& viewController,
                                           Completion completion) override;
  bool isLoaded() const override;
  void finishAppearing() override;
  void relinquishScreenWithCompletion(Completion completion) override;
  void finishDismissal() override;

 private:
  QMAInterstitialViewController() = default;
  std::shared_ptr<QMAInterstitial> interstitial_;
};

class QMASupplementalAdAppViewController : public QMAAdAppViewController {
 public:
  static std::shared_ptr<QMASupplementalAdAppViewController> init();
  std::string className() const override { return "QMASupplementalAdAppViewController"; }

  void finishAppearing() override;
  void finishDismissal() override;
  void viewDidAppear(bool animated) override;
  void viewDidDisappear(bool animated) override;

 private:
  QMASupplementalAdAppViewController() = default;
};

class QMAExpandedAdAppViewController : public QMAAdAppViewController {
 public:
  // Null without an ad view.
  static std::shared_ptr<QMAExpandedAdAppViewController> initWithAdView(const std::shared_ptr<QMAAdView>& adView);
  // Takes the picture of the banner away.
  ~QMAExpandedAdAppViewController() override;
  std::string className() const override { return "QMAExpandedAdAppViewController"; }

  bool isLoaded() const override { return true; }
  // Puts the live ad view back into the banner at once, then relinquishes; the resized ad
  // it grew out of gives the screen back with it.
  void relinquishScreenWithCompletion(Completion completion) override;
  const std::shared_ptr<uikit::ImageView>& renderedBanner() const { return renderedBanner_; }
  // The resized ad (its full-screen controller) this one was expanded from, held weakly.
  // One takeover: when this one goes, so does that one, and the ad is back in its banner.
  std::shared_ptr<QMAViewController> resizedViewController() const { return resizedViewController_.lock(); }
  void setResizedViewController(std::weak_ptr<QMAViewController> controller) {
    resizedViewController_ = std::move(controller);
  }
  // A dismissal nobody asked for (the platform took it down) ends the resize as well.
  void finishDismissal() override;

 protected:
  void configureView() override;

 private:
  QMAExpandedAdAppViewController() = default;
  void relinquishResizedViewController();
  std::shared_ptr<uikit::ImageView> renderedBanner_;
  std::weak_ptr<QMAViewController> resizedViewController_;
};
