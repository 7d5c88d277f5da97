#include "hooklib/shared/settings_snapshot.h"

#include <plist/plist.h>

#include <cstdlib>

#include "hooklib/shared/settings_file.h"
#include "platform/foundation/property_list.h"

namespace wardvane {
namespace {

// Converts one subtree. (The platform reader converts whole files; a record is a few
// nodes, and going through a serialised form would cost more than the decision.)
std::optional<foundation::Value> convert(plist_t node, int depth = 0) {
  if (!node || depth > 64) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return foundation::Value(b != 0);
    }
    case PLIST_UINT: {
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      return foundation::Value(static_cast<long long>(u));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return foundation::Value(d);
    }
    case PLIST_STRING: {
      char* text = nullptr;
      plist_get_string_val(node, &text);
      foundation::Value v(std::string(text ? text : ""));
      std::free(text);
      return v;
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return foundation::Value(foundation::Date::fromReferenceDate(sec + usec / 1e6));
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      foundation::Bytes out(reinterpret_cast<uint8_t*>(bytes), reinterpret_cast<uint8_t*>(bytes) + length);
      std::free(bytes);
      return foundation::Value(std::move(out));
    }
    case PLIST_ARRAY: {
      foundation::Array out;
      for (uint32_t i = 0, n = plist_array_get_size(node); i < n; ++i)
        if (auto v = convert(plist_array_get_item(node, i), depth + 1)) out.push_back(std::move(*v));
      return foundation::Value(std::move(out));
    }
    case PLIST_DICT: {
      foundation::Dictionary out;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (!item) {
          std::free(key);
          break;
        }
        if (auto v = convert(item, depth + 1); v && key) out.insert_or_assign(std::string(key), std::move(*v));
        std::free(key);
      }
      std::free(it);
      return foundation::Value(std::move(out));
    }
    default:
      return std::nullopt;
  }
}

}  // namespace

SettingsSnapshot::SettingsSnapshot(void* root) : root_(root) {
  plist_t records = root_ ? plist_dict_get_item(static_cast<plist_t>(root_), kRecordsKey) : nullptr;
  if (records && plist_get_node_type(records) == PLIST_DICT) records_ = records;
}

SettingsSnapshot::~SettingsSnapshot() {
  if (root_) plist_free(static_cast<plist_t>(root_));
}

std::shared_ptr<const SettingsSnapshot> SettingsSnapshot::read(const std::string& path) {
  auto bytes = foundation::readFileBytes(path);
  if (!bytes || bytes->empty()) return nullptr;
  plist_t root = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(bytes->data()), static_cast<uint32_t>(bytes->size()), &root);
  if (!root) return nullptr;
  if (plist_get_node_type(root) != PLIST_DICT) {
    plist_free(root);
    return nullptr;
  }
  return std::shared_ptr<const SettingsSnapshot>(new SettingsSnapshot(root));
}

std::shared_ptr<const SettingsSnapshot> SettingsSnapshot::empty() {
  return std::shared_ptr<const SettingsSnapshot>(new SettingsSnapshot(plist_new_dict()));
}

std::optional<bool> SettingsSnapshot::boolForKey(std::string_view key) const {
  plist_t node = plist_dict_get_item(static_cast<plist_t>(root_), std::string(key).c_str());
  if (!node) return std::nullopt;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return b != 0;
    }
    case PLIST_UINT: {
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      return u != 0;
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return d != 0.0;
    }
    default:
      return std::nullopt;
  }
}

std::optional<foundation::Value> SettingsSnapshot::recordValue(const std::string& bundleIdentifier) const {
  if (!records_) return std::nullopt;
  return convert(plist_dict_get_item(static_cast<plist_t>(records_), bundleIdentifier.c_str()));
}

foundation::Dictionary SettingsSnapshot::dictionary() const {
  auto v = convert(static_cast<plist_t>(root_));
  return v && v->asDictionary() ? *v->asDictionary() : foundation::Dictionary{};
}

foundation::Dictionary SettingsSnapshot::records() const {
  auto v = convert(static_cast<plist_t>(records_));
  return v && v->asDictionary() ? *v->asDictionary() : foundation::Dictionary{};
}

}  // namespace wardvane
