#include "platform/foundation/user_defaults.h"

#include <cerrno>
#include <cstdlib>

#include "platform/foundation/bundle.h"
#include "platform/foundation/device_path.h"
#include "platform/foundation/property_list.h"

namespace foundation {
namespace {

struct Shared {
  std::mutex mu;
  std::shared_ptr<UserDefaults> standard;
  std::shared_ptr<UserDefaults> global;
  std::optional<std::string> standardDomain;
};

Shared& shared() {
  static Shared* s = new Shared();
  return *s;
}

std::shared_ptr<UserDefaults> globalLocked(Shared& s) {
  if (!s.global) s.global = std::make_shared<UserDefaults>(UserDefaults::kGlobalDomain);
  return s.global;
}

std::optional<double> leadingNumber(const Value& v) {
  if (auto b = v.asBoolean()) return *b ? 1.0 : 0.0;
  if (auto d = v.doubleValue()) return d;
  if (auto s = v.asString()) {
    const char* begin = s->c_str();
    char* end = nullptr;
    double d = std::strtod(begin, &end);
    return end == begin ? 0.0 : d;
  }
  return std::nullopt;
}

}  // namespace

std::shared_ptr<UserDefaults> UserDefaults::standardUserDefaults() {
  auto& s = shared();
  std::lock_guard lock(s.mu);
  if (!s.standard) {
    std::string domain =
        s.standardDomain.value_or(Bundle::main().bundleIdentifier().value_or(program_invocation_short_name));
    s.standard = std::make_shared<UserDefaults>(domain, globalLocked(s));
  }
  return s.standard;
}

void UserDefaults::setStandardUserDefaultsDomain(std::optional<std::string> domain) {
  auto& s = shared();
  std::lock_guard lock(s.mu);
  s.standardDomain = std::move(domain);
  s.standard.reset();
}

std::shared_ptr<UserDefaults> UserDefaults::globalDefaults() {
  auto& s = shared();
  std::lock_guard lock(s.mu);
  return globalLocked(s);
}

void UserDefaults::resetStandardUserDefaults() {
  auto& s = shared();
  std::lock_guard lock(s.mu);
  if (s.standard) s.standard->synchronize();
  if (s.global) s.global->synchronize();
  s.standard.reset();
  s.global.reset();
}

UserDefaults::UserDefaults(std::string domain, std::shared_ptr<UserDefaults> fallback)
    : domain_(std::move(domain)), fallback_(std::move(fallback)) {
  if (auto d = readDictionaryFile(filePath())) values_ = std::move(*d);
}

std::string UserDefaults::filePath() const { return preferencesDirectory() + "/" + domain_ + ".plist"; }

Value UserDefaults::objectForKey(std::string_view key) const {
  {
    std::lock_guard lock(mu_);
    if (auto it = values_.find(key); it != values_.end()) return it->second;
  }
  if (fallback_) {
    Value v = fallback_->objectForKey(key);
    if (!v.isNull()) return v;
  }
  std::lock_guard lock(mu_);
  if (auto it = registered_.find(key); it != registered_.end()) return it->second;
  return Value();
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  Value v = objectForKey(key);
  if (auto s = v.asString()) return *s;
  if (auto i = v.asInteger()) return std::to_string(*i);
  if (auto d = v.asReal()) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", *d);
    return std::string(buf);
  }
  return std::nullopt;
}

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) const {
  Value v = objectForKey(key);
  if (auto a = v.asArray()) return *a;
  return std::nullopt;
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
  Value v = objectForKey(key);
  if (auto d = v.asDictionary()) return *d;
  return std::nullopt;
}

long long UserDefaults::integerForKey(std::string_view key) const {
  Value v = objectForKey(key);
  if (auto i = v.asInteger()) return *i;
  if (auto s = v.asString()) return std::strtoll(s->c_str(), nullptr, 10);
  return static_cast<long long>(leadingNumber(v).value_or(0));
}

double UserDefaults::doubleForKey(std::string_view key) const { return leadingNumber(objectForKey(key)).value_or(0); }

bool UserDefaults::boolForKey(std::string_view key) const {
  Value v = objectForKey(key);
  if (auto s = v.asString()) {
    if (*s == "YES" || *s == "yes" || *s == "true" || *s == "TRUE") return true;
    return std::strtoll(s->c_str(), nullptr, 10) != 0;
  }
  return leadingNumber(v).value_or(0) != 0;
}

void UserDefaults::setObjectForKey(const Value& value, std::string_view key) {
  std::lock_guard lock(mu_);
  if (value.isNull()) {
    auto it = values_.find(key);
    if (it == values_.end()) return;
    values_.erase(it);
  } else {
    values_[std::string(key)] = value;
  }
  dirty_ = true;
  writeLocked();
}

void UserDefaults::removeObjectForKey(std::string_view key) { setObjectForKey(Value(), key); }

void UserDefaults::registerDefaults(const Dictionary& defaults) {
  std::lock_guard lock(mu_);
  for (const auto& [k, v] : defaults) registered_[k] = v;
}

Dictionary UserDefaults::persistentDomain() const {
  std::lock_guard lock(mu_);
  return values_;
}

bool UserDefaults::synchronize() {
  std::lock_guard lock(mu_);
  return !dirty_ || writeLocked();
}

bool UserDefaults::writeLocked() {
  if (writePropertyListFile(filePath(), Value(values_))) dirty_ = false;
  return !dirty_;
}

}  // namespace foundation
