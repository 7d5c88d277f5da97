#pragma once
// Unix-domain socket files for the device's system-wide names. Every socket lives in a
// folder under the device root that only this user can enter, so no other user can
// reach a server, listen in its place, or plant a socket for a client to find. There is
// no fallback outside the file system, never a name in the abstract namespace that any
// process could take first. A device root deeper than a socket address can hold is
// reached through an open descriptor of the socket's folder (/proc/self/fd/N/name), so
// the checkout's depth never decides whether the programs can talk.

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace ipc {

// The longest path a socket address holds (the address also keeps a terminating zero).
inline constexpr std::size_t kMaxSocketPathLength = sizeof(sockaddr_un{}.sun_path) - 1;

struct LocalAddress {
  sockaddr_un addr{};
  socklen_t length = 0;
  // For a path longer than an address holds: the open folder that the short form names.
  // Keep the address until bind or connect has returned.
  std::shared_ptr<const int> folder;
};

// The address of the socket file at `path`. A path too long for an address is reached
// through its folder, which must exist then. nullopt, with the reason in `error`, when
// the folder cannot be opened or the file name alone is too long.
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
