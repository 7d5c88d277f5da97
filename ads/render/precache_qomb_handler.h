#pragma once
// "precache": a creative has a media file downloaded ahead of time into a fresh folder
// under the component's temporary folder ("PelmarkTemp/<UUID>/<name>"), follows the
// download through "onPrecacheEvent" reports (bytes so far, the expected total, the
// step, the source and the local copy's file URL), and may stop it ("abort"). One
// download per handler; the local copy never outlives the handler.
//
// The file name the server suggests is hostile: only its last path component is used,
// and a name that is empty, "." or ".." becomes "precache". A local copy that cannot be
// made stops the download (one "precacheCanceled"). Clean-up deletes the whole folder.
//
// Threads: messages on the main thread; the download's reports on the handler's own
// serial queue; the page hears the reports in order on the main thread.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ads/render/qomb.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/net/connection.h"

class QMAPrecacheQOMBHandler : public QMAQOMBHandler, public net::URLConnectionDelegate {
 public:
  QMAPrecacheQOMBHandler() = default;
  ~QMAPrecacheQOMBHandler() override;

  const QMAActionBlockDictionary* actionBlockDictionary() const override;
  void didReceivePrecacheNotification(const QMAQOMBArguments& arguments);

  void preload();
  void abort();
  // Stops the download and deletes the local copy; the bytes it had.
  std::int64_t lastBytesAfterCleanUp();
  void dispatchPrecacheEventWithBytesLoadedTotalBytesEvent(std::int64_t bytesLoaded, std::int64_t totalBytes,
                                                           const std::string& event);

  // A server's file name made safe to use inside the download's own folder.
  static std::string safeFileName(const std::string& suggested);
  // The name a response suggests: Content-Disposition's filename, else the URL's last
  // path component, else "precache".
  static std::string suggestedFilename(const net::URLResponse& response);

  std::optional<std::string> cachedURL() const;
  std::optional<net::URL> sourceURL() const {
    std::lock_guard l(mu_);
    return sourceURL_;
  }
  bool hasStartedPreloading() const { return hasStartedPreloading_; }

  void connectionDidReceiveResponse(net::URLConnection&, const net::URLResponsePtr& response) override;
  void connectionDidReceiveData(net::URLConnection&, const net::Bytes& data) override;
  void connectionDidFinishLoading(net::URLConnection&) override;
  void connectionDidFailWithError(net::URLConnection&, const foundation::Error& error) override;

 private:
  void closeFile();
  std::int64_t fileOffset();

  std::weak_ptr<QMAAdView> adView_;
  std::optional<net::URL> sourceURL_;
  bool hasStartedPreloading_ = false;
  std::shared_ptr<net::URLConnection> preloadConnection_;
  std::shared_ptr<dispatch::OperationQueue> cacheOperationQueue_;
  // The download's state, shared by the main thread and the handler's queue.
  mutable std::mutex mu_;
  std::optional<std::string> cachedFolder_;
  std::optional<std::string> cachedURL_;
  std::FILE* cacheFileHandle_ = nullptr;
  std::int64_t expectedDataLength_ = -1;
};
