#pragma once
// What a click on an ad asks for, carried out. Every ad view delegate owns one opener; the
// delegate's link policy and the banner delegate's clicks call it. Built here: the click
// gate that refuses opens the user did not cause, leaving the application for another one
// (after a confirmation for the URL schemes that call for one), the in-app browser, the
// supplemental web app (from a URL or HTML) and the MRAID expand and resize of the ad's own
// view; store product pages inside the application (loaded ahead into a small cache when the
// creative asks) and in-app purchase offers; the mail and message composers of "mailto"
// and "sms" links and the event editor of an MRAID calendar event. Store pages, composers
// and the editor are shown through overlay proxies, so they take part in the slot's
// intermission. Every successful open pings the ad's click URLs, once the screen it opened
// is up.
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
#include <vector>

#include "ads/render/ad_view_opener.h"
#include "platform/eventkit/event_edit_view_controller.h"
#include "platform/messageui/compose_view_controller.h"
#include "platform/net/url.h"
#include "platform/storekit/store_product_view_controller.h"
#include "platform/uikit/alert_view.h"

class QMAAdAppViewController;
class QMAMRAIDEventHandling;
class QMAPresentationSlot;
class QMASupplementalAdAppViewController;
class QMAViewController;

class QMAOpener : public uikit::AlertViewDelegate,
                  public QMAAdViewOpener,
                  public messageui::MFMailComposeViewControllerDelegate,
                  public messageui::MFMessageComposeViewControllerDelegate,
                  public eventkit::EKEventEditViewDelegate,
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
                                                       bool useCustomClose) override;
  void openWebAppWithHTMLSupportedOrientationsUsingCustomClose(const std::optional<std::string>& html,
                                                               std::uint64_t mask, bool useCustomClose) override;
  // MRAID expand: the ad's own view full screen ("expanding", then "onStateChanged"
  // "expanded"; "collapsed" and "default" once it is back). Each state reaches the
  // creative in one message with all it reads of the ad then (QMADispatchMRAIDState), so
  // its listeners of the change read the new state, position and sizes together. An ad expanded from its resized
  // state ends the resize with it: closed, the ad is back in its banner.
  void expandToWebAppWithSupportedOrientationsUsingCustomClose(std::uint64_t mask, bool useCustomClose) override;

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

  // ---- Store pages and in-app purchases.
  // Pages loaded ahead and waiting, together with those still loading, are at most this
  // many: a creative's prefetches must not fill the memory. A further prefetch drops the
  // page waiting longest; with none waiting it is ignored.
  static constexpr std::size_t kMaximumCachedStorePages = 5;
  // The load parameters of a product page: the item identifier, the identifier's integer
  // value (0 when it is none).
  static foundation::Dictionary storeProductParametersForProductID(const std::string& productID);
  // After the gate: a page loaded ahead shows at once (and leaves the cache); otherwise a
  // new page loads and shows once loaded, or at once without `wait`, in which case a
  // failed load takes it down again and the application leaves for the fallback URL.
  void openInAppStoreWithProductIDFallbackURLShouldWaitForFetch(const std::string& productID,
                                                                const std::optional<net::URL>& fallbackURL,
                                                                bool shouldWaitForFetch) override;
  // No gate. Loads the page into the cache, unless it is there or loading already.
  void fetchInAppStoreForProductID(const std::string& productID) override;
  // After the gate: a new page, shown once loaded; a failed load leaves for the fallback.
  void openInAppStoreFallbackURL(const std::string& productID, const std::optional<net::URL>& fallbackURL);
  // After the gate: the offer goes to the slot's purchase hand-off, the click is reported,
  // and a full-screen ad that made the offer gives the screen back.
  void openInAppPurchaseQuantityReportingURLStringFormats(const std::string& productID, std::int64_t quantity,
                                                          const std::vector<std::string>& formats) override;
  const std::map<std::string, std::shared_ptr<storekit::SKStoreProductViewController>>&
  cachedStoreProductViewController() const {
    return cachedStoreProductViewController_;
  }
  // Identifiers whose prefetch is loading.
  const std::set<std::string>& storePagesBeingFetched() const { return storePagesBeingFetched_; }

  // ---- Mail, messages and calendar events.
  // A composer waits for a full-screen ad still on its way in (its view takes no touches
  // yet), asking again this often, at most this many times; a screen giving itself back
  // stops the waiting at once.
  static constexpr double kComposerRetryInterval = 0.25;
  static constexpr int kComposerPresentationAttempts = 20;
  // A "mailto:" link in the mail composer: one To entry (the address part as written),
  // "cc" and "bcc" split at commas, "subject" and a plain-text "body" (query keys in any
  // case). Nothing without the gate, a controller to present from, or mail on the device.
  void openEmailComposer(const net::URL& url) override;
  // An "sms:" link in the message composer: recipients split at commas, and "body".
  void openSmsComposer(const net::URL& url) override;
  // After the gate: shows the composer through its overlay proxy and reports the click.
  void presentComposerController(const std::shared_ptr<uikit::ViewController>& controller);
  // An MRAID calendar event in the event editor. An event without a readable start (or
  // ending before it starts) is refused with "Could not fully parse event dictionary: ...";
  // without a touch on the ad, "Creating calendar events is not allowed until the user
  // interacts with the ad."; without the user's leave, the page hears
  // "onCalendarEventCanceled". An event without an end lasts an hour.
  void openCalendarWithDictionary(const foundation::Dictionary& parameters) override;
  void mailComposeControllerDidFinishWithResultError(
      const std::shared_ptr<messageui::MFMailComposeViewController>& controller, messageui::MFMailComposeResult result,
      const std::optional<foundation::Error>& error) override;
  void messageComposeViewControllerDidFinishWithResult(
      const std::shared_ptr<messageui::MFMessageComposeViewController>& controller,
      messageui::MessageComposeResult result) override;
  void eventEditViewControllerDidCompleteWithAction(const std::shared_ptr<eventkit::EKEventEditViewController>& controller,
                                                    eventkit::EKEventEditViewAction action) override;

 private:
  QMAOpener() = default;
  // The refusal the creative hears when a web app or expand may not open.
  void reportExpandRefused();
  // The resize presenter of the full-screen controller presenting from here, if any.
  std::shared_ptr<class QMAMRAIDResizeOverlayPresenter> showingResizePresenter() const;
  // "onStateChanged" resized with the ad's new frame, then "onSizeChanged" with the
  // properties' size.
  static void reportResized(const std::shared_ptr<QMAAdView>& view, const QMAMRAIDResizeProperties& properties,
                            const std::weak_ptr<QMAMRAIDEventHandling>& handler);
  // "onStateChanged" with the state and the ad's values as they stand now.
  static void reportState(const std::shared_ptr<QMAAdView>& view, const char* state,
                          const std::weak_ptr<QMAMRAIDEventHandling>& handler);
  // The MRAID event handler of the slot's current ad (the slot itself as a fallback).
  std::shared_ptr<QMAMRAIDEventHandling> MRAIDEventHandler() const;
  void presentWebApp(const std::shared_ptr<QMAAdAppViewController>& overlay);
  // Presents from the view controller; NO when the platform refused.
  bool present(const std::shared_ptr<QMAViewController>& controller, std::function<void()> completion);
  std::shared_ptr<QMAPresentationSlot> presentationSlot() const;
  // A store page through its overlay proxy, from the view controller of this moment; the
  // click is reported once it is up.
  void presentStorePage(const std::shared_ptr<storekit::SKStoreProductViewController>& page);
  std::shared_ptr<storekit::SKStoreProductViewController> newStorePage();
  void presentComposerControllerAttempt(const std::shared_ptr<uikit::ViewController>& controller, int attemptsLeft);
  // The creative's page hears that no event was made.
  static void reportCalendarEventCanceled(const std::weak_ptr<QMAAdView>& adView);

  std::map<const uikit::AlertView*, std::pair<std::weak_ptr<uikit::AlertView>, net::URL>> confirmationAlertURLs_;
  std::set<std::string> allowedAppURLs_;
  bool didOpenAnotherApplication_ = false;
  bool autoClickProtected_ = false;
  std::weak_ptr<uikit::ViewController> viewController_;
  std::optional<net::URL> referringURL_;
  std::weak_ptr<QMAAdView> adView_;
  std::weak_ptr<QMARenderingSlot> slot_;
  std::optional<std::string> navigationURL_;
  std::map<std::string, std::shared_ptr<storekit::SKStoreProductViewController>> cachedStoreProductViewController_;
  // The cache's identifiers, the page waiting longest first.
  std::vector<std::string> cachedStorePageOrder_;
  std::set<std::string> storePagesBeingFetched_;
};
