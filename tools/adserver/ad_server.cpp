#include "tools/adserver/ad_server.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>

#include "tools/adserver/static_files.h"

namespace adserver {
namespace {

constexpr std::size_t kMaximumRecorded = 10000;
constexpr int kMaximumDelayMilliseconds = 30000;
// An endless or dripping answer ends by itself after this long at most (default 30 s), so
// nothing a scenario serves outlives its test.
constexpr int kMaximumStreamSeconds = 120;
constexpr int kDefaultStreamSeconds = 30;
constexpr int kMaximumDripMilliseconds = 10000;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

void requireObject(const nlohmann::json& j, const char* where) {
  if (!j.is_object()) throw ScenarioError(std::string(where) + " must be an object");
}

// A misspelt field would otherwise be taken silently and serve an ordinary answer
// (a "drip-ms" that never drips), so every object of the scenario's own form names only
// fields it knows.
void requireKnownFields(const nlohmann::json& j, const std::string& where,
                        std::initializer_list<std::string_view> known) {
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (std::find(known.begin(), known.end(), it.key()) != known.end()) continue;
    std::string list;
    for (const auto& name : known) list += (list.empty() ? "" : ", ") + std::string(name);
    throw ScenarioError((where.empty() ? "" : where + ".") + it.key() + " is not a field of " +
                        (where.empty() ? "the scenario" : where) + " (known: " + list + ")");
  }
}

// Each response a scenario describes: {"status", "content_type", "headers", "body",
// "response_type", "delay_ms", "hang", "truncate", "endless", "drip_ms", "stream_seconds"}.
void checkResponse(const nlohmann::json& r, const std::string& where) {
  requireObject(r, where.c_str());
  requireKnownFields(r, where,
                     {"status", "content_type", "headers", "body", "body_file", "response_type", "delay_ms", "hang",
                      "truncate", "endless", "drip_ms", "stream_seconds"});
  if (r.contains("response_type")) {
    const auto& t = r["response_type"];
    if (!t.is_string() || (t != "html" && t != "mediation" && t != "native" && t != "custom_rendering"))
      throw ScenarioError(where + ".response_type must be html, mediation, native or custom_rendering");
  }
  if (r.contains("delay_ms") &&
      (!r["delay_ms"].is_number_integer() || r["delay_ms"].get<long long>() < 0 ||
       r["delay_ms"].get<long long>() > kMaximumDelayMilliseconds))
    throw ScenarioError(where + ".delay_ms must be an integer from 0 to " + std::to_string(kMaximumDelayMilliseconds));
  for (const char* flag : {"hang", "truncate", "endless"})
    if (r.contains(flag) && !r[flag].is_boolean()) throw ScenarioError(where + "." + flag + " must be true or false");
  if (r.contains("drip_ms") &&
      (!r["drip_ms"].is_number_integer() || r["drip_ms"].get<long long>() < 1 ||
       r["drip_ms"].get<long long>() > kMaximumDripMilliseconds))
    throw ScenarioError(where + ".drip_ms must be an integer from 1 to " + std::to_string(kMaximumDripMilliseconds));
  if (r.contains("stream_seconds") &&
      (!r["stream_seconds"].is_number_integer() || r["stream_seconds"].get<long long>() < 1 ||
       r["stream_seconds"].get<long long>() > kMaximumStreamSeconds))
    throw ScenarioError(where + ".stream_seconds must be an integer from 1 to " + std::to_string(kMaximumStreamSeconds));
  int streams = 0;
  for (const char* way : {"endless", "drip_ms", "truncate"})
    if (r.contains(way) && r[way] != false) ++streams;
  if (streams > 1) throw ScenarioError(where + " may be only one of endless, drip_ms and truncate");
  if (r.contains("status") && !r["status"].is_number_integer()) throw ScenarioError(where + ".status must be an integer");
  if (r.contains("body") && !r["body"].is_string()) throw ScenarioError(where + ".body must be a string");
  if (r.contains("body_file")) {
    if (!r["body_file"].is_string() || !isCreativeFilePath(r["body_file"].get<std::string>()))
      throw ScenarioError(where + ".body_file must name a file of the creatives directory (like \"banner/index.html\")");
    if (r.contains("body")) throw ScenarioError(where + " has both body and body_file");
  }
  if (r.contains("content_type") && !r["content_type"].is_string())
    throw ScenarioError(where + ".content_type must be a string");
  if (r.contains("headers")) {
    requireObject(r["headers"], (where + ".headers").c_str());
    for (auto& [k, v] : r["headers"].items())
      if (!v.is_string()) throw ScenarioError(where + ".headers." + k + " must be a string");
  }
}

void applyResponse(const nlohmann::json& r, httplib::Response& res, const char* defaultType) {
  res.status = r.value("status", 200);
  std::string contentType = r.value("content_type", std::string(defaultType));
  // The response type an ad's headers give it (docs/adserver.md); the scenario's own
  // headers come after and win.
  const std::string type = r.value("response_type", std::string("html"));
  auto typeHeader = [&](const std::string& name, const std::string& value) {
    if (r.contains("headers"))
      for (auto it = r["headers"].begin(); it != r["headers"].end(); ++it)
        if (lower(it.key()) == lower(name)) return;
    res.set_header(name, value);
  };
  if (type == "mediation") {
    typeHeader("X-Qvra-Mediation", "1");
    if (!r.contains("content_type")) contentType = "application/json";
  } else if (type == "native") {
    typeHeader("X-Qvra-Ad-Format", "native");
  } else if (type == "custom_rendering") {
    typeHeader("X-Qvra-Custom-Rendering-Allowed", "1");
  }
  if (r.contains("headers"))
    for (auto it = r["headers"].begin(); it != r["headers"].end(); ++it) res.set_header(it.key(), it.value().get<std::string>());
  std::string body = r.value("body", std::string());
  if (r.value("truncate", false)) {
    // Headers promising the whole body, half of it, then the connection drops: a failure
    // in the middle of an answer.
    const std::size_t promised = body.size() + 64;
    auto shared = std::make_shared<std::string>(std::move(body));
    res.set_content_provider(promised, contentType, [shared](std::size_t offset, std::size_t, httplib::DataSink& sink) {
      if (offset == 0 && !shared->empty()) sink.write(shared->data(), (shared->size() + 1) / 2);
      return false;
    });
    return;
  }
  res.set_content(body, contentType);
}

// The creative file `relative` of `directory`, or none when it cannot be read or is too
// large.
std::optional<std::string> readCreativeFile(const std::string& directory, const std::string& relative) {
  if (directory.empty() || !isCreativeFilePath(relative)) return std::nullopt;
  std::ifstream in(directory + "/" + relative, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > AdServer::kMaximumCreativeFileSize) return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  return text;
}

}  // namespace

bool isCreativeFilePath(std::string_view path) {
  if (path.empty() || path.size() > 256) return false;
  std::size_t depth = 0;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment.empty() || segment[0] == '.' || ++depth > 8) return false;
    for (char c : segment)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') return false;
    start = end + 1;
  }
  return true;
}

std::string creativeContentType(std::string_view path) {
  static const std::pair<const char*, const char*> types[] = {
      {".html", "text/html; charset=utf-8"}, {".js", "application/javascript"}, {".css", "text/css"},
      {".png", "image/png"},                 {".json", "application/json"},     {".svg", "image/svg+xml"},
      {".txt", "text/plain; charset=utf-8"},
  };
  const std::string lowered = lower(std::string(path));
  for (const auto& [extension, type] : types) {
    const std::string_view ext(extension);
    if (lowered.size() > ext.size() && lowered.compare(lowered.size() - ext.size(), ext.size(), ext) == 0) return type;
  }
  return "application/octet-stream";
}

std::string AdServer::defaultCreativesDirectory() { return WV_ADSERVER_CREATIVES_DIR; }

const std::string& sdkCorePageHTML() {
  static const std::string page(kSDKCorePageHTML);
  return page;
}

const std::string& sdkCorePageScript() {
  static const std::string script(kSDKCorePageScript);
  return script;
}

std::optional<std::string> testCreative(std::string_view path) {
  constexpr std::string_view prefix = "/creatives/";
  if (path.substr(0, prefix.size()) != prefix) return std::nullopt;
  const std::string name(path.substr(prefix.size()));
  // A plain file name of the folder, nothing that could leave it.
  if (name.size() < 6 || name.substr(name.size() - 5) != ".html" ||
      name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") != name.size() - 5)
    return std::nullopt;
  std::ifstream in(std::string(WV_ADSERVER_CREATIVES_DIR) + "/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string mraidScript(std::string_view placement) {
  return "window.QVRA_MRAID_PLACEMENT = '" + std::string(placement) + "';\n" + kMRAIDScript;
}

const std::string& nativeAdsPageHTML() {
  static const std::string page(kNativeAdsPageHTML);
  return page;
}

const std::string& imagePNG() {
  static const unsigned char kPNG[] = {
      0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00,
      0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x08, 0x06, 0x00, 0x00, 0x00, 0xc4, 0x0f, 0xbe, 0x8b, 0x00,
      0x00, 0x00, 0x1b, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xe0, 0x59, 0x77, 0xee, 0x3f, 0x3e, 0xcc,
      0x40, 0x07, 0x05, 0x1f, 0x16, 0x88, 0xfc, 0xc7, 0x87, 0xe9, 0xa0, 0x00, 0x00, 0x2a, 0x54, 0xa5, 0x41,
      0xe6, 0xc4, 0x91, 0xe2, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
  static const std::string png(reinterpret_cast<const char*>(kPNG), sizeof kPNG);
  return png;
}

nlohmann::json AdServer::parseScenario(std::string_view text) {
  nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (j.is_discarded()) throw ScenarioError("the scenario is not JSON");
  requireObject(j, "the scenario");
  requireKnownFields(j, "", {"constants", "answers", "ads", "ad_rules", "default_ad", "files", "hang_paths"});
  if (j.contains("constants")) {
    requireObject(j["constants"], "constants");
    for (auto& [k, v] : j["constants"].items())
      if (!v.is_string() && !v.is_number() && !v.is_boolean())
        throw ScenarioError("constants." + k + " must be text (JSON-valued constants are written as JSON text)");
  }
  if (j.contains("answers")) {
    if (!j["answers"].is_array()) throw ScenarioError("answers must be a list");
    for (std::size_t i = 0; i < j["answers"].size(); ++i) {
      const auto& rule = j["answers"][i];
      const std::string where = "answers[" + std::to_string(i) + "]";
      requireObject(rule, where.c_str());
      requireKnownFields(rule, where, {"when", "answer", "ad", "extra", "is_mediation"});
      const std::string kind = rule.value("answer", std::string("loadAdURL"));
      if (kind != "loadAdURL" && kind != "loadAd" && kind != "invalidRequest" && kind != "fetchAd" && kind != "silence")
        throw ScenarioError(where + ".answer must be loadAdURL, loadAd, invalidRequest, fetchAd or silence");
      if (rule.contains("when")) requireObject(rule["when"], (where + ".when").c_str());
      if (rule.contains("ad")) requireObject(rule["ad"], (where + ".ad").c_str());
      if (rule.contains("extra")) requireObject(rule["extra"], (where + ".extra").c_str());
      if (rule.contains("is_mediation") && !rule["is_mediation"].is_boolean())
        throw ScenarioError(where + ".is_mediation must be true or false");
    }
  }
  if (j.contains("ads")) {
    requireObject(j["ads"], "ads");
    for (auto& [name, ad] : j["ads"].items()) checkResponse(ad, "ads." + name);
  }
  if (j.contains("ad_rules")) {
    if (!j["ad_rules"].is_array()) throw ScenarioError("ad_rules must be a list");
    for (std::size_t i = 0; i < j["ad_rules"].size(); ++i) {
      const auto& rule = j["ad_rules"][i];
      const std::string where = "ad_rules[" + std::to_string(i) + "]";
      requireObject(rule, where.c_str());
      requireKnownFields(rule, where, {"when", "ad", "ads"});
      if (rule.contains("when")) requireObject(rule["when"], (where + ".when").c_str());
      // "ad" names one ad; "ads" names several, served in turn.
      std::vector<std::string> names;
      if (rule.contains("ad") && rule["ad"].is_string()) {
        names.push_back(rule["ad"].get<std::string>());
      } else if (rule.contains("ads") && rule["ads"].is_array() && !rule["ads"].empty()) {
        for (const auto& name : rule["ads"]) {
          if (!name.is_string()) throw ScenarioError(where + ".ads must be a list of ad names");
          names.push_back(name.get<std::string>());
        }
      } else {
        throw ScenarioError(where + ".ad must name an ad (or " + where + ".ads list ads served in turn)");
      }
      for (const auto& name : names)
        if (!j.contains("ads") || !j["ads"].contains(name)) throw ScenarioError(where + " names the unknown ad " + name);
    }
  }
  if (j.contains("default_ad") && (!j["default_ad"].is_string() || !j.contains("ads") ||
                                   !j["ads"].contains(j["default_ad"].get<std::string>())))
    throw ScenarioError("default_ad must name an ad of ads");
  if (j.contains("files")) {
    requireObject(j["files"], "files");
    for (auto& [path, file] : j["files"].items()) {
      if (path.empty() || path[0] != '/') throw ScenarioError("files keys are paths starting with /");
      checkResponse(file, "files." + path);
    }
  }
  if (j.contains("hang_paths")) {
    if (!j["hang_paths"].is_array()) throw ScenarioError("hang_paths must be a list of paths");
    for (const auto& p : j["hang_paths"])
      if (!p.is_string()) throw ScenarioError("hang_paths must be a list of paths");
  }
  return j;
}

nlohmann::json AdServer::loadScenarioFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw ScenarioError("cannot read the scenario file " + path);
  std::stringstream text;
  text << in.rdbuf();
  return parseScenario(text.str());
}

AdServer::AdServer(nlohmann::json scenario)
    : server_(std::make_unique<httplib::Server>()),
      scenario_(std::move(scenario)),
      creativesDirectory_(defaultCreativesDirectory()) {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); };
  server_->Get(".*", handler);
  server_->Post(".*", handler);
  server_->Delete(".*", handler);
  server_->set_keep_alive_max_count(1);
  // An answer goes out in more than one write; with Nagle's algorithm the later ones
  // wait for the client's acknowledgement of the first.
  server_->set_tcp_nodelay(true);
}

AdServer::~AdServer() { stop(); }

bool AdServer::start(int port) {
  if (port == 0) {
    port_ = server_->bind_to_any_port("127.0.0.1");
  } else {
    port_ = server_->bind_to_port("127.0.0.1", port) ? port : -1;
  }
  if (port_ <= 0) return false;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::yield();
  return true;
}

void AdServer::stop() {
  {
    std::lock_guard lock(mu_);
    if (stopped_) return;
    stopped_ = true;
  }
  stopping_.notify_all();
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string AdServer::baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }

void AdServer::setScenario(nlohmann::json scenario) {
  std::lock_guard lock(mu_);
  scenario_ = std::move(scenario);
}

std::vector<RecordedRequest> AdServer::requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

std::vector<RecordedRequest> AdServer::requestsForPath(std::string_view path) const {
  std::vector<RecordedRequest> out;
  for (auto& r : requests())
    if (r.path == path) out.push_back(r);
  return out;
}

void AdServer::clearRequests() {
  std::lock_guard lock(mu_);
  requests_.clear();
}

void AdServer::setLogFile(std::string path) {
  std::lock_guard lock(mu_);
  logFile_ = std::move(path);
}

void AdServer::setCreativesDirectory(std::string path) {
  std::lock_guard lock(mu_);
  creativesDirectory_ = std::move(path);
}

void AdServer::record(const httplib::Request& req) {
  RecordedRequest r;
  r.method = req.method;
  r.path = req.path;
  const auto q = req.target.find('?');
  if (q != std::string::npos) r.query = req.target.substr(q + 1);
  for (const auto& [k, v] : req.headers) {
    // The HTTP library files the connection's own addresses among the header fields; they
    // are not what the client sent.
    const std::string name = lower(k);
    if (name == "local_addr" || name == "local_port" || name == "remote_addr" || name == "remote_port") continue;
    r.headers[name] = v;
  }
  r.body = req.body;
  std::lock_guard lock(mu_);
  if (!logFile_.empty()) {
    nlohmann::json line = {{"method", r.method}, {"path", r.path}, {"query", r.query}, {"headers", r.headers},
                           {"body", r.body}};
    std::ofstream(logFile_, std::ios::app) << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  }
  if (requests_.size() < kMaximumRecorded) requests_.push_back(std::move(r));
}

void AdServer::waitWhileHanging() {
  std::unique_lock lock(mu_);
  stopping_.wait(lock, [this] { return stopped_; });
}

void AdServer::handle(const httplib::Request& req, httplib::Response& res) {
  if (req.path == kRequestsPath) {
    if (req.method == "DELETE") {
      clearRequests();
      return;
    }
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : requests())
      list.push_back({{"method", r.method}, {"path", r.path}, {"query", r.query}, {"headers", r.headers}, {"body", r.body}});
    res.set_content(list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), "application/json");
    return;
  }
  record(req);
  nlohmann::json scenario;
  {
    std::lock_guard lock(mu_);
    scenario = scenario_;
  }
  if (scenario.contains("hang_paths")) {
    for (const auto& p : scenario["hang_paths"]) {
      if (p.is_string() && p.get<std::string>() == req.path) {
        waitWhileHanging();
        res.status = 503;
        return;
      }
    }
  }
  if (serveFile(req, scenario, res)) return;
  if (req.path == kPagePath) {
    res.set_content(sdkCorePageHTML(), "text/html");
  } else if (req.path == kScriptPath) {
    res.set_content(sdkCorePageScript(), "application/javascript");
  } else if (req.path == kConfigPath) {
    nlohmann::json config = {{"ad_path", kAdPath},
                             {"answers", scenario.value("answers", nlohmann::json::array())},
                             {"constants", scenario.value("constants", nlohmann::json::object())}};
    // U+2028 and U+2029 are line ends for the page's engine: keep them escaped.
    std::string json = config.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
    // "{base}" in an answer is this server's address too (an ad the page delivers can load
    // its script from here).
    const std::string base = baseURL();
    for (std::size_t at = json.find("{base}"); at != std::string::npos; at = json.find("{base}", at + base.size()))
      json.replace(at, 6, base);
    res.set_content("var QVRA_CONFIG = " + json + ";\n", "application/javascript");
  } else if (req.path == kAdPath) {
    serveAd(req, scenario, res);
  } else if (req.path == kMRAIDBannerPath || req.path == kMRAIDExpandedBannerPath) {
    res.set_content(mraidScript("inline"), "application/javascript");
  } else if (req.path == kMRAIDInterstitialPath) {
    res.set_content(mraidScript("interstitial"), "application/javascript");
  } else if (auto creative = testCreative(req.path)) {
    res.set_content(*creative, "text/html");
  } else if (req.path == kNativeAdsPagePath) {
    res.set_content(nativeAdsPageHTML(), "text/html");
  } else if (req.path.rfind(kImageFolder, 0) == 0 && req.path.size() > 4 &&
             req.path.compare(req.path.size() - 4, 4, ".png") == 0) {
    res.set_content(imagePNG(), "image/png");
  } else if (req.path.rfind(kCreativesPath, 0) == 0) {
    const std::string relative = req.path.substr(std::string_view(kCreativesPath).size());
    std::string directory;
    {
      std::lock_guard lock(mu_);
      directory = creativesDirectory_;
    }
    auto file = readCreativeFile(directory, relative);
    if (!file) {
      res.status = 404;
      return;
    }
    // Ad servers let any page read their files (canvas pixels of an image, fetch).
    res.set_header("Access-Control-Allow-Origin", "*");
    res.set_header("Cache-Control", "no-store");
    res.set_content(*file, creativeContentType(relative));
  } else if (req.path.rfind("/qads/static/sdk/native/mraid/", 0) == 0) {
    res.set_content("window.mraid = window.mraid || { getVersion: function () { return '2.0'; } };\n",
                    "application/javascript");
  } else {
    // Pings, reports and every other endpoint: recorded and answered empty.
    res.status = 200;
  }
}

bool AdServer::serveFile(const httplib::Request& req, const nlohmann::json& scenario, httplib::Response& res) {
  const std::string& path = req.path;
  if (!scenario.contains("files") || !scenario["files"].contains(path)) return false;
  respond(req, scenario["files"][path], res);
  return true;
}

void AdServer::respond(const httplib::Request& req, const nlohmann::json& described, httplib::Response& res) {
  // "{base}" in a body or a header value is this server's address, so an ad can name its
  // own click and impression URLs before the port is known.
  nlohmann::json r = described;
  if (r.contains("body_file")) {
    const std::string relative = r["body_file"].get<std::string>();
    std::string directory;
    {
      std::lock_guard lock(mu_);
      directory = creativesDirectory_;
    }
    auto file = readCreativeFile(directory, relative);
    if (!file) {
      res.status = 500;
      res.set_content("adserver: cannot read the creative file " + relative, "text/plain");
      return;
    }
    r["body"] = std::move(*file);
    if (!r.contains("content_type")) r["content_type"] = creativeContentType(relative);
  }
  const std::string base = baseURL();
  auto fill = [&base](std::string text) {
    for (std::size_t at = text.find("{base}"); at != std::string::npos; at = text.find("{base}", at + base.size()))
      text.replace(at, 6, base);
    return text;
  };
  if (r.contains("body") && r["body"].is_string()) r["body"] = fill(r["body"].get<std::string>());
  if (r.contains("headers"))
    for (auto& [name, value] : r["headers"].items())
      if (value.is_string()) value = fill(value.get<std::string>());
  if (r.value("hang", false)) {
    waitWhileHanging();
    res.status = 503;
    return;
  }
  if (const int delay = r.value("delay_ms", 0); delay > 0) {
    std::unique_lock lock(mu_);
    stopping_.wait_for(lock, std::chrono::milliseconds(delay), [this] { return stopped_; });
  }
  applyResponse(r, res, "text/html");
  if (r.value("endless", false) || r.contains("drip_ms")) stream(req, r, res);
}

// A body without end (or one byte at a time) after the described body, of no announced
// length, until the client hangs up, the server stops, or `stream_seconds` pass.
void AdServer::stream(const httplib::Request& req, const nlohmann::json& r, httplib::Response& res) {
  // httplib picks a compression from the request's Accept-Encoding once the handler has
  // returned, and a compressor holds bytes back until it has a block's worth: these go on
  // the wire as they are, a drip byte by byte. (The request is httplib's own object, not
  // a constant one.)
  const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
  std::string contentType = res.get_header_value("Content-Type");
  res.headers.erase("Content-Type");
  auto body = std::make_shared<std::string>(std::move(res.body));
  res.body.clear();
  const int drip = r.value("drip_ms", 0);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(r.value("stream_seconds", kDefaultStreamSeconds));
  res.set_chunked_content_provider(contentType, [this, body, drip, until](std::size_t offset, httplib::DataSink& sink) {
    {
      std::lock_guard lock(mu_);
      if (stopped_) return false;
    }
    if (std::chrono::steady_clock::now() >= until) {
      sink.done();
      return true;
    }
    if (drip == 0) {
      static const std::string filler(64 << 10, ' ');
      if (offset < body->size()) return sink.write(body->data() + offset, body->size() - offset);
      return sink.write(filler.data(), filler.size());
    }
    const char next = offset < body->size() ? (*body)[offset] : ' ';
    if (!sink.write(&next, 1)) return false;
    std::unique_lock lock(mu_);
    stopping_.wait_for(lock, std::chrono::milliseconds(drip), [this] { return stopped_; });
    return !stopped_;
  });
}

void AdServer::serveAd(const httplib::Request& req, const nlohmann::json& scenario, httplib::Response& res) {
  const auto ads = scenario.value("ads", nlohmann::json::object());
  std::optional<std::string> chosen;
  const nlohmann::json rules = scenario.contains("ad_rules") ? scenario["ad_rules"] : nlohmann::json::array();
  for (std::size_t index = 0; index < rules.size(); ++index) {
    const auto& rule = rules[index];
    bool match = true;
    if (rule.contains("when")) {
      const nlohmann::json& when = rule["when"];
      for (auto it = when.begin(); it != when.end(); ++it) {
        const std::string want = it.value().is_string() ? it.value().get<std::string>() : it.value().dump();
        if (!req.has_param(it.key()) || req.get_param_value(it.key()) != want) match = false;
      }
    }
    if (match) {
      if (rule.contains("ad")) {
        chosen = rule["ad"].get<std::string>();
      } else {
        std::lock_guard lock(mu_);
        const std::size_t turn = ruleTurns_[index]++;
        chosen = rule["ads"][turn % rule["ads"].size()].get<std::string>();
      }
      break;
    }
  }
  if (!chosen && scenario.contains("default_ad")) chosen = scenario["default_ad"].get<std::string>();
  if (!chosen || !ads.contains(*chosen)) {
    res.status = 200;  // no fill: an empty answer
    return;
  }
  respond(req, ads[*chosen], res);
}

}  // namespace adserver
