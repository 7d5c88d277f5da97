#include "tools/testsupport/driven_process.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

namespace {

std::vector<char*> cStrings(std::vector<std::string>& v) {
  std::vector<char*> c;
  for (auto& s : v) c.push_back(s.data());
  c.push_back(nullptr);
  return c;
}

}  // namespace

DrivenProcess::DrivenProcess(const std::string& path, const std::vector<std::string>& args,
                             const std::vector<std::string>& env, std::chrono::milliseconds timeout)
    : path_(path), timeout_(timeout) {
  int in[2], out[2];
  EXPECT_EQ(::pipe(in), 0);
  EXPECT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, in[1]);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  std::vector<std::string> environment = env;
  for (char** e = environ; *e; ++e) {
    std::string s = *e;
    if (s.rfind("WARDVANE_", 0) != 0 && s.rfind("TZ=", 0) != 0) environment.push_back(s);
  }
  std::vector<std::string> argv = {path};
  argv.insert(argv.end(), args.begin(), args.end());
  auto cargv = cStrings(argv);
  auto cenv = cStrings(environment);
  int spawned = posix_spawn(&pid_, path.c_str(), &fa, nullptr, cargv.data(), cenv.data());
  EXPECT_EQ(spawned, 0) << path;
  if (spawned != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&fa);
  ::close(in[0]);
  ::close(out[1]);
  toChild_ = in[1];
  fromChild_ = out[0];
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
