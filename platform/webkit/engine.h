#pragma once
// The engine behind every web view, loaded and started at the first one: the engine
// library (WebKitGTK, GTK and GLib, with a private display server when the process has
// none) is dlopened, its GLib main context is served inside the main run loop's own wait,
// and the requests of pages are answered through platform/net. docs/webkit.md.
//
// Threads: main thread only.

#include <functional>
#include <string>

#include "platform/webkit/engine/engine_api.h"

namespace webkit::engine {

// The started engine, or null when it cannot start (the reason in startError(), also
// logged once). Loads and starts it on the first call.
const wv_engine_api* api();
const std::string& startError();
// Whether the engine has been loaded (nothing of it is mapped before).
bool isLoaded();
// When the process has no display, starts the private display server without waiting for
// it, so it comes up while the first document is fetched and the engine library loaded;
// api() waits for it. Once per process; nothing when DISPLAY is set.
void startDisplayAhead();
// True when the engine can start without waiting for the display server (it is up, or
// none is coming); else false, and `ready` runs on the main run loop once the server is up
// or has failed, so the main thread never sits waiting for it.
bool whenDisplayReady(std::function<void()> ready);

// The script every frame of every page runs first: console lines and uncaught errors to
// the host.
extern const char* const kUserScript;

}  // namespace webkit::engine
