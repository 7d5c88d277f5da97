#pragma once
// The nine method hooks in the home-screen process and the image constructor's work.

#include <string>

namespace wardvane {

class Wardvane;

// The image constructor's work with the process's singleton.
void installHooks();
// The same with a given instance (made `wardvane`): resets the unlock flag and the time
// of the last decision, then, in the home-screen process only, installs the nine hooks
// in table order, logging each class that does not exist.
void installHooksWith(Wardvane* instance);

// The home-screen process's main bundle identifier.
inline constexpr char kHomeScreenBundleIdentifier[] = "com.apple.springboard";

}  // namespace wardvane
