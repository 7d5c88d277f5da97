#pragma once
// Phone paths ("/var/mobile/Library/...") live under one device-root folder, chosen by
// the WARDVANE_DEVICE_ROOT environment variable (default: a folder in the build tree),
// so nothing ever touches the real file system outside it.

#include <string>
#include <string_view>

namespace foundation {

// The device root folder, without a trailing slash.
std::string deviceRoot();
// Maps an absolute phone path under the device root; a relative path is taken as
// relative to the root. ".." components are dropped, so no path leaves the root.
std::string devicePath(std::string_view phonePath);

// Well-known folders of the running application, mapped under the device root.
std::string homeDirectory();     // /var/mobile
std::string cachesDirectory();   // /var/mobile/Library/Caches
std::string preferencesDirectory();  // /var/mobile/Library/Preferences

}  // namespace foundation
