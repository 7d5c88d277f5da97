#pragma once
// The engine behind every web view, loaded and started at the first one: the engine
// library (WebKitGTK, GTK and GLib, with a private display server when the process has
// none) is dlopened, its GLib main context is served inside the main run loop's own wait,
// and the requests of pages are answered through platform/net. docs/webkit.md.
//
// Threads: main thread only.

#include <string>

#include "platform/webkit/engine/engine_api.h"

namespace webkit::engine {

// The started engine, or null when it cannot start (the reason in startError(), also
// logged once). Loads and starts it on the first call.
const wv_engine_api* api();
const std::string& startError();
// Whether the engine has been loaded (nothing of it is mapped before).
bool isLoaded();

// The script every frame of every page runs first: console lines and uncaught errors to
// the host.
extern const char* const kUserScript;

}  // namespace webkit::engine
