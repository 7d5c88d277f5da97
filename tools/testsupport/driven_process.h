#pragma once
// A program driven over two pipes, as the tests that run whole programs use it: each
// command is a line on its standard input, each answer a line on its standard output.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "tools/testsupport/spawn_on_pipes.h"

namespace testsupport {

class DrivenProcess {
 public:
  // Starts `path` with `args`. Its environment is `env` followed by this process's own,
  // less any WARDVANE_* or TZ setting, so a test's device root and time zone are the
  // only ones the program sees. A failed start is a test failure.
  DrivenProcess(const std::string& path, const std::vector<std::string>& args, const std::vector<std::string>& env,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Closes the program's input, which ends it, and expects it to exit with status 0.
  ~DrivenProcess();
  DrivenProcess(const DrivenProcess&) = delete;
  DrivenProcess& operator=(const DrivenProcess&) = delete;

  // Writes `command` and a newline, and answers the next line.
  std::string send(const std::string& command);
  // The next line of output without its newline; "<no answer>" when none comes within
  // the time-out, "<closed>" when the program closed its output.
  std::string readLine();
  // The program's process id (for a test that looks at its use of the machine).
  pid_t pid() const { return pid_; }

 private:
  std::string path_;
  std::chrono::milliseconds timeout_;
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  LineReader lines_;
};

}  // namespace testsupport
