#pragma once
// Click, impression and tracking pings: the process-wide QMAClickTrackerCollection starts
// one QMAClickTracker per URL. A tracker fetches its URL in the background (a download of
// QMACachedFile, with the component's "User-Agent"), follows HTTP redirects until the chain
// ends or leaves HTTP, keeps the application alive for it in a background task, and tells
// the collection once that it is done, after which the collection drops it on the next
// main-queue turn. Nobody waits for a ping and no result reaches the caller; there is no
// retry (pings that must survive a relaunch go through QMAPinger). The last answer's status
// is all a tracker reads: a 200 ends it at its head, whatever body follows, and nothing is
// stored.
//
// Only http and https URLs are fetched: a page's "httpTrack" may name any URL, and the
// download must never read local files or other schemes.
//
// Threads: trackers live on the main thread (their downloads report on the main run
// loop). The collection's entry points may be called from any thread: off the main thread
// they hop to it, so its set is touched on the main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ads/services/cached_file.h"
#include "platform/foundation/value.h"
#include "platform/net/url.h"
#include "platform/uikit/application.h"

class QMAClickTracker;

// Both messages are optional: the defaults do nothing.
class QMAClickTrackerDelegate {
 public:
  virtual ~QMAClickTrackerDelegate() = default;
  // The tracking ended; `destination` is the last URL reached.
  virtual void trackerDidRedirect(QMAClickTracker& tracker, const net::URL& destination) {}
  virtual void trackerDidFailWithError(QMAClickTracker& tracker, const std::optional<foundation::Error>& error) {}
  // The tracker will never report: the system took its background time back.
  virtual void trackerWasAbandoned(QMAClickTracker& tracker) {}
};

class QMAClickTracker : public QMACachedFileDelegate, public std::enable_shared_from_this<QMAClickTracker> {
 public:
  static std::shared_ptr<QMAClickTracker> init() { return std::shared_ptr<QMAClickTracker>(new QMAClickTracker()); }
  // Detaches and invalidates the download (its stored body is deleted) and ends the
  // background task.
  ~QMAClickTracker() override;

  std::shared_ptr<QMAClickTrackerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAClickTrackerDelegate> delegate) { delegate_ = std::move(delegate); }
  bool hasTracked() const { return hasTracked_; }
  bool isCacheEnabled() const { return cacheEnabled_; }
  void setCacheEnabled(bool enabled) { cacheEnabled_ = enabled; }
  uikit::Application::BackgroundTaskIdentifier backgroundTaskIdentifier() const { return backgroundTask_; }
  const std::shared_ptr<QMACachedFile>& download() const { return download_; }

  // Main thread. Resets, then fetches the URL (nothing without one).
  void trackURL(const std::optional<net::URL>& url);
  // Stops everything without a report.
  void reset();
  void beginBackgroundTask();
  void endBackgroundTask();

  std::optional<foundation::Error> cachedFileShouldRedirectToURL(QMACachedFile& file, const net::URL& url) override;
  void cachedFileDownloadDidEnd(QMACachedFile& file) override;
  void cachedFileDownloadDidFail(QMACachedFile& file, const std::optional<foundation::Error>& error) override;

 private:
  QMAClickTracker() = default;
  void finishWithDestination(const net::URL& destination);
  void dropDownload();

  std::weak_ptr<QMAClickTrackerDelegate> delegate_;
  bool hasTracked_ = false;
  bool cacheEnabled_ = true;
  uikit::Application::BackgroundTaskIdentifier backgroundTask_ = uikit::Application::kBackgroundTaskInvalid;
  std::shared_ptr<QMACachedFile> download_;
};

class QMAClickTrackerCollection : public QMAClickTrackerDelegate,
                                  public std::enable_shared_from_this<QMAClickTrackerCollection> {
 public:
  static const std::shared_ptr<QMAClickTrackerCollection>& sharedInstance();

  // With caching enabled.
  void trackURL(const std::optional<net::URL>& url);
  // Each element in order: a URL string is tracked, other elements (and strings that form
  // no http(s) URL) are passed over.
  void trackURLsCacheEnabled(const foundation::Array& urls, bool cacheEnabled);
  void trackURLsCacheEnabled(const std::vector<std::string>& urls, bool cacheEnabled);
  // One new tracker per call; with caching disabled the request ignores local cache data.
  void trackURLCacheEnabled(const std::optional<net::URL>& url, bool cacheEnabled);
  // Main thread: removes every tracker that has tracked, clearing its delegate first.
  void cleanupTrackers();
  // Main thread: the trackers still running.
  const std::set<std::shared_ptr<QMAClickTracker>>& trackers() const { return trackers_; }

  void trackerDidRedirect(QMAClickTracker& tracker, const net::URL& destination) override;
  void trackerDidFailWithError(QMAClickTracker& tracker, const std::optional<foundation::Error>& error) override;
  // A tracker that will never report is dropped at once.
  void trackerWasAbandoned(QMAClickTracker& tracker) override;

 private:
  void startTracker(net::URL url, bool cacheEnabled);
  void scheduleCleanup();
  std::set<std::shared_ptr<QMAClickTracker>> trackers_;
};
