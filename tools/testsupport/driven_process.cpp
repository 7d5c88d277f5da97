#include "tools/testsupport/driven_process.h"

#include <gtest/gtest.h>
#include <poll.h>
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
  for (;;) {
    auto nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      auto line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return line;
    }
    pollfd p{fromChild_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout_.count())) <= 0) return "<no answer>";
    char buf[4096];
    auto n = ::read(fromChild_, buf, sizeof buf);
    if (n <= 0) return "<closed>";
    buffer_.append(buf, static_cast<std::size_t>(n));
  }
}

}  // namespace testsupport
