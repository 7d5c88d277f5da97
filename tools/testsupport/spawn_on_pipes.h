#pragma once
// Starting a program on two pipes, shared by the tests and benchmarks that run whole
// programs: its standard input and output are ours to write and read.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

struct SpawnedProgram {
  pid_t pid = -1;      // -1: it did not start
  int toChild = -1;    // its standard input
  int fromChild = -1;  // its standard output
  int error = 0;       // why it did not start (an errno value)
};

// Starts `path` with `args`. Its environment is `env` followed by this process's own, less
// any WARDVANE_* or TZ setting, so the caller's device root and time zone are the only ones
// the program sees. Its standard error is appended to `stderrPath` when one is given, else
// it is ours. Both pipe ends we keep are closed on exec, so a program started later never
// holds them open.
SpawnedProgram spawnOnPipes(const std::string& path, const std::vector<std::string>& args,
                            const std::vector<std::string>& env, const std::string& stderrPath = {});

// The lines a program writes, as they come.
class LineReader {
 public:
  enum class Status { Line, TimedOut, Closed };
  // The next line of `fd` without its newline, into `line`. A last line without a newline
  // still comes as a line before Closed. TimedOut when nothing new comes within `timeout`.
  Status next(int fd, std::chrono::milliseconds timeout, std::string& line);

 private:
  std::string buffer_;
};

}  // namespace testsupport
