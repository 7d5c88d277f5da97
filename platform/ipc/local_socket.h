#pragma once
// Unix-domain socket addresses for the device's system-wide names. A name maps to a
// socket file under the device root; when that path is too long for a socket address it
// maps instead to an abstract address derived from the path, so both ends still agree.

#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace ipc {

struct LocalAddress {
  sockaddr_un addr{};
  socklen_t length = 0;
  bool abstract = false;  // no file on disk holds it
};

LocalAddress localAddressForPath(const std::string& path);

// Creates the folders above `path`; false when that fails.
bool makeParentDirectories(const std::string& path);

}  // namespace ipc
