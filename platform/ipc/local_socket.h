#pragma once
// Unix-domain socket files for the device's system-wide names. Every socket lives in a
// folder under the device root that only this user can enter, so no other user can
// reach a server, listen in its place, or plant a socket for a client to find. There is
// no fallback outside the file system: a path too long for a socket address is an error
// the caller reports, never a name in the abstract namespace that any process could
// take first.

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <optional>
#include <string>

namespace ipc {

// The longest path a socket address holds (the address also keeps a terminating zero).
inline constexpr std::size_t kMaxSocketPathLength = sizeof(sockaddr_un{}.sun_path) - 1;

struct LocalAddress {
  sockaddr_un addr{};
  socklen_t length = 0;
};

// The address of the socket file at `path`; nullopt, with the reason in `error`, when the
// path is too long for a socket address.
std::optional<LocalAddress> localAddressForPath(const std::string& path, std::string* error = nullptr);

// Makes `dir` (and the folders above it) and leaves `dir` itself open to this user only
// (mode 0700), tightening a folder of this user made looser earlier. False, with the
// reason in `error`, when `dir` is not a real folder of this user: a link, a file, or a
// folder someone else owns.
bool makeOwnerOnlyDirectory(const std::string& dir, std::string* error = nullptr);

// Whether `dir` is a real folder of this user into which no one else can write, so the
// sockets in it were put there by this user. `error` says why not.
bool isOwnDirectory(const std::string& dir, std::string* error = nullptr);

// Restricts the socket file at `path` to this user (mode 0600).
bool makeSocketOwnerOnly(const std::string& path);

}  // namespace ipc
