#include "platform/uikit/system_sound.h"

#include <mutex>

namespace uikit {

namespace {
std::mutex& soundsMutex() {
  static auto* mu = new std::mutex();
  return *mu;
}
std::vector<std::uint32_t>& sounds() {
  static auto* played = new std::vector<std::uint32_t>();
  return *played;
}
}  // namespace

void playSystemSound(std::uint32_t soundID) {
  std::lock_guard lock(soundsMutex());
  sounds().push_back(soundID);
}

std::vector<std::uint32_t> playedSystemSounds() {
  std::lock_guard lock(soundsMutex());
  return sounds();
}

void removeAllPlayedSystemSounds() {
  std::lock_guard lock(soundsMutex());
  sounds().clear();
}

}  // namespace uikit
