#include "ads/render/precache_qomb_handler.h"

#include <cctype>
#include <filesystem>
#include <random>

#include "ads/render/ad_view.h"
#include "ads/services/device.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"

namespace {

constexpr std::size_t kMaxPrecacheBytes = std::size_t{256} << 20;
// As long as that takes on a slow network.
constexpr double kPrecacheTimeout = 30 * 60;

std::string newUUIDString() {
  static std::mutex mu;
  static std::mt19937_64 random{std::random_device{}()};
  std::uint64_t a, b;
  {
    std::lock_guard l(mu);
    a = random();
    b = random();
  }
  a = (a & ~0xF000ull) | 0x4000ull;                          // version 4
  b = (b & ~(0xC000ull << 48)) | (0x8000ull << 48);          // the variant
  char text[37];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(a >> 32),
                static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFFF),
                static_cast<unsigned>(b >> 48), static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
  return text;
}

std::string fileURLForPath(const std::string& path) {
  std::string out = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

QMAPrecacheQOMBHandler::~QMAPrecacheQOMBHandler() { lastBytesAfterCleanUp(); }

const QMAActionBlockDictionary* QMAPrecacheQOMBHandler::actionBlockDictionary() const {
  static const QMAActionBlockDictionary table = {
      {"precache",
       [](QMAQOMBHandler& h, const QMAQOMBArguments& a) {
         static_cast<QMAPrecacheQOMBHandler&>(h).didReceivePrecacheNotification(a);
       }},
  };
  return &table;
}

void QMAPrecacheQOMBHandler::didReceivePrecacheNotification(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note) return;
  const auto src = arguments.note->parameter("src");
  {
    std::lock_guard l(mu_);
    if (!adView_.lock()) adView_ = arguments.adView;
    if (src) {
      if (auto url = net::URL::fromString(*src)) sourceURL_ = url;
    }
  }
  if (arguments.note->parameter("abort"))
    abort();
  else if (src)
    preload();
}

void QMAPrecacheQOMBHandler::preload() {
  WV_DCHECK_MAIN_THREAD();
  std::optional<net::URL> source;
  {
    std::lock_guard l(mu_);
    source = sourceURL_;
  }
  if (!source || hasStartedPreloading_) return;
  cacheOperationQueue_ = dispatch::OperationQueue::create("precache");
  cacheOperationQueue_->setMaxConcurrentOperationCount(1);
  net::URLRequest request(*source);
  // Precached media goes to a file as it comes, never into memory: its bound is the disk
  // a creative's video may take, well over the tens of megabytes of the longest one.
  request.maxBodySize = kMaxPrecacheBytes;
  request.resourceTimeoutInterval = kPrecacheTimeout;
  if (auto agent = QMADevice::sharedInstance()->userAgentString()) request.headers.set("User-Agent", *agent);
  preloadConnection_ = net::URLConnection::create(
      std::move(request), std::static_pointer_cast<QMAPrecacheQOMBHandler>(shared_from_this()),
      net::deliverOn(cacheOperationQueue_));
  if (preloadConnection_) preloadConnection_->start();
  hasStartedPreloading_ = true;
}

std::string QMAPrecacheQOMBHandler::safeFileName(const std::string& suggested) {
  std::string name = suggested;
  const std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  std::erase(name, '\0');
  if (name.empty() || name == "." || name == "..") return "precache";
  if (name.size() > 200) name.resize(200);
  return name;
}

std::string QMAPrecacheQOMBHandler::suggestedFilename(const net::URLResponse& response) {
  if (auto disposition = response.headers.get("Content-Disposition")) {
    const std::size_t at = disposition->find("filename=");
    if (at != std::string::npos) {
      std::string name = disposition->substr(at + 9);
      const std::size_t end = name.find(';');
      if (end != std::string::npos) name.resize(end);
      if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
      if (!name.empty()) return name;
    }
  }
  const std::string path = response.url.path();
  const std::size_t slash = path.rfind('/');
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  return last.empty() ? "precache" : last;
}

std::optional<std::string> QMAPrecacheQOMBHandler::cachedURL() const {
  std::lock_guard l(mu_);
  return cachedURL_;
}

std::int64_t QMAPrecacheQOMBHandler::fileOffset() {
  if (!cacheFileHandle_) return 0;
  const long at = std::ftell(cacheFileHandle_);
  return at < 0 ? 0 : at;
}

void QMAPrecacheQOMBHandler::closeFile() {
  if (cacheFileHandle_) std::fclose(cacheFileHandle_);
  cacheFileHandle_ = nullptr;
}

void QMAPrecacheQOMBHandler::connectionDidReceiveResponse(net::URLConnection& connection,
                                                          const net::URLResponsePtr& response) {
  std::int64_t bytes = 0, total = -1;
  bool made = false;
  {
    std::lock_guard l(mu_);
    namespace fs = std::filesystem;
    std::error_code error;
    const std::string folder = QMADevice::sharedInstance()->temporaryPathWithCreation(true) + "/" + newUUIDString();
    fs::create_directories(folder, error);
    if (!error) {
      cachedFolder_ = folder;
      const std::string path = folder + "/" + safeFileName(suggestedFilename(*response));
      closeFile();
      cacheFileHandle_ = std::fopen(path.c_str(), "wb");
      cachedURL_ = cacheFileHandle_ ? std::optional(fileURLForPath(path)) : std::nullopt;
      made = cacheFileHandle_ != nullptr;
    }
    expectedDataLength_ = response->expectedContentLength;
    bytes = fileOffset();
    total = expectedDataLength_;
  }
  if (made) {
    dispatchPrecacheEventWithBytesLoadedTotalBytesEvent(0, total, "precacheProgress");
  } else {
    // Without a local copy the download is of no use to the creative: it ends here.
    connection.cancel();
    dispatchPrecacheEventWithBytesLoadedTotalBytesEvent(bytes, total, "precacheCanceled");
  }
}

void QMAPrecacheQOMBHandler::connectionDidReceiveData(net::URLConnection&, const net::Bytes& data) {
  std::int64_t bytes, total;
  {
    std::lock_guard l(mu_);
    if (!cacheFileHandle_) return;
    std::fwrite(data.data(), 1, data.size(), cacheFileHandle_);
    std::fflush(cacheFileHandle_);
    bytes = fileOffset();
    total = expectedDataLength_;
  }
  dispatchPrecacheEventWithBytesLoadedTotalBytesEvent(bytes, total, "precacheProgress");
}

void QMAPrecacheQOMBHandler::connectionDidFinishLoading(net::URLConnection&) {
  std::int64_t bytes, total;
  {
    std::lock_guard l(mu_);
    bytes = fileOffset();
    closeFile();
    total = expectedDataLength_;
  }
  dispatchPrecacheEventWithBytesLoadedTotalBytesEvent(bytes, total, "precacheComplete");
}

void QMAPrecacheQOMBHandler::connectionDidFailWithError(net::URLConnection&, const foundation::Error&) {
  std::int64_t bytes, total;
  {
    std::lock_guard l(mu_);
    bytes = fileOffset();
    total = expectedDataLength_;
  }
  dispatchPrecacheEventWithBytesLoadedTotalBytesEvent(bytes, total, "precacheCanceled");
}

std::int64_t QMAPrecacheQOMBHandler::lastBytesAfterCleanUp() {
  if (preloadConnection_) preloadConnection_->cancel();
  preloadConnection_.reset();
  // No report reaches the handler after the cancel; one that is running ends first, so
  // the file is never closed under a write.
  if (cacheOperationQueue_) cacheOperationQueue_->waitUntilAllOperationsAreFinished();
  cacheOperationQueue_.reset();
  std::int64_t bytes;
  {
    std::lock_guard l(mu_);
    bytes = fileOffset();
    closeFile();
    if (cachedFolder_) {
      std::error_code ignored;
      std::filesystem::remove_all(*cachedFolder_, ignored);
    }
    cachedFolder_.reset();
  }
  hasStartedPreloading_ = false;
  return bytes;
}

void QMAPrecacheQOMBHandler::abort() {
  WV_DCHECK_MAIN_THREAD();
  const std::int64_t bytes = lastBytesAfterCleanUp();
  std::int64_t total;
  {
    std::lock_guard l(mu_);
    total = expectedDataLength_;
  }
  dispatchPrecacheEventWithBytesLoadedTotalBytesEvent(bytes, total, "precacheCanceled");
}

void QMAPrecacheQOMBHandler::dispatchPrecacheEventWithBytesLoadedTotalBytesEvent(std::int64_t bytesLoaded,
                                                                                 std::int64_t totalBytes,
                                                                                 const std::string& event) {
  std::weak_ptr<QMAAdView> view;
  foundation::Dictionary info;
  {
    std::lock_guard l(mu_);
    view = adView_;
    info = foundation::Dictionary{{"bytesLoaded", foundation::Value(bytesLoaded)},
                                  {"totalBytes", foundation::Value(totalBytes)},
                                  {"event", event},
                                  {"src", sourceURL_ ? sourceURL_->absoluteString() : std::string()},
                                  {"cachedSrc", cachedURL_.value_or("")}};
  }
  // The page hears the reports on the main thread, in the order they were made.
  dispatch::Queue::main()->async([view, info = std::move(info)] {
    if (auto v = view.lock()) v->postJSNotificationUserInfo("onPrecacheEvent", info);
  });
}
