#pragma once
// The MRAID script interceptor: a URL protocol that answers an ad page's request for
// "mraid.js" with the real MRAID script for the kind of ad that shows the page, and the
// ad URL stash through which it finds that ad view from the request's "referer". The
// class-wide state (allowed flag, loads-in-flight counter, the three script paths) is
// moved by the slots, the ad-app delegate and the server constants. Safe from any
// thread: each class keeps its own lock and never holds both.
//
// The class registers itself with the URL protocol registry on its first use, as the
// component's URL loading does for its own protocols, and stays registered.

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/net/http.h"
#include "platform/net/url.h"
#include "platform/net/url_protocol.h"

class QMAAdView;

class QMAMRAIDInterceptor : public net::URLProtocol {
 public:
  // The script download's longest silence: a page waits for its script no longer.
  static constexpr double kScriptDownloadTimeout = 10.0;
  // Makes allowing the interceptor one of the component's early activities (the start-up
  // does it as the image loads; once per process however often it is called).
  static void allowAtStartUp();
  static void allow();
  static void disallow();
  static bool isAllowed();
  static void setBannerImplementationPath(const std::optional<std::string>& path);
  static void setInterstitialImplementationPath(const std::optional<std::string>& path);
  static void setExpandedBannerImplementationPath(const std::optional<std::string>& path);
  static std::optional<std::string> bannerImplementationPath();
  static std::optional<std::string> interstitialImplementationPath();
  static std::optional<std::string> expandedBannerImplementationPath();
  // The set is rebuilt only when all three paths are present.
  static std::set<std::string> implementationPaths();
  static void resetToDefaultPaths();
  static void enableCanInitWithRequest();
  static void disableCanInitWithRequest();
  static void resetCanInitWithRequestCounter();
  static long canInitWithRequestCounter();

  // The allowed flag set, loads in flight (a counter other than 0) and a page registered.
  static bool canInitWithRequestIsEnabled();
  static bool urlIsAnImplementationPath(const net::URL& url);
  // The "referer" header as a URL; nullopt when missing, empty or no URL.
  static std::optional<net::URL> refererURLFromRequest(const net::URLRequest& request);
  // Not one of the script URLs themselves, and a last path component of exactly "mraid.js".
  static bool shouldRedirectForMRAID(const net::URLRequest& request);
  // The cheap class-wide conditions first: every request of the process is asked.
  static bool canInitWithRequest(const net::URLRequest& request);

  // The registry makes one per intercepted request; the script is chosen from the
  // request when its load starts.
  QMAMRAIDInterceptor() = default;
  // Chooses the script for the page that asks (`mraidLocationToLoad`): the interstitial
  // or banner script for a banner ad-view delegate's page by its slot's ad type, the
  // expanded-banner script for any other page; none without a referer.
  explicit QMAMRAIDInterceptor(const net::URLRequest& request);
  const std::optional<std::string>& mraidLocationToLoad() const { return mraidLocationToLoad_; }
  // Answers with the downloaded script under the script's own URL, or fails: a page
  // whose script could not be had sees its script load fail (no empty script posing as
  // a success), with the download's own error.
  void startLoading(const net::URLRequest& request, std::shared_ptr<net::URLProtocolClient> client) override;
  void stopLoading() override;

 private:
  void chooseScript(const net::URLRequest& request);
  bool chosen_ = false;
  std::optional<std::string> mraidLocationToLoad_;
  struct Load;
  std::shared_ptr<Load> load_;
};

class QMAAdURLStash {
 public:
  // An explicit port or no host: the URL itself. Otherwise the host gets ":80", the
  // fragment and one trailing "/" go.
  static std::optional<std::string> canonicalURLString(const net::URL& url);
  static void addURLForView(const net::URL& url, const std::shared_ptr<QMAAdView>& view);
  // Removes this view from the URL's entry: another ad view showing the same page keeps
  // its place, and the newest live view is the one found.
  static void removeURLForView(const net::URL& url, const QMAAdView* view);
  static std::shared_ptr<QMAAdView> viewForURL(const net::URL& url);
  static bool hasStashedURLs();
  static void removeAll();
};
