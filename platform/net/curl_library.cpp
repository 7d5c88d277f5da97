#include "platform/net/curl_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <type_traits>

namespace net::detail {

const CurlLibrary& curl() {
  static CurlLibrary loaded;
  static std::once_flag once;
  std::call_once(once, [] {
    const char* name = "libcurl.so.4";
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    auto resolve = [&](auto& entry, const char* symbol) {
      entry = library ? reinterpret_cast<std::remove_reference_t<decltype(entry)>>(dlsym(library, symbol)) : nullptr;
      if (!entry) {
        std::fprintf(stderr, "net: cannot load %s from %s: %s\n", symbol, name, dlerror());
        std::abort();
      }
    };
    resolve(loaded.global_init, "curl_global_init");
    resolve(loaded.easy_init, "curl_easy_init");
    resolve(loaded.easy_setopt, "curl_easy_setopt");
    resolve(loaded.easy_cleanup, "curl_easy_cleanup");
    resolve(loaded.easy_strerror, "curl_easy_strerror");
    resolve(loaded.multi_init, "curl_multi_init");
    resolve(loaded.multi_add_handle, "curl_multi_add_handle");
    resolve(loaded.multi_remove_handle, "curl_multi_remove_handle");
    resolve(loaded.multi_setopt, "curl_multi_setopt");
    resolve(loaded.multi_socket_action, "curl_multi_socket_action");
    resolve(loaded.multi_info_read, "curl_multi_info_read");
    resolve(loaded.share_init, "curl_share_init");
    resolve(loaded.share_setopt, "curl_share_setopt");
    resolve(loaded.slist_append, "curl_slist_append");
    resolve(loaded.slist_free_all, "curl_slist_free_all");
  });
  return loaded;
}

}  // namespace net::detail
