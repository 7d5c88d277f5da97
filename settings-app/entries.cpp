#include "settings-app/entries.h"

namespace wardvane::app {

std::optional<std::string> entryString(const foundation::Dictionary& entry, std::string_view key) {
  auto it = entry.find(key);
  if (it == entry.end()) return std::nullopt;
  if (auto s = it->second.asString()) return *s;
  return std::nullopt;
}

std::optional<double> entryNumber(const foundation::Dictionary& entry, std::string_view key) {
  auto it = entry.find(key);
  if (it == entry.end()) return std::nullopt;
  return it->second.doubleValue();
}

const foundation::Bytes* entryData(const foundation::Dictionary& entry, std::string_view key) {
  auto it = entry.find(key);
  return it == entry.end() ? nullptr : it->second.asData();
}

const foundation::Dictionary* entryAtRow(const foundation::Dictionary& list, long row) {
  auto it = list.find(std::to_string(row));
  return it == list.end() ? nullptr : it->second.asDictionary();
}

}  // namespace wardvane::app
