#pragma once
// The class-wide state of the MRAID script interceptor and the ad URL stash that the ad
// web view and the server constants move: the allowed flag, the loads-in-flight counter,
// the three script paths, and the map from an ad page's canonical URL to the ad view that
// shows it. Answering "mraid.js" requests from that state is the interceptor's own later
// work. Safe from any thread: each class keeps its own lock and never holds both.

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/net/url.h"

class QMAAdView;

class QMAMRAIDInterceptor {
 public:
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
