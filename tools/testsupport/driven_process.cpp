#include "tools/testsupport/driven_process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "tools/testsupport/spawn_on_pipes.h"

namespace testsupport {

DrivenProcess::DrivenProcess(const std::string& path, const std::vector<std::string>& args,
                             const std::vector<std::string>& env, std::chrono::milliseconds timeout)
    : path_(path), timeout_(timeout) {
  const SpawnedProgram program = spawnOnPipes(path, args, env);
  EXPECT_NE(program.pid, -1) << path << ": " << std::strerror(program.error);
  pid_ = program.pid;
  toChild_ = program.toChild;
  fromChild_ = program.fromChild;
}

DrivenProcess::~DrivenProcess() {
  ::close(toChild_);  // end of the commands: the program ends
  if (pid_ > 0) {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << path_ << " exit status " << status;
  }
  ::close(fromChild_);
}

std::string DrivenProcess::send(const std::string& command) {
  std::string line = command + "\n";
  EXPECT_EQ(::write(toChild_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  return readLine();
}

std::string DrivenProcess::readLine() {
  std::string line;
  switch (lines_.next(fromChild_, timeout_, line)) {
    case LineReader::Status::Line:
      return line;
    case LineReader::Status::TimedOut:
      return "<no answer>";
    case LineReader::Status::Closed:
      break;
  }
  return "<closed>";
}

}  // namespace testsupport
