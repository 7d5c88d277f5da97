#pragma once
// System sounds (AudioToolbox's AudioServicesPlaySystemSound). The headless device has no
// speaker or motor: it keeps the identifiers it was asked to play, in order, for a driver
// or test to read. 4095 is the vibration.
//
// Threads: any (guarded).

#include <cstdint>
#include <vector>

namespace uikit {

inline constexpr std::uint32_t kSystemSoundID_Vibrate = 4095;

void playSystemSound(std::uint32_t soundID);
std::vector<std::uint32_t> playedSystemSounds();
void removeAllPlayedSystemSounds();

}  // namespace uikit
