#pragma once
// libcurl, loaded the first time the process makes an HTTP connection rather than when it
// starts: a program that never connects (the restriction programs, which carry the ad
// component) pays nothing for it or for the libraries it brings along (TLS, Kerberos,
// LDAP...). Only its headers are used at build time. Any thread.

#include <curl/curl.h>

namespace net::detail {

struct CurlLibrary {
  decltype(&::curl_global_init) global_init = nullptr;
  decltype(&::curl_easy_init) easy_init = nullptr;
  decltype(&::curl_easy_setopt) easy_setopt = nullptr;
  decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&::curl_easy_strerror) easy_strerror = nullptr;
  decltype(&::curl_multi_init) multi_init = nullptr;
  decltype(&::curl_multi_add_handle) multi_add_handle = nullptr;
  decltype(&::curl_multi_remove_handle) multi_remove_handle = nullptr;
  decltype(&::curl_multi_setopt) multi_setopt = nullptr;
  decltype(&::curl_multi_socket_action) multi_socket_action = nullptr;
  decltype(&::curl_multi_info_read) multi_info_read = nullptr;
  decltype(&::curl_share_init) share_init = nullptr;
  decltype(&::curl_share_setopt) share_setopt = nullptr;
  decltype(&::curl_slist_append) slist_append = nullptr;
  decltype(&::curl_slist_free_all) slist_free_all = nullptr;
};

// Loaded and resolved once. A library that cannot be loaded ends the process with a
// message, as a missing library at start would have.
const CurlLibrary& curl();

}  // namespace net::detail
