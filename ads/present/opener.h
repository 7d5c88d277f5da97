#pragma once
// What a click on an ad asks for, carried out. Every ad view delegate owns one opener; the
// delegate's link policy and the banner delegate's clicks call it. Built here: the click
// gate that refuses opens the user did not cause, and leaving the application for another
// one (after a confirmation for the URL schemes that call for one). Both report a
// successful open by pinging the ad's click URLs. The in-app browser, web apps, MRAID
// expand and resize, store pages and purchases, composers and calendar events are this
// class's later work.
//
// Threads: main thread only (checked). The system's openURL runs as a later operation of
// the main operation queue, so the slot's leave-application steps come first.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "ads/render/ad_view_opener.h"
#include "platform/net/url.h"
#include "platform/uikit/alert_view.h"

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

  // Leaves the application for the URL, after the gate and, for schemes that ask for
  // one, the user's confirmation.
  void openApp(const std::optional<net::URL>& url) override;
  // The full-screen controller that shows the ad takes the creative's orientations.
  bool setMRAIDSupportedInterfaceOrientations(std::uint64_t mask) override;
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
