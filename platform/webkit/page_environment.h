#pragma once
// The script every document runs before its own: window, document, location, events,
// timers and console over the web view's natives.

namespace webkit {
extern const char* const kPageEnvironmentScript;
}
