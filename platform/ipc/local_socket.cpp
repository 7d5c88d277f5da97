#include "platform/ipc/local_socket.h"

#include <cstddef>
#include <cstring>
#include <filesystem>

#include "platform/crypto/md5.h"

namespace ipc {

LocalAddress localAddressForPath(const std::string& path) {
  LocalAddress a;
  a.addr.sun_family = AF_UNIX;
  if (path.size() < sizeof(a.addr.sun_path)) {
    std::memcpy(a.addr.sun_path, path.c_str(), path.size() + 1);
    a.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return a;
  }
  std::string name = "wardvane/" + crypto::md5Hex(path.data(), path.size());
  a.addr.sun_path[0] = '\0';
  std::memcpy(a.addr.sun_path + 1, name.data(), name.size());
  a.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  a.abstract = true;
  return a;
}

bool makeParentDirectories(const std::string& path) {
  std::error_code ec;
  auto parent = std::filesystem::path(path).parent_path();
  std::filesystem::create_directories(parent, ec);
  return !ec && std::filesystem::is_directory(parent, ec);
}

}  // namespace ipc
