#include "tools/testsupport/spawn_on_pipes.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

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

SpawnedProgram spawnOnPipes(const std::string& path, const std::vector<std::string>& args,
                            const std::vector<std::string>& env, const std::string& stderrPath) {
  SpawnedProgram program;
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) {
    program.error = errno;
    return program;
  }
  if (::pipe2(out, O_CLOEXEC) != 0) {
    program.error = errno;
    ::close(in[0]);
    ::close(in[1]);
    return program;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (!stderrPath.empty())
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  std::vector<std::string> environment = env;
  for (char** e = environ; *e; ++e) {
    std::string s = *e;
    if (s.rfind("WARDVANE_", 0) != 0 && s.rfind("TZ=", 0) != 0) environment.push_back(s);
  }
  std::vector<std::string> argv = {path};
  argv.insert(argv.end(), args.begin(), args.end());
  auto cargv = cStrings(argv);
  auto cenv = cStrings(environment);
  const int rc = posix_spawn(&program.pid, path.c_str(), &actions, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  program.toChild = in[1];
  program.fromChild = out[0];
  if (rc != 0) {
    program.pid = -1;
    program.error = rc;
  }
  return program;
}

LineReader::Status LineReader::next(int fd, std::chrono::milliseconds timeout, std::string& line) {
  for (;;) {
    const auto nl = buffer_.find('\n');
    if (nl != std::string::npos) {
      line = buffer_.substr(0, nl);
      buffer_.erase(0, nl + 1);
      return Status::Line;
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return Status::TimedOut;
    char chunk[4096];
    const auto n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) {
      if (buffer_.empty()) return Status::Closed;
      line = std::exchange(buffer_, "");
      return Status::Line;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace testsupport
