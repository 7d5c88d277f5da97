#include "platform/foundation/property_list.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace foundation {
namespace {

struct PlistDeleter {
  void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

Value fromNode(plist_t node, int depth);

Value fromNode(plist_t node, int depth) {
  // Deeply nested input is refused rather than allowed to exhaust the stack.
  if (!node || depth > 512) return Value{};
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value{b != 0};
    }
    case PLIST_UINT: {
      // This libplist keeps every integer as 64 unsigned bits; negatives arrive as
      // their two's complement.
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      return Value{static_cast<long long>(u)};
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return Value{d};
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      char* s = nullptr;
      if (plist_get_node_type(node) == PLIST_KEY)
        plist_get_key_val(node, &s);
      else
        plist_get_string_val(node, &s);
      std::string out = s ? s : "";
      free(s);
      return Value{std::move(out)};
    }
    case PLIST_DATA: {
      char* p = nullptr;
      uint64_t len = 0;
      plist_get_data_val(node, &p, &len);
      Bytes out(reinterpret_cast<uint8_t*>(p), reinterpret_cast<uint8_t*>(p) + len);
      free(p);
      return Value{std::move(out)};
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return Value{Date::fromReferenceDate(sec + usec / 1e6)};
    }
    case PLIST_ARRAY: {
      Array out;
      uint32_t n = plist_array_get_size(node);
      out.reserve(n);
      for (uint32_t i = 0; i < n; ++i) {
        Value v = fromNode(plist_array_get_item(node, i), depth + 1);
        if (!v.isNull()) out.push_back(std::move(v));
      }
      return Value{std::move(out)};
    }
    case PLIST_DICT: {
      Dictionary out;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      if (!it) return Value{std::move(out)};
      for (;;) {
        char* key = nullptr;
        plist_t val = nullptr;
        plist_dict_next_item(node, it, &key, &val);
        if (!val) {
          free(key);
          break;
        }
        Value v = fromNode(val, depth + 1);
        if (key && !v.isNull()) out.insert_or_assign(std::string(key), std::move(v));
        free(key);
      }
      free(it);
      return Value{std::move(out)};
    }
    default:
      return Value{};
  }
}

plist_t toNode(const Value& v) {
  switch (v.type()) {
    case Value::Type::Null: return nullptr;
    case Value::Type::Boolean: return plist_new_bool(*v.asBoolean() ? 1 : 0);
    case Value::Type::Integer: return plist_new_uint(static_cast<uint64_t>(*v.asInteger()));
    case Value::Type::Real: return plist_new_real(*v.asReal());
    case Value::Type::String: return plist_new_string(v.asString()->c_str());
    case Value::Type::Data: {
      const auto& d = *v.asData();
      return plist_new_data(reinterpret_cast<const char*>(d.data()), d.size());
    }
    case Value::Type::Date: {
      double ref = v.asDate()->timeIntervalSinceReferenceDate();
      double sec = std::floor(ref);
      return plist_new_date(static_cast<int32_t>(sec), static_cast<int32_t>(std::lround((ref - sec) * 1e6)));
    }
    case Value::Type::Array: {
      plist_t a = plist_new_array();
      for (const auto& item : *v.asArray())
        if (plist_t n = toNode(item)) plist_array_append_item(a, n);
      return a;
    }
    case Value::Type::Dictionary: {
      plist_t d = plist_new_dict();
      for (const auto& [key, item] : *v.asDictionary())
        if (plist_t n = toNode(item)) plist_dict_set_item(d, key.c_str(), n);
      return d;
    }
  }
  return nullptr;
}

}  // namespace

std::optional<Value> propertyListFromData(const char* bytes, std::size_t size) {
  if (!bytes || size == 0 || size > UINT32_MAX) return std::nullopt;
  plist_t root = nullptr;
  plist_from_memory(bytes, static_cast<uint32_t>(size), &root);
  if (!root) return std::nullopt;
  PlistPtr guard(root);
  Value v = fromNode(root, 0);
  if (v.isNull()) return std::nullopt;
  return v;
}

std::optional<Value> propertyListFromData(const Bytes& data) {
  return propertyListFromData(reinterpret_cast<const char*>(data.data()), data.size());
}

Bytes dataFromPropertyList(const Value& value, PropertyListFormat format) {
  plist_t root = toNode(value);
  if (!root) return {};
  PlistPtr guard(root);
  char* out = nullptr;
  uint32_t len = 0;
  if (format == PropertyListFormat::XML)
    plist_to_xml(root, &out, &len);
  else
    plist_to_bin(root, &out, &len);
  Bytes bytes(reinterpret_cast<uint8_t*>(out), reinterpret_cast<uint8_t*>(out) + (out ? len : 0));
  free(out);
  return bytes;
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
  if (!bytes) return std::nullopt;
  return propertyListFromData(*bytes);
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
  Bytes bytes = dataFromPropertyList(value, format);
  if (bytes.empty()) return false;
  return writeFileAtomically(path, bytes.data(), bytes.size());
}

bool fileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace foundation
