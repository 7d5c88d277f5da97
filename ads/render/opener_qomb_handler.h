#pragma once
// A creative's click and open messages, carried out by its ad view delegate's opener. It
// is the first handler of every ad view delegate, so it sees these names before any other:
// "click" (the ad's click ping for a URL, nothing opens), "fetchAppStore" (a product page
// loaded ahead of the click) and "open", whose "a" picks the action: "in_app_store",
// "in_app_purchase", "browser" and "video" (the in-app browser), "webapp", "expand", and
// "call", "app", any other value or none (the application leaves for the URL, a counted
// click). Parameters that are missing or unusable make an action do nothing; the creative
// hears of refusals from the opener itself. The exception is an address given to the
// in-app browser, the video player or a web app that is no address they may open (text
// that is no URL, a relative one, one that runs script or reads the device's files): it
// opens nothing and the creative hears an MRAID "error" for its call ("open", "playVideo",
// "expand").
//
// Threads: main thread, where the router runs actions.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/render/ad_view_opener.h"
#include "ads/render/qomb.h"

class QMAOpenerQOMBHandler : public QMAQOMBHandler {
 public:
  static std::shared_ptr<QMAOpenerQOMBHandler> initWithOpener(std::shared_ptr<QMAAdViewOpener> opener);

  const QMAActionBlockDictionary* actionBlockDictionary() const override;
  // The "open" message's actions by "a".
  static const QMAActionBlockDictionary& subActionBlockDictionary();

  const std::shared_ptr<QMAAdViewOpener>& opener() const { return opener_; }
  void setOpener(std::shared_ptr<QMAAdViewOpener> opener) { opener_ = std::move(opener); }

  // "u" as a URL; nullopt when missing or no URL.
  static std::optional<net::URL> URLFromParams(const QMANotification& note);
  // "u" as an address the in-app browser, the video player or a web app may open: an
  // absolute URL, neither "javascript:" (script run in whatever page shows it) nor "file:"
  // (the device's own files), with a host when it is http or https. Nullopt otherwise.
  static std::optional<net::URL> openableURLFromParams(const QMANotification& note);
  // The error message a creative hears for such an address.
  static constexpr const char* kNotOpenableMessage = "Not an address that can be opened";
  // "o": missing 30 (all), "p" 6, "l" 24, "c" the present one (24 in landscape, else 6),
  // anything else 30.
  static std::uint64_t orientationFromParams(const QMANotification& note, bool statusBarIsLandscape);
  // "custom_close" is exactly "1".
  static bool shouldUseCustomClose(const QMANotification& note);
  // "report_urls" split at white space and line breaks, empty pieces dropped.
  static std::vector<std::string> reportURLsFromParams(const QMANotification& note);

  void didReceiveClickNotification(const QMAQOMBArguments& arguments);
  void didReceiveOpenNotification(const QMAQOMBArguments& arguments);
  void fetchInAppStore(const QMAQOMBArguments& arguments);
  void actionOpenInAppStore(const QMAQOMBArguments& arguments);
  void actionOpenInAppPurchase(const QMAQOMBArguments& arguments);
  void actionOpenBrowser(const QMAQOMBArguments& arguments);
  void actionOpenWebApp(const QMAQOMBArguments& arguments);
  void actionExpand(const QMAQOMBArguments& arguments);
  void actionOpenApp(const QMAQOMBArguments& arguments);

 private:
  std::uint64_t orientationFromParams(const QMANotification& note) const;
  std::shared_ptr<QMAAdViewOpener> opener_;
};
