#pragma once
// Exceptions the way the platform raises them (a name, a reason and the call stack where
// they were raised) and the one process-wide uncaught-exception handler: an exception
// that no one catches, on any thread, reaches the installed handler before the process
// aborts.

#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace foundation {

struct Exception {
  std::string name;
  std::optional<std::string> reason;
  std::vector<std::string> callStackSymbols;  // one line per frame, innermost first
};

class RaisedException : public std::exception {
 public:
  explicit RaisedException(Exception e) : exception_(std::move(e)) {}
  const Exception& exception() const { return exception_; }
  const char* what() const noexcept override { return exception_.name.c_str(); }

 private:
  Exception exception_;
};

// Throws a RaisedException carrying the current call stack.
[[noreturn]] void raiseException(std::string name, std::optional<std::string> reason);
std::vector<std::string> currentCallStackSymbols();

using UncaughtExceptionHandler = void (*)(const Exception& exception);
UncaughtExceptionHandler getUncaughtExceptionHandler();
// Installing any handler (null included) also hooks the process's terminate path, once.
void setUncaughtExceptionHandler(UncaughtExceptionHandler handler);

// The running program's name, as its call-stack lines show it.
std::string processName();

}  // namespace foundation
