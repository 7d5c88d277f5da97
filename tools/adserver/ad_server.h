#pragma once
// A stand-in for the ad network's servers, on 127.0.0.1 only. It serves our SDK-core page
// (with a configuration script made from the scenario), builds ad answers from the ad
// URLs the page makes, serves any file a scenario names, and records every request it
// receives. docs/adserver.md describes the scenario file and the endpoints.
//
// Threads: requests are served on the server's own threads; every method is safe from
// any thread.

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace adserver {

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string query;  // as sent, without "?"
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// A scenario that cannot be used: the message says what is wrong and where.
struct ScenarioError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class AdServer {
 public:
  static constexpr const char* kPagePath = "/qads/static/sdk/native/sdk-core-v40.html";
  static constexpr const char* kScriptPath = "/qads/static/sdk/native/sdk-core-v40.js";
  static constexpr const char* kConfigPath = "/qads/static/sdk/native/sdk-core-config.js";
  static constexpr const char* kAdPath = "/qads/ad";
  // The MRAID script for each kind of ad page (the defaults of the MRAID interceptor).
  static constexpr const char* kMRAIDBannerPath = "/qads/static/sdk/native/mraid/v2/mraid_app_banner.js";
  static constexpr const char* kMRAIDExpandedBannerPath =
      "/qads/static/sdk/native/mraid/v2/mraid_app_expanded_banner.js";
  static constexpr const char* kMRAIDInterstitialPath = "/qads/static/sdk/native/mraid/v2/mraid_app_interstitial.js";
  // The native-ad support page, and native ads' pictures: any PNG name under the folder
  // answers the same small picture.
  static constexpr const char* kNativeAdsPagePath = "/qads/static/sdk/native/native_ads.html";
  static constexpr const char* kImageFolder = "/qads/static/img/";
  static constexpr const char* kRequestsPath = "/__adserver/requests";
  // Files of the creatives directory are served under this path.
  static constexpr const char* kCreativesPath = "/creatives/";
  // The most bytes a creative file may have.
  static constexpr std::size_t kMaximumCreativeFileSize = 4 << 20;

  // Checks a scenario (JSON text); throws ScenarioError.
  static nlohmann::json parseScenario(std::string_view text);
  static nlohmann::json loadScenarioFile(const std::string& path);

  explicit AdServer(nlohmann::json scenario = nlohmann::json::object());
  ~AdServer();
  AdServer(const AdServer&) = delete;
  AdServer& operator=(const AdServer&) = delete;

  // Listens on 127.0.0.1 at `port` (0: a free one). False when it cannot.
  bool start(int port = 0);
  void stop();
  int port() const { return port_; }
  // "http://127.0.0.1:<port>": what WARDVANE_AD_NETWORK_URL is set to.
  std::string baseURL() const;

  void setScenario(nlohmann::json scenario);
  std::vector<RecordedRequest> requests() const;
  std::vector<RecordedRequest> requestsForPath(std::string_view path) const;
  void clearRequests();
  // Appends one JSON line per request to the file.
  void setLogFile(std::string path);
  // Where creative files come from (for "/creatives/..." and "body_file"); the test
  // creatives shipped beside the server unless set.
  void setCreativesDirectory(std::string path);
  static std::string defaultCreativesDirectory();

 private:
  void handle(const httplib::Request& req, httplib::Response& res);
  void record(const httplib::Request& req);
  bool serveFile(const httplib::Request& req, const nlohmann::json& scenario, httplib::Response& res);
  void serveAd(const httplib::Request& req, const nlohmann::json& scenario, httplib::Response& res);
  // One described response: after its delay, or never (hang) until the server stops.
  void respond(const httplib::Request& req, const nlohmann::json& response, httplib::Response& res);
  void waitWhileHanging();
  // An endless or dripping body (a scenario's "endless" or "drip_ms").
  void stream(const httplib::Request& req, const nlohmann::json& response, httplib::Response& res);

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mu_;
  std::condition_variable stopping_;
  bool stopped_ = false;
  nlohmann::json scenario_;
  std::vector<RecordedRequest> requests_;
  std::string logFile_;
  std::string creativesDirectory_;
  // How many ads each rule that serves ads in turn has served.
  std::map<std::size_t, std::size_t> ruleTurns_;
};

// Whether `path` may name a file of the creatives directory: segments of letters, digits,
// "_", "-" and ".", none empty or starting with ".", at most 8 deep and 256 long.
bool isCreativeFilePath(std::string_view path);
// The content type a creative file is served with, by its extension.
std::string creativeContentType(std::string_view path);

// The SDK-core page and its script as shipped with the server.
const std::string& sdkCorePageHTML();
const std::string& sdkCorePageScript();
// Our MRAID script with the line that names its placement ("inline" or "interstitial").
std::string mraidScript(std::string_view placement);
// One of our test creatives (tools/adserver/creatives), served at "/creatives/<name>.html";
// nullopt for any other path.
std::optional<std::string> testCreative(std::string_view path);
const std::string& nativeAdsPageHTML();
// The picture served under kImageFolder: an 8 x 8 PNG.
const std::string& imagePNG();

}  // namespace adserver
