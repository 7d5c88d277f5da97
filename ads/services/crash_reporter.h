#pragma once
// Crash reports. The component's uncaught-exception handler sits in front of whatever
// handler the host had; when the exception involves the component's own code it files a
// report ping in the retry group "/quillon/ads/crash_reporting", stored (and on disk)
// before the host's handler runs, so a report the dying process cannot send goes out at
// a later launch. The previous handler always runs afterwards.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/uncaught_exception.h"
#include "platform/net/url.h"

inline constexpr const char* kQMACrashReportingRetryGroupKey = "/quillon/ads/crash_reporting";
inline constexpr std::size_t kQMACrashReportTraceLimit = 500;

class QMACrashReporter {
 public:
  static const std::shared_ptr<QMACrashReporter>& sharedInstance();
  // A reporter as a new process starts with (the shared one is the first of these);
  // tests make their own so each starts from a fresh process's state.
  static std::shared_ptr<QMACrashReporter> create();
  // A reporter that installed the handler takes it out again when it goes, putting the
  // previous handler back (the shared one never goes).
  ~QMACrashReporter();

  // Installs the component's handler in front of the installed one (once); the handler
  // then reports for this reporter.
  void enableReporting();
  // Ends reporting for the rest of the process and puts the previous handler back when
  // the component's is the installed one.
  void disableReporting();
  bool enabled() const { return enabled_; }

 private:
  QMACrashReporter() = default;
  std::atomic<bool> enabled_{true};
};

// The component's handler.
void QMAUncaughtExceptionHandler(const foundation::Exception& exception);
// The handler found when the component's was installed (null when there was none).
foundation::UncaughtExceptionHandler QMAPreviousUncaughtExceptionHandler();

// Runs of space, "-", "[", "]", ":", tab and "+" each become one "_".
std::string QMASanitizedCrashText(std::string_view text);
// The report's trace: the exception's name, its sanitised reason (or "filtered") and
// every call-stack line with the process name replaced and sanitised, joined by "-" and
// cut to 500 characters. Nullopt when nothing in it names the component.
std::optional<std::string> QMACrashReportTrace(const foundation::Exception& exception, const std::string& processName);
// The crash-report endpoint with the seven report parameters.
std::optional<net::URL> QMACrashReportURL(const std::string& trace);
