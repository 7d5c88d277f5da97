#pragma once
// The system log. Lines go to standard error with a time stamp and the process name,
// unless a program or a test installs a sink of its own.

#include <functional>
#include <string>

namespace foundation {

// Writes one whole line; "%" in the text is written as it is.
void systemLog(const std::string& text);
// Replaces where lines go (nullptr: standard error again). Returns the previous sink.
using LogSink = std::function<void(const std::string&)>;
LogSink setLogSink(LogSink sink);

}  // namespace foundation
