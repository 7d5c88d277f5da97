#include "platform/system/device_facts.h"

#include <mutex>

#include "platform/foundation/notification_center.h"
#include "platform/foundation/user_defaults.h"

namespace system_facts {
namespace {
struct State {
  std::mutex mu;
  DeviceFacts facts;
  std::optional<std::string> radio;
};
// Never destroyed: the ad component's queues read the facts on their own threads, and a
// block still running there while the process exits must not meet them taken down.
State& state() {
  static State* s = new State();
  return *s;
}
}  // namespace

DeviceFacts device() {
  std::lock_guard lock(state().mu);
  return state().facts;
}

void setDevice(const DeviceFacts& facts) {
  std::lock_guard lock(state().mu);
  state().facts = facts;
}

std::optional<std::string> radioAccessTechnology() {
  std::lock_guard lock(state().mu);
  return state().radio;
}

void setRadioAccessTechnology(std::optional<std::string> technology) {
  {
    std::lock_guard lock(state().mu);
    state().radio = std::move(technology);
  }
  foundation::NotificationCenter::defaultCenter().postNotificationName(kRadioAccessTechnologyDidChangeNotification);
}

void setPreferredLanguages(const std::vector<std::string>& languages) {
  foundation::Array a;
  for (const auto& l : languages) a.emplace_back(l);
  foundation::UserDefaults::globalDefaults()->setObjectForKey(foundation::Value(std::move(a)), "AppleLanguages");
}

void setLocaleIdentifier(const std::string& locale) {
  foundation::UserDefaults::globalDefaults()->setObjectForKey(foundation::Value(locale), "AppleLocale");
}

bool canOpenURL(const std::string& url) {
  auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string scheme = url.substr(0, colon);
  for (auto& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::lock_guard lock(state().mu);
  return state().facts.openableURLSchemes.count(scheme) != 0;
}

void resetDeviceFacts() {
  std::lock_guard lock(state().mu);
  state().facts = DeviceFacts{};
  state().radio.reset();
}

}  // namespace system_facts
