#pragma once
// What an ad view's delegate, and whoever holds that delegate, asks of the opener that
// carries out the ad's clicks (the presentation part's QMAOpener). The opener itself comes
// from above: presentation installs its maker once (QMAAdViewDelegate::setOpenerFactory)
// and every delegate made after that owns an opener of its own; without one installed a
// delegate has none, and a click opens nothing.
//
// Threads: main thread only, like the opener.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/net/url.h"

class QMAAdView;
class QMAMRAIDResizeProperties;
class QMARenderingSlot;

namespace uikit {
class ViewController;
}

class QMAAdViewOpener {
 public:
  virtual ~QMAAdViewOpener() = default;

  // Where the navigation that asks for an open comes from.
  virtual void setViewController(std::weak_ptr<uikit::ViewController> vc) = 0;
  virtual void setAdView(std::weak_ptr<QMAAdView> adView) = 0;
  virtual void setSlot(std::weak_ptr<QMARenderingSlot> slot) = 0;
  virtual std::shared_ptr<QMARenderingSlot> slot() const = 0;
  // The slot's own word for "stop acting for me": the opener lets its slot go.
  virtual void setDelegate(std::nullptr_t) = 0;
  virtual void setNavigationURL(std::optional<std::string> url) = 0;
  virtual void setReferringURL(std::optional<net::URL> url) = 0;

  virtual bool isAutoClickProtected() const = 0;
  virtual void setAutoClickProtected(bool protectedClicks) = 0;
  virtual bool didOpenAnotherApplication() const = 0;
  virtual void setDidOpenAnotherApplication(bool opened) = 0;

  // Leaves the application for the URL (the opener's gate and confirmation first).
  virtual void openApp(const std::optional<net::URL>& url) = 0;
  // The in-app browser for the URL, when the ad view's window supports one of the
  // orientations of the mask and the gate lets it.
  virtual void openBrowserToURLSupportedOrientations(const std::optional<net::URL>& url, std::uint64_t mask) = 0;

  virtual std::shared_ptr<uikit::ViewController> viewController() const = 0;

  // What a creative's click and open messages ask for (the opener message handler), and
  // the mail and message links of the link policy. An opener that cannot carry one out
  // does nothing, as it does for a click the user did not make.
  virtual void openWebAppSupportedOrientationsUsingCustomClose(const std::optional<net::URL>& url, std::uint64_t mask,
                                                               bool useCustomClose) {}
  virtual void openWebAppWithHTMLSupportedOrientationsUsingCustomClose(const std::optional<std::string>& html,
                                                                       std::uint64_t mask, bool useCustomClose) {}
  virtual void expandToWebAppWithSupportedOrientationsUsingCustomClose(std::uint64_t mask, bool useCustomClose) {}
  // The product page of the store inside the application; without `wait` it shows at
  // once, while it loads.
  virtual void openInAppStoreWithProductIDFallbackURLShouldWaitForFetch(const std::string& productID,
                                                                        const std::optional<net::URL>& fallbackURL,
                                                                        bool shouldWaitForFetch) {}
  // Loads a product page ahead of the click that may show it.
  virtual void fetchInAppStoreForProductID(const std::string& productID) {}
  virtual void openInAppPurchaseQuantityReportingURLStringFormats(const std::string& productID, std::int64_t quantity,
                                                                  const std::vector<std::string>& formats) {}
  virtual void openEmailComposer(const net::URL& url) {}
  virtual void openSmsComposer(const net::URL& url) {}

  // A creative's MRAID requests that presentation carries out. An opener that cannot
  // carry one out tells the creative so (its slot's MRAID "onError" with the action),
  // never nothing.
  virtual void openWebAppWithResizeProperties(const std::shared_ptr<QMAMRAIDResizeProperties>& properties);
  virtual void openCalendarWithDictionary(const foundation::Dictionary& parameters);
  // Gives the full-screen controller that shows the ad these orientations, rotating the
  // interface when the present one is not among them. False when the ad is not shown
  // by such a controller (a banner in the host's own view), and nothing changes.
  virtual bool setMRAIDSupportedInterfaceOrientations(std::uint64_t mask);

  // The slot's MRAID error report, when the slot handles MRAID events.
  void reportMRAIDError(const std::string& message, const std::string& action) const;
};
