#include "platform/foundation/property_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

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

std::optional<Bytes> readFileBytes(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  Bytes out;
  struct stat st{};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  uint8_t buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
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

bool writeFileAtomically(const std::string& path, const void* data, std::size_t size) {
  std::error_code ec;
  auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  std::string tmp = path + ".XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  std::size_t left = size;
  bool ok = true;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  ::fchmod(fd, 0644);
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

bool writePropertyListFile(const std::string& path, const Value& value, PropertyListFormat format) {
  auto bytes = encode(value, format);
  if (!bytes) return false;
  return writeFileAtomically(path, bytes->data(), bytes->size());
}

bool fileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace foundation
