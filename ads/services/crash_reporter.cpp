#include "ads/services/crash_reporter.h"

#include "ads/services/application.h"
#include "ads/services/device.h"
#include "ads/services/pinger.h"
#include "ads/services/sdk_version.h"
#include "ads/services/url_utilities.h"
#include "platform/foundation/user_defaults.h"
#include "platform/net/ad_network.h"

namespace {

std::atomic<foundation::UncaughtExceptionHandler> previousHandler{nullptr};
// The reporter whose enableReporting installed the handler: the handler asks it whether
// reporting is still on. Cleared by that reporter's destructor.
std::atomic<QMACrashReporter*> installingReporter{nullptr};

bool namesComponent(std::string_view text) {
  return text.find("QMA") != std::string_view::npos || text.find("KVR") != std::string_view::npos;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// The first `limit` characters (code points), so a cut never splits one.
std::string prefixOfCharacters(const std::string& text, std::size_t limit) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters++ == limit) return text.substr(0, i);
  }
  return text;
}

}  // namespace

const std::shared_ptr<QMACrashReporter>& QMACrashReporter::sharedInstance() {
  // Never destroyed: a crash late in the process's exit still finds it.
  static const auto* instance = new std::shared_ptr<QMACrashReporter>(create());
  return *instance;
}

std::shared_ptr<QMACrashReporter> QMACrashReporter::create() {
  return std::shared_ptr<QMACrashReporter>(new QMACrashReporter());
}

QMACrashReporter::~QMACrashReporter() {
  QMACrashReporter* self = this;
  if (!installingReporter.compare_exchange_strong(self, nullptr)) return;
  if (foundation::getUncaughtExceptionHandler() == &QMAUncaughtExceptionHandler)
    foundation::setUncaughtExceptionHandler(previousHandler.load());
  previousHandler.store(nullptr);
}

void QMACrashReporter::enableReporting() {
  if (!enabled_) return;
  auto installed = foundation::getUncaughtExceptionHandler();
  if (installed == &QMAUncaughtExceptionHandler) return;
  previousHandler.store(installed);
  installingReporter.store(this);
  foundation::setUncaughtExceptionHandler(&QMAUncaughtExceptionHandler);
}

void QMACrashReporter::disableReporting() {
  enabled_ = false;
  if (foundation::getUncaughtExceptionHandler() == &QMAUncaughtExceptionHandler)
    foundation::setUncaughtExceptionHandler(previousHandler.load());
}

foundation::UncaughtExceptionHandler QMAPreviousUncaughtExceptionHandler() { return previousHandler.load(); }

std::string QMASanitizedCrashText(std::string_view text) {
  std::string out;
  bool inRun = false;
  for (char c : text) {
    bool special = c == ' ' || c == '-' || c == '[' || c == ']' || c == ':' || c == '\t' || c == '+';
    if (special) {
      if (!inRun) out += '_';
      inRun = true;
    } else {
      out += c;
      inRun = false;
    }
  }
  return out;
}

std::optional<std::string> QMACrashReportTrace(const foundation::Exception& exception, const std::string& processName) {
  std::vector<std::string> parts{exception.name};
  bool ours = false;
  std::string reason = QMASanitizedCrashText(exception.reason.value_or(""));
  if (namesComponent(reason)) {
    ours = true;
    parts.push_back(reason);
  } else {
    parts.push_back("filtered");
  }
  for (std::string line : exception.callStackSymbols) {
    replaceAll(line, processName, "filtered");
    if (namesComponent(line)) ours = true;
    parts.push_back(QMASanitizedCrashText(line));
  }
  if (!ours) return std::nullopt;
  std::string trace;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) trace += '-';
    trace += parts[i];
  }
  return prefixOfCharacters(trace, kQMACrashReportTraceLimit);
}

std::optional<net::URL> QMACrashReportURL(const std::string& trace) {
  auto endpoint = net::URL::fromString(net::adNetworkURL("/qads/report_event"));
  if (!endpoint) return std::nullopt;
  // A fact the process does not know goes out empty rather than holding the report back.
  const auto& app = QMAApplication::sharedInstance();
  const auto& device = QMADevice::sharedInstance();
  return qma_appendQueryParameters(*endpoint, QMAQueryParameters{
                                                  {"os", device->systemVersion().value_or("")},
                                                  {"appid", app->mainBundleIdentifier().value_or("")},
                                                  {"api", app->version()},
                                                  {"js", kQMASDKVersion},
                                                  {"device", device->deviceModel().value_or("")},
                                                  {"stacktrace", trace},
                                                  {"id", "qmob-apps-report-exception"},
                                              });
}

void QMAUncaughtExceptionHandler(const foundation::Exception& exception) {
  // A host that chained to this handler after reporting was switched off gets only the chain.
  const QMACrashReporter* reporter = installingReporter.load();
  if (reporter && reporter->enabled()) {
    if (auto trace = QMACrashReportTrace(exception, foundation::processName())) {
      if (auto url = QMACrashReportURL(*trace)) {
        const auto& pinger = QMAPinger::sharedInstance();
        pinger->storeRetryURLStringRetryGroupKey(url->absoluteString(), kQMACrashReportingRetryGroupKey);
        // On disk before the previous handler, which usually ends the process.
        foundation::UserDefaults::standardUserDefaults()->synchronize();
        pinger->pingWithRetryGroupKeyURLRetryURLString(kQMACrashReportingRetryGroupKey, url, url->absoluteString());
      }
    }
  }
  if (auto previous = previousHandler.load()) previous(exception);
}
