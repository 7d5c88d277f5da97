#pragma once
// The boundary between platform/webkit and the engine library (libwardvane-webkitgtk.so),
// which alone links WebKitGTK, GTK and GLib. platform/webkit loads the library with dlopen
// at the first web view, so none of it is mapped into a process that never shows one.
// Plain C types only: the two sides are built together but the library must not need a
// symbol of ours, and ours none of its.
//
// Threads: every function is called on the main thread, and every host callback arrives
// there, from inside wv_engine_api::dispatch.

#include <poll.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { WV_ENGINE_API_VERSION = 4 };

// What the engine tells the view's owner. `view` is the host's pointer given to view_new.
enum wv_load_event { WV_LOAD_STARTED = 0, WV_LOAD_COMMITTED = 1, WV_LOAD_FINISHED = 2, WV_LOAD_FAILED = 3 };
enum wv_process_end { WV_PROCESS_CRASHED = 0, WV_PROCESS_MEMORY = 1, WV_PROCESS_BY_HOST = 2, WV_PROCESS_UNRESPONSIVE = 3 };
enum wv_policy { WV_POLICY_USE = 0, WV_POLICY_IGNORE = 1 };

struct wv_engine_host {
  // A navigation of the page (any frame) or a window.open; answers a wv_policy.
  // `type` counts as the platform's navigation types (0 link ... 5 other);
  // `new_window` is set for window.open and target=_blank, and for a bridge message the
  // page posted: the answer is heard, nothing loads in this view either way.
  int (*navigation)(void* view, const char* uri, int type, int new_window, int user_gesture);
  void (*load)(void* view, int event, const char* uri, int error_code, const char* error_message);
  // A message a page's script posted to the host's channel: console lines, errors, bridge.
  void (*message)(void* view, const char* json);
  void (*process_ended)(void* view, int reason);
  // A request of a page for an http(s) resource. The host answers with request_finish,
  // request_begin or request_fail, now or later; `request` stays valid until then.
  void (*request)(void* view, void* request, const char* uri, const char* method, const char* const* headers,
                  const unsigned char* body, size_t body_size);
  // The page no longer wants the answer of `handle` (a request not answered yet, or the
  // body handle request_begin gave): it went away (navigated, its view released, its web
  // process ended). The host stops fetching and ends the handle as it would have
  // (request_fail, request_body_end), which the page no longer hears. Those a page
  // dropped together come newest first.
  void (*request_dropped)(void* handle);
};

struct wv_engine_config {
  const char* extension_dir;     // folder of the web process extension
  const char* user_script;       // run at document start in every frame
  unsigned memory_limit_mb;      // per web process
  double kill_threshold;         // of memory_limit_mb
  double watchdog_seconds;       // an unanswered ping this long ends the web process
  int start_display;             // 1: start a private display server when DISPLAY is unset
};

struct wv_engine_api {
  int version;
  // 0 on success; else an error text in `error`.
  int (*start)(const struct wv_engine_config* config, const struct wv_engine_host* host, char* error, size_t error_size);
  // The main loop hook: before the host's wait, the descriptors to wait on (at most
  // `max`, the count needed returned in *count) and the longest wait in milliseconds
  // (-1: none); after it, the same descriptors with their revents.
  void (*prepare)(struct pollfd* fds, int max, int* count, int* timeout_ms);
  void (*dispatch)(struct pollfd* fds, int count);

  void* (*view_new)(void* host_view, int width, int height, const char* user_agent);
  void (*view_free)(void* view);
  void (*view_resize)(void* view, int width, int height);
  void (*view_set_user_agent)(void* view, const char* user_agent);
  void (*view_load_html)(void* view, const char* html, size_t size, const char* base_uri);
  void (*view_stop)(void* view);
  // The result as the page's String() of it, or null with an error text.
  void (*view_evaluate)(void* view, const char* script, size_t size,
                        void (*done)(void* context, const char* result, const char* error), void* context);
  // The visible page as premultiplied RGBA rows (width*4 bytes each), or null when no
  // snapshot could be taken; the pixels are valid during the call only.
  void (*view_snapshot)(void* view, void (*done)(void* context, const unsigned char* rgba, int width, int height),
                        void* context);
  void (*view_click)(void* view, double x, double y);
  void (*view_terminate)(void* view);
  // Process id of the view's web process, 0 when none (or not yet known).
  int (*view_process_id)(void* view);

  // `headers`: name, value, ..., null. The pseudo-field ":url" (no header can be named so)
  // gives the URL the answer came from after redirects.
  void (*request_finish)(void* request, int status, const char* const* headers, const char* mime_type,
                         const unsigned char* body, size_t size);
  void (*request_fail)(void* request, const char* message);
  // 1: the page's own background is see-through where the page paints none (a view that
  // is not opaque); 0: the engine's white, as a browser shows a page.
  void (*view_set_transparent)(void* view, int transparent);

  // An answer whose body arrives in pieces: the status and headers go to the page now,
  // and the answer's body is a handle the host writes each piece to as it comes, then
  // ends once. `request` is answered with this (as with request_finish); the body handle
  // stays valid until request_body_end.
  void* (*request_begin)(void* request, int status, const char* const* headers, const char* mime_type);
  // 1 while the page may still read the body; 0 once it stopped reading (it went away or
  // gave up), so the host can stop fetching. The bytes are copied.
  int (*request_body_write)(void* body, const unsigned char* data, size_t size);
  // The end of the body: `message` null when it is whole, else the page sees a network
  // error where the body stops. Releases the handle.
  void (*request_body_end)(void* body, const char* message);
  // The bound on the resident memory of the view's web process (`megabytes` times
  // `kill_threshold`), held from the next process the view starts on.
  void (*view_set_memory_limit)(void* view, unsigned megabytes, double kill_threshold);
};

// The library's one exported symbol.
typedef const struct wv_engine_api* (*wv_engine_entry)(void);
#define WV_ENGINE_ENTRY_NAME "wv_engine_get"

#ifdef __cplusplus
}
#endif
