#pragma once
// One local copy of one URL's content in the caches folder, refreshed with a conditional
// GET: the request carries "If-Modified-Since" with the file's modification time, a 304
// leaves the file as it is, a 200 replaces it and stamps it with "Last-Modified". Reports
// go to a weak delegate on the main run loop; the delegate may veto redirects.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/net/connection.h"

class QMACachedFile;

class QMACachedFileDelegate {
 public:
  virtual ~QMACachedFileDelegate() = default;
  // An error stops the download; nullopt follows the redirect.
  virtual std::optional<foundation::Error> cachedFileShouldRedirectToURL(QMACachedFile& file, const net::URL& url) = 0;
  virtual void cachedFileDownloadDidEnd(QMACachedFile& file) = 0;
  virtual void cachedFileDownloadDidFail(QMACachedFile& file, const std::optional<foundation::Error>& error) = 0;
};

class QMACachedFile : public net::URLConnectionDelegate, public std::enable_shared_from_this<QMACachedFile> {
 public:
  // Null without a URL.
  static std::shared_ptr<QMACachedFile> initWithURL(const std::optional<net::URL>& url);
  ~QMACachedFile() override;

  // Starts a download unless one runs.
  void validate();
  // The same with "unique=<seconds since 2001>" added to the request, which also makes
  // this and every later download ignore local cache data.
  void validateWithCacheBuster();
  void beginFetchWithCacheBuster(bool cacheBuster);
  // Stops a running download without a report.
  void cancel();
  // Stops, then deletes the local file.
  void invalidate();

  // <caches>/<host, or "@local" for a URL without a plain host name>/<hash of the URL>.
  const std::string& filePath();
  bool fileExists();
  std::optional<std::string> contentAsString();
  // The file's modification time as "Sun, 06 Nov 1994 08:49:37" (GMT, no zone name).
  std::optional<std::string> fileModificationRFC1123DateString();
  static std::optional<net::HTTPHeaders> headersForResponse(const net::URLResponsePtr& response);
  std::string description();

  std::shared_ptr<QMACachedFileDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMACachedFileDelegate> delegate) { delegate_ = std::move(delegate); }
  const net::URL& sourceURL() const { return sourceURL_; }
  net::CachePolicy cachePolicy() const { return cachePolicy_; }
  // For later downloads.
  void setCachePolicy(net::CachePolicy policy) { cachePolicy_ = policy; }
  // Whether a download keeps the answer's body (the default). Without it a 200 ends the
  // download at its head: the body is never read, nothing is stored, and an answer of any
  // size ends alike. For callers that want the status alone (pings).
  bool keepsBody() const { return keepsBody_; }
  void setKeepsBody(bool keeps) { keepsBody_ = keeps; }
  const net::URL& HTTPDestinationURL() const { return HTTPDestinationURL_; }
  std::int64_t HTTPStatusCode() const { return HTTPStatusCode_; }
  const net::HTTPHeaders& HTTPHeaders() const { return HTTPHeaders_; }
  const std::shared_ptr<net::URLConnection>& connection() const { return connection_; }
  const std::optional<std::string>& receivedModificationDate() const { return receivedModificationDate_; }

  std::optional<net::URLRequest> connectionWillSendRequest(net::URLConnection&, const net::URLRequest& request,
                                                           const net::URLResponsePtr& redirectResponse) override;
  void connectionDidReceiveResponse(net::URLConnection&, const net::URLResponsePtr& response) override;
  void connectionDidReceiveData(net::URLConnection&, const foundation::Bytes& data) override;
  void connectionDidFinishLoading(net::URLConnection&) override;
  void connectionDidFailWithError(net::URLConnection&, const foundation::Error& error) override;

 private:
  explicit QMACachedFile(net::URL url) : sourceURL_(url), HTTPDestinationURL_(std::move(url)) {}
  void cleanUp();
  void save();

  std::optional<foundation::Bytes> receivedData_;
  std::optional<std::string> filePath_;
  std::weak_ptr<QMACachedFileDelegate> delegate_;
  net::URL sourceURL_;
  net::CachePolicy cachePolicy_ = net::CachePolicy::UseProtocolCachePolicy;
  bool keepsBody_ = true;
  net::URL HTTPDestinationURL_;
  std::int64_t HTTPStatusCode_ = 0;
  net::HTTPHeaders HTTPHeaders_;
  std::shared_ptr<net::URLConnection> connection_;
  std::optional<std::string> receivedModificationDate_;
};

// The folder name a URL's content is kept under: its host when that is a plain host name
// (letters, digits, "-", ".", ":"; not "." or ".."), else "@local".
std::string QMACachedFileFolderNameForURL(const net::URL& url);
