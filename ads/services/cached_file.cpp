#include "ads/services/cached_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ads/services/device.h"
#include "ads/services/url_utilities.h"
#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/device_path.h"
#include "platform/foundation/format.h"
#include "platform/foundation/property_list.h"
#include "platform/net/http_date.h"

namespace {

// FNV-1a: the same name for the same URL in every launch.
std::uint64_t stableHash(std::string_view text) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// Writes `data` to a new file beside `path`, stamps it with `modified` (seconds since
// 1970) when given, and renames it over `path`, so the file appears whole and stamped or
// not at all. Answers nullopt, or the errno of the call that failed, read before the
// clean-up calls (close, unlink) can overwrite it; on failure what was at `path` stays.
std::optional<int> writeStampedFile(const std::string& path, const foundation::Bytes& data,
                                    std::optional<double> modified) {
  std::error_code ec;
  const auto folder = std::filesystem::path(path).parent_path();
  if (!std::filesystem::is_directory(folder, ec)) {
    std::filesystem::create_directories(folder, ec);
    if (ec) return ec.value();
  }
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return errno;
  auto fail = [&](int error) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return std::optional<int>(error);
  };
  for (std::size_t done = 0; done < data.size();) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  if (::fchmod(fd, 0644) != 0) return fail(errno);
  if (modified) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(*modified);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    if (::futimens(fd, times) != 0) return fail(errno);
  }
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return error;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return error;
  }
  return std::nullopt;
}

}  // namespace

std::string QMACachedFileFolderNameForURL(const net::URL& url) {
  auto host = url.host();
  if (!host || *host == "." || *host == "..") return "@local";
  for (unsigned char c : *host)
    if (!std::isalnum(c) && c != '-' && c != '.' && c != ':') return "@local";
  return *host;
}

std::shared_ptr<QMACachedFile> QMACachedFile::initWithURL(const std::optional<net::URL>& url) {
  if (!url) return nullptr;
  return std::shared_ptr<QMACachedFile>(new QMACachedFile(*url));
}

QMACachedFile::~QMACachedFile() {
  if (connection_) connection_->cancel();
}

const std::string& QMACachedFile::filePath() {
  if (!filePath_) {
    filePath_ = foundation::cachesDirectory() + "/" + QMACachedFileFolderNameForURL(sourceURL_) + "/" +
                foundation::stringWithFormat("%lx", stableHash(sourceURL_.absoluteString()));
  }
  return *filePath_;
}

bool QMACachedFile::fileExists() { return foundation::fileExists(filePath()); }

std::optional<std::string> QMACachedFile::contentAsString() {
  auto bytes = foundation::readFileBytes(filePath());
  if (!bytes) return std::nullopt;
  std::string text(bytes->begin(), bytes->end());
  if (!net::isValidUTF8(text)) return std::nullopt;
  return text;
}

std::optional<std::string> QMACachedFile::fileModificationRFC1123DateString() {
  // Only a regular file is a copy whose time may be asked about.
  struct stat st {};
  if (stat(filePath().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return net::formatHTTPDateWithoutZone(static_cast<double>(st.st_mtim.tv_sec));
}

std::optional<net::HTTPHeaders> QMACachedFile::headersForResponse(const net::URLResponsePtr& response) {
  if (!response || !response->isHTTP) return std::nullopt;
  return response->headers;
}

std::string QMACachedFile::description() {
  return foundation::stringWithFormat("<%@: %p> HTTP code: %ld\n\turl: %@\n\tfile: %@", "QMACachedFile",
                                      static_cast<const void*>(this), HTTPStatusCode_, sourceURL_.absoluteString(),
                                      filePath());
}

void QMACachedFile::validate() {
  if (!connection_) beginFetchWithCacheBuster(false);
}

void QMACachedFile::validateWithCacheBuster() {
  if (!connection_) beginFetchWithCacheBuster(true);
}

void QMACachedFile::beginFetchWithCacheBuster(bool cacheBuster) {
  WV_DCHECK_MAIN_THREAD();
  auto self = shared_from_this();
  net::URL requestURL = sourceURL_;
  if (cacheBuster) {
    auto seconds = foundation::Date{foundation::Clock::now()}.timeIntervalSinceReferenceDate();
    if (auto busted = qma_appendQueryValueForKey(sourceURL_, foundation::stringWithFormat("%.0f", seconds), "unique"))
      requestURL = *busted;
    cachePolicy_ = net::CachePolicy::ReloadIgnoringLocalCacheData;
  }
  net::URLRequest request(requestURL);
  request.cachePolicy = cachePolicy_;
  request.handlesCookies = true;
  auto userAgent = QMADevice::sharedInstance()->userAgentString();
  if (userAgent && !userAgent->empty()) request.headers.set("User-Agent", *userAgent);
  if (auto stamp = fileModificationRFC1123DateString()) request.headers.set("If-Modified-Since", *stamp);

  connection_ = net::URLConnection::create(request, weak_from_this(), net::deliverOnRunLoop(dispatch::RunLoop::main()));
  if (!connection_) {
    if (auto d = delegate_.lock()) d->cachedFileDownloadDidFail(*this, std::nullopt);
    return;
  }
  receivedData_ = foundation::Bytes{};
  connection_->start();
}

void QMACachedFile::cancel() { cleanUp(); }

void QMACachedFile::invalidate() {
  cleanUp();
  std::error_code ignored;
  std::filesystem::remove(filePath(), ignored);
}

void QMACachedFile::cleanUp() {
  if (connection_) connection_->cancel();
  connection_.reset();
  receivedData_.reset();
  receivedModificationDate_.reset();
}

std::optional<net::URLRequest> QMACachedFile::connectionWillSendRequest(net::URLConnection&,
                                                                        const net::URLRequest& request,
                                                                        const net::URLResponsePtr& redirectResponse) {
  auto self = shared_from_this();
  HTTPDestinationURL_ = request.url;
  if (redirectResponse) {
    HTTPHeaders_ = redirectResponse->headers;
    auto delegate = delegate_.lock();
    if (auto veto = delegate ? delegate->cachedFileShouldRedirectToURL(*this, request.url) : std::nullopt) {
      cleanUp();
      delegate->cachedFileDownloadDidFail(*this, veto);
    }
  }
  return request;
}

void QMACachedFile::connectionDidReceiveResponse(net::URLConnection&, const net::URLResponsePtr& response) {
  if (!response->isHTTP) return;
  auto self = shared_from_this();
  HTTPStatusCode_ = response->statusCode;
  HTTPHeaders_ = response->headers;
  auto delegate = delegate_.lock();
  if (response->statusCode == 304) {
    if (delegate) delegate->cachedFileDownloadDidEnd(*this);
    cleanUp();
  } else if (response->statusCode == 200 && !keepsBody_) {
    if (delegate) delegate->cachedFileDownloadDidEnd(*this);
    cleanUp();
  } else if (response->statusCode == 200) {
    receivedModificationDate_ = response->headers.get("Last-Modified");
    if (receivedModificationDate_) {
      if (auto gmt = receivedModificationDate_->find("GMT"); gmt != std::string::npos) receivedModificationDate_->resize(gmt);
    }
  } else {
    if (delegate) delegate->cachedFileDownloadDidFail(*this, std::nullopt);
    cleanUp();
  }
  if (receivedData_) receivedData_->clear();
}

void QMACachedFile::connectionDidReceiveData(net::URLConnection&, const foundation::Bytes& data) {
  if (receivedData_) receivedData_->insert(receivedData_->end(), data.begin(), data.end());
}

void QMACachedFile::connectionDidFinishLoading(net::URLConnection&) {
  auto self = shared_from_this();
  save();
  cleanUp();
}

void QMACachedFile::connectionDidFailWithError(net::URLConnection&, const foundation::Error& error) {
  auto self = shared_from_this();
  cleanUp();
  if (auto delegate = delegate_.lock()) delegate->cachedFileDownloadDidFail(*this, error);
}

void QMACachedFile::save() {
  WV_DCHECK_MAIN_THREAD();
  const std::string& path = filePath();
  const auto& data = receivedData_ ? *receivedData_ : foundation::Bytes{};
  // The server's time goes on the file as it is written, so no one (the delegate
  // included) ever sees the new content with the time of writing, which would make the
  // next conditional request ask about the wrong moment.
  std::optional<double> stamp;
  if (receivedModificationDate_) stamp = net::parseHTTPDateWithoutZone(*receivedModificationDate_);
  receivedModificationDate_.reset();
  const auto error = writeStampedFile(path, data, stamp);
  auto delegate = delegate_.lock();
  if (error) {
    if (delegate) {
      delegate->cachedFileDownloadDidFail(
          *this, foundation::Error{"file", *error,
                                   {{foundation::kLocalizedDescriptionKey, "The file could not be saved: " +
                                                                               std::string(std::strerror(*error))}}});
    }
    return;
  }
  if (delegate) delegate->cachedFileDownloadDidEnd(*this);
}
