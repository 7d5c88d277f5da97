#include "platform/foundation/bundle.h"

#include <mutex>

namespace foundation {

struct Bundle::State {
  mutable std::mutex mu;
  Dictionary info;
};

// Never destroyed: work still running on other threads while the process exits may read
// the bundle's facts.
Bundle& Bundle::main() {
  static Bundle* b = new Bundle();
  return *b;
}

// Never destroyed either, for the same reason: the bundle outliving the process's exit
// means nothing if the facts it reads are torn down under a reader.
Bundle::State& Bundle::state() const {
  static State* s = new State();
  return *s;
}

std::optional<std::string> Bundle::bundleIdentifier() const {
  std::lock_guard lock(state().mu);
  if (const std::string* s = stringForKey(state().info, kCFBundleIdentifierKey)) return *s;
  return std::nullopt;
}

Dictionary Bundle::infoDictionary() const {
  std::lock_guard lock(state().mu);
  return state().info;
}

Value Bundle::objectForInfoDictionaryKey(std::string_view key) const {
  std::lock_guard lock(state().mu);
  auto it = state().info.find(key);
  return it == state().info.end() ? Value() : it->second;
}

void Bundle::setInfoDictionary(Dictionary info) {
  std::lock_guard lock(state().mu);
  state().info = std::move(info);
}

void Bundle::setBundleIdentifier(std::optional<std::string> identifier) {
  std::lock_guard lock(state().mu);
  if (identifier) {
    state().info[kCFBundleIdentifierKey] = *identifier;
  } else {
    state().info.erase(std::string(kCFBundleIdentifierKey));
  }
}

void Bundle::setInfoValue(std::string_view key, Value value) {
  std::lock_guard lock(state().mu);
  if (value.isNull()) {
    state().info.erase(std::string(key));
  } else {
    state().info[std::string(key)] = std::move(value);
  }
}

}  // namespace foundation
