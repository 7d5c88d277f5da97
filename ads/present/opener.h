#pragma once
// What a click on an ad asks for, carried out. Every ad view delegate owns one opener; the
// delegate's link policy and the banner delegate's clicks call it. Built here: the click
// gate that refuses opens the user did not cause, leaving the application for another one
// (after a confirmation for the URL schemes that call for one), the in-app browser, the
// supplemental web app (from a URL or HTML) and the MRAID expand and resize of the ad's own
// view. Every successful open pings the ad's click URLs. Store pages and purchases,
// composers and calendar events are this class's later work.
//
// Threads: main thread only (checked). The system's openURL runs as a later operation of
// the main operation queue, so the slot's leave-application steps come first.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "ads/render/ad_view_opener.h"
#include "platform/net/url.h"
#include "platform/uikit/alert_view.h"

class QMAAdAppViewController;
class QMASupplementalAdAppViewController;
class QMAViewController;

class QMAOpener : public uikit::AlertViewDelegate,
                  public QMAAdViewOpener,
                  public std::enable_shared_from_this<QMAOpener> {
 public:
  // The server constant of URL schemes that ask for a confirmation (scheme -> button title).
  static constexpr const char* kConfirmSchemesKey = "/quillon/ads/clickthrough_confirm_schemes";

  static std::shared_ptr<QMAOpener> init();
  // Makes every ad view delegate made from now on own an opener of this class (the ad
  // component's start-up does it once; idempotent).
  static void install();

  bool didOpenAnotherApplication() const override { return didOpenAnotherApplication_; }
  void setDidOpenAnotherApplication(bool opened) override { didOpenAnotherApplication_ = opened; }
  bool isAutoClickProtected() const override { return autoClickProtected_; }
  void setAutoClickProtected(bool protectedClicks) override { autoClickProtected_ = protectedClicks; }
  std::shared_ptr<uikit::ViewController> viewController() const override { return viewController_.lock(); }
  void setViewController(std::weak_ptr<uikit::ViewController> vc) override { viewController_ = std::move(vc); }
  const std::optional<net::URL>& referringURL() const { return referringURL_; }
  void setReferringURL(std::optional<net::URL> url) override { referringURL_ = std::move(url); }
  std::shared_ptr<QMAAdView> adView() const { return adView_.lock(); }
  void setAdView(std::weak_ptr<QMAAdView> adView) override { adView_ = std::move(adView); }
  std::shared_ptr<QMARenderingSlot> slot() const override { return slot_.lock(); }
  void setSlot(std::weak_ptr<QMARenderingSlot> slot) override { slot_ = std::move(slot); }
  const std::optional<std::string>& navigationURL() const { return navigationURL_; }
  void setNavigationURL(std::optional<std::string> url) override { navigationURL_ = std::move(url); }
  // The slot's own word for "stop acting for me": the opener lets its slot go.
  void setDelegate(std::nullptr_t) override { slot_.reset(); }

  // The click gate: open freely unless auto-click protection is on, in which case only
  // once the ad view has been touched. A refusal tells the SDK-core page
  // ("navigationBlocked") what was blocked.
  bool shouldPerformOpenAction();
  // An open carried out: the slot pings the ad's click URLs.
  void didOpen();
  void didOpenInApp() { didOpen(); }
  void didOpenExternalApp() { didOpen(); }
  // The gate, after the ad view's window supports one of the orientations (the gate is not
  // asked otherwise).
  bool shouldPerformOpenActionWithOrientations(std::uint64_t mask);
  // Something to open and a view controller to present from.
  bool canOpenContent(bool hasContent) const { return hasContent && viewController() != nullptr; }

  // The in-app browser for the URL, presented from the view controller.
  void openBrowserToURLSupportedOrientations(const std::optional<net::URL>& url, std::uint64_t mask) override;
  void configureOverlayOrientationsUsingCustomClose(const std::shared_ptr<QMAAdAppViewController>& overlay,
                                                    std::uint64_t mask, bool useCustomClose);
  std::shared_ptr<QMASupplementalAdAppViewController> overlayWithOrientationsUseCustomClose(std::uint64_t mask,
                                                                                            bool useCustomClose);
  // A web app of the creative's, full screen, from a URL or from HTML. A refusal tells the
  // creative "Expanding an ad is not allowed until the user interacts with the ad.".
  void openWebAppSupportedOrientationsUsingCustomClose(const std::optional<net::URL>& url, std::uint64_t mask,
                                                       bool useCustomClose);
  void openWebAppWithHTMLSupportedOrientationsUsingCustomClose(const std::optional<std::string>& html,
                                                               std::uint64_t mask, bool useCustomClose);
  // MRAID expand: the ad's own view full screen ("expanding", then "onStateChanged"
  // "expanded"; "collapsed" and "default" once it is back).
  void expandToWebAppWithSupportedOrientationsUsingCustomClose(std::uint64_t mask, bool useCustomClose);

  // MRAID resize: the ad's own view at the size and place the properties ask for, over
  // the host; a resize while resized moves it in place. Properties the screen cannot hold
  // are refused with an "onError" and change nothing; "resized" and the new size reach
  // the creative only for properties that were taken.
  void openWebAppWithResizeProperties(const std::shared_ptr<QMAMRAIDResizeProperties>& properties) override;
  // A resized ad that opens something else no longer goes back to its default state when
  // its resize is dismissed.
  void disableAutoCollapseForResize();

  // Leaves the application for the URL, after the gate and, for schemes that ask for
  // one, the user's confirmation.
  void openApp(const std::optional<net::URL>& url) override;
  // The full-screen controller that shows the ad takes the creative's orientations.
  bool setMRAIDSupportedInterfaceOrientations(std::uint64_t mask) override;
  // The interface turns into the controller's orientations when it stands in none of them
  // (on the main queue, after the creative's message).
  static void turnInterfaceIntoOrientationsOf(const std::shared_ptr<QMAViewController>& controller);
  // The confirmation button title for the URL's scheme (as spelled, no case folding):
  // from the server constant when one is stored, else {"tel": "Call", "facetime":
  // "FaceTime"}; nullopt when the scheme needs none.
  static std::optional<std::string> confirmationMessageForURL(const net::URL& url);
  void confirmClickToURLMessage(const net::URL& url, const std::string& message);
  void alertViewClickedButtonAtIndex(const std::shared_ptr<uikit::AlertView>& alertView, long buttonIndex) override;
  // The confirmation alerts up now (for drivers and tests).
  std::size_t pendingConfirmationCount() const { return confirmationAlertURLs_.size(); }

 private:
  QMAOpener() = default;
  // The refusal the creative hears when a web app or expand may not open.
  void reportExpandRefused();
  // The resize presenter of the full-screen controller presenting from here, if any.
  std::shared_ptr<class QMAMRAIDResizeOverlayPresenter> showingResizePresenter() const;
  // "onStateChanged" resized and "onSizeChanged" with the properties' size.
  static void reportResized(const std::shared_ptr<QMAAdView>& view, const QMAMRAIDResizeProperties& properties);
  void presentWebApp(const std::shared_ptr<QMAAdAppViewController>& overlay);
  // Presents from the view controller; NO when the platform refused.
  bool present(const std::shared_ptr<QMAViewController>& controller, std::function<void()> completion);

  std::map<const uikit::AlertView*, std::pair<std::weak_ptr<uikit::AlertView>, net::URL>> confirmationAlertURLs_;
  std::set<std::string> allowedAppURLs_;
  bool didOpenAnotherApplication_ = false;
  bool autoClickProtected_ = false;
  std::weak_ptr<uikit::ViewController> viewController_;
  std::optional<net::URL> referringURL_;
  std::weak_ptr<QMAAdView> adView_;
  std::weak_ptr<QMARenderingSlot> slot_;
  std::optional<std::string> navigationURL_;
};
