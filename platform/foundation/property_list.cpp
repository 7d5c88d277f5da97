#include "platform/foundation/property_list.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/foundation/log.h"
#include "platform/foundation/property_list_forms.h"

namespace foundation {
namespace {

std::optional<Value> parse(std::string_view in, std::string& error) {
  if (in.empty()) return std::nullopt;
  return plist_forms::looksBinary(in) ? plist_forms::readBinary(in, error) : plist_forms::readXML(in, error);
}

std::optional<Bytes> encode(const Value& value, PropertyListFormat format) {
  std::string out, error;
  bool ok = format == PropertyListFormat::XML ? plist_forms::writeXML(value, out, error)
                                              : plist_forms::writeBinary(value, out, error);
  if (!ok) {
    systemLog("Cannot store a property list: " + error);
    return std::nullopt;
  }
  return Bytes(out.begin(), out.end());
}

// The values and strings below `v`, counted up to the limit; `v` is known to nest no
// deeper than kMaxValueDepth.
bool checkContents(const Value& v, std::size_t& values, std::string& error) {
  if (++values > kMaxValueCount) {
    error = "more than " + std::to_string(kMaxValueCount) + " values";
    return false;
  }
  switch (v.type()) {
    case Value::Type::String:
      if (!isValidUTF8(*v.asString())) {
        error = "a string that is not UTF-8";
        return false;
      }
      return true;
    case Value::Type::Date:
      if (!isStorableDate(*v.asDate())) {
        error = "a date outside years 0001 to 9999";
        return false;
      }
      return true;
    case Value::Type::Array:
      for (const auto& item : *v.asArray())
        if (!item.isNull() && !checkContents(item, values, error)) return false;
      return true;
    case Value::Type::Dictionary:
      for (const auto& [key, item] : *v.asDictionary()) {
        if (item.isNull()) continue;
        if (++values > kMaxValueCount) {
          error = "more than " + std::to_string(kMaxValueCount) + " values";
          return false;
        }
        if (!isValidUTF8(key)) {
          error = "a dictionary key that is not UTF-8";
          return false;
        }
        if (!checkContents(item, values, error)) return false;
      }
      return true;
    default:
      return true;
  }
}

mode_t fileMode(FileAccess access) { return access == FileAccess::OwnerOnly ? 0600 : 0644; }
mode_t folderMode(FileAccess access) { return access == FileAccess::OwnerOnly ? 0700 : 0755; }

// Creates the missing folders of `dir` with `mode`; folders that exist stay as they are.
bool makeFolders(const std::string& dir, mode_t mode) {
  struct stat st{};
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  for (std::size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    std::string part = dir.substr(0, slash);
    if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool writeAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// So the rename itself survives a power cut.
void syncFolder(const std::string& dir) {
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

namespace plist_forms {

bool checkWritable(const Value& value, std::string& error) {
  if (value.isNull()) {
    error = "the root is null";
    return false;
  }
  if (nestsDeeperThan(value, kMaxValueDepth)) {
    error = "nesting deeper than " + std::to_string(kMaxValueDepth) + " levels";
    return false;
  }
  std::size_t values = 0;
  return checkContents(value, values, error);
}

}  // namespace plist_forms

std::optional<Value> propertyListFromData(const char* bytes, std::size_t size) {
  if (!bytes || size == 0) return std::nullopt;
  std::string error;
  auto v = parse(std::string_view(bytes, size), error);
  if (!v) systemLog("Refused a property list: " + error);
  return v;
}

std::optional<Value> propertyListFromData(const Bytes& data) {
  return propertyListFromData(reinterpret_cast<const char*>(data.data()), data.size());
}

Bytes dataFromPropertyList(const Value& value, PropertyListFormat format) {
  auto bytes = encode(value, format);
  return bytes ? std::move(*bytes) : Bytes{};
}

std::optional<Bytes> readFileBytes(const std::string& path, std::size_t maxSize) {
  // Non-blocking, so a FIFO without a writer cannot hold the caller up before the check.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat st{};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    systemLog("Refused to read " + path + ": not a regular file");
    return std::nullopt;
  }
  auto tooLarge = [&] {
    ::close(fd);
    systemLog("Refused to read " + path + ": larger than " + std::to_string(maxSize) + " bytes");
    return std::nullopt;
  };
  if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > maxSize) return tooLarge();
  Bytes out;
  out.reserve(static_cast<std::size_t>(st.st_size));
  unsigned char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    // The file may grow while it is read.
    if (static_cast<std::size_t>(n) > maxSize - out.size()) return tooLarge();
    out.insert(out.end(), buf, buf + n);
  }
  ::close(fd);
  return out;
}

std::optional<Value> readPropertyListFile(const std::string& path) {
  auto bytes = readFileBytes(path);
  if (!bytes || bytes->empty()) return std::nullopt;
  std::string error;
  auto v = parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), error);
  if (!v) systemLog("Refused the property list " + path + ": " + error);
  return v;
}

std::optional<Dictionary> readDictionaryFile(const std::string& path) {
  auto v = readPropertyListFile(path);
  if (!v || !v->asDictionary()) return std::nullopt;
  return std::move(*v->asDictionary());
}

bool writeFileAtomically(const std::string& path, const void* data, std::size_t size, FileAccess access) {
  auto slash = path.rfind('/');
  std::string parent = slash == std::string::npos ? "" : slash == 0 ? "/" : path.substr(0, slash);
  if (!parent.empty() && !makeFolders(parent, folderMode(access))) return false;
  const std::string tmp = path + ".tmp";
  // A few writers at most meet here, and each holds the file only while it writes.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK,
                    fileMode(access));
    if (fd < 0 && (errno == ELOOP || errno == ENXIO) && attempt == 0) {
      // A link or a FIFO where the temporary file belongs: the name is ours, so clear it.
      ::unlink(tmp.c_str());
      continue;
    }
    if (fd < 0) return false;
    int rc;
    do {
      rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    struct stat held{}, named{};
    if (rc != 0 || ::fstat(fd, &held) != 0) {
      int e = errno;
      ::close(fd);
      errno = e;
      return false;
    }
    // While this writer waited, the one before it may have renamed or removed the file
    // it opened: then it holds nothing and starts again.
    if (::stat(tmp.c_str(), &named) != 0 || named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
      ::close(fd);
      continue;
    }
    bool ok = S_ISREG(held.st_mode);
    if (!ok) errno = EINVAL;
    ok = ok && ::ftruncate(fd, 0) == 0 && ::fchmod(fd, fileMode(access)) == 0 && writeAll(fd, data, size) &&
         ::fsync(fd) == 0 && ::rename(tmp.c_str(), path.c_str()) == 0;
    int e = errno;
    if (!ok) ::unlink(tmp.c_str());
    ::close(fd);  // only now: the lock covers the rename
    if (!ok) {
      errno = e;
      return false;
    }
    syncFolder(parent);
    return true;
  }
  errno = EBUSY;
  return false;
}

bool writePropertyListFile(const std::string& path, const Value& value, PropertyListFormat format) {
  auto bytes = encode(value, format);
  if (!bytes) return false;
  if (bytes->size() > kMaxReadFileSize) {
    systemLog("Cannot store the property list " + path + ": larger than " + std::to_string(kMaxReadFileSize) +
              " bytes");
    return false;
  }
  return writeFileAtomically(path, bytes->data(), bytes->size(), FileAccess::OwnerOnly);
}

bool fileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace foundation
