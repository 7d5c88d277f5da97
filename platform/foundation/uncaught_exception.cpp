#include "platform/foundation/uncaught_exception.h"

#include <execinfo.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace foundation {

namespace {

std::atomic<UncaughtExceptionHandler> installedHandler{nullptr};

[[noreturn]] void onTerminate() {
  Exception exception{"std::terminate", std::nullopt, currentCallStackSymbols()};
  if (auto current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const RaisedException& e) {
      exception = e.exception();
    } catch (const std::exception& e) {
      exception = Exception{"std::exception", std::string(e.what()), currentCallStackSymbols()};
    } catch (...) {
      exception.name = "unknown exception";
    }
  }
  if (auto handler = installedHandler.load()) handler(exception);
  std::abort();
}

}  // namespace

std::vector<std::string> currentCallStackSymbols() {
  void* frames[64];
  int count = backtrace(frames, 64);
  std::vector<std::string> lines;
  if (char** symbols = backtrace_symbols(frames, count)) {
    for (int i = 1; i < count; ++i) lines.emplace_back(symbols[i]);  // without this function's own frame
    std::free(symbols);
  }
  return lines;
}

void raiseException(std::string name, std::optional<std::string> reason) {
  throw RaisedException(Exception{std::move(name), std::move(reason), currentCallStackSymbols()});
}

UncaughtExceptionHandler getUncaughtExceptionHandler() { return installedHandler.load(); }

void setUncaughtExceptionHandler(UncaughtExceptionHandler handler) {
  static std::once_flag hooked;
  std::call_once(hooked, [] { std::set_terminate(&onTerminate); });
  installedHandler.store(handler);
}

std::string processName() { return program_invocation_short_name; }

}  // namespace foundation
