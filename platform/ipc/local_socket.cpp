#include "platform/ipc/local_socket.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace ipc {
namespace {

void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// Checks what lstat says of `dir`: a real folder (not a link to one) owned by this user.
bool isFolderOfThisUser(const std::string& dir, struct stat* st, std::string* error) {
  if (::lstat(dir.c_str(), st) != 0) {
    setError(error, dir + ": " + std::strerror(errno));
    return false;
  }
  if (S_ISLNK(st->st_mode) || !S_ISDIR(st->st_mode)) {
    setError(error, dir + ": not a folder (a link or a file is in its place)");
    return false;
  }
  if (st->st_uid != ::geteuid()) {
    setError(error, dir + ": the folder belongs to another user (uid " + std::to_string(st->st_uid) + ")");
    return false;
  }
  return true;
}

}  // namespace

std::optional<LocalAddress> localAddressForPath(const std::string& path, std::string* error) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    setError(error, "no socket path");
    return std::nullopt;
  }
  LocalAddress a;
  a.addr.sun_family = AF_UNIX;
  std::string target = path;
  if (path.size() > kMaxSocketPathLength) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, std::max<std::size_t>(slash, 1));
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      setError(error, folder + ": " + std::strerror(errno));
      return std::nullopt;
    }
    a.folder = std::shared_ptr<const int>(new int(fd), [](const int* f) {
      ::close(*f);
      delete f;
    });
    target = "/proc/self/fd/" + std::to_string(fd) + "/" + file;
    if (target.size() > kMaxSocketPathLength) {
      setError(error, "the socket name " + file + " is " + std::to_string(file.size()) +
                          " bytes long, too long for a socket address");
      return std::nullopt;
    }
  }
  std::memcpy(a.addr.sun_path, target.c_str(), target.size() + 1);
  a.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + target.size() + 1);
  return a;
}

bool makeOwnerOnlyDirectory(const std::string& dir, std::string* error) {
  std::error_code ec;
  auto parent = std::filesystem::path(dir).parent_path();
  std::filesystem::create_directories(parent, ec);
  if (ec) {
    setError(error, parent.string() + ": " + ec.message());
    return false;
  }
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    setError(error, dir + ": " + std::strerror(errno));
    return false;
  }
  struct stat st {};
  if (!isFolderOfThisUser(dir, &st, error)) return false;
  if ((st.st_mode & 0777) != 0700 && ::chmod(dir.c_str(), 0700) != 0) {
    setError(error, dir + ": cannot make the folder owner-only: " + std::strerror(errno));
    return false;
  }
  return true;
}

bool isOwnDirectory(const std::string& dir, std::string* error) {
  struct stat st {};
  if (!isFolderOfThisUser(dir, &st, error)) return false;
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    setError(error, dir + ": others may write into the folder");
    return false;
  }
  return true;
}

bool makeSocketOwnerOnly(const std::string& path) { return ::chmod(path.c_str(), 0600) == 0; }

}  // namespace ipc
