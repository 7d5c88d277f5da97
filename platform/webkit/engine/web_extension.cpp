// The web process extension: every http(s) request a page makes (scripts, images, style
// sheets, XHR, fetch, frames) leaves on our scheme, "wardvane-" before the page's own URL,
// so the host answers it through its own network stack. The main frame's document never
// comes here: the host fetches it and loads it with its true URL. Each page also tells
// the host which process it runs in.

#include <libsoup/soup.h>
#include <unistd.h>
#include <webkit2/webkit-web-extension.h>

#include <cstring>

namespace {

gboolean onSendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*, gpointer) {
  const char* uri = webkit_uri_request_get_uri(request);
  if (!uri) return FALSE;
  // The main frame's document the host loaded itself (from its bytes, under its true URL)
  // carries no Referer; one the page navigated to does, and goes to the host like the
  // rest, which then loads it itself.
  const char* pageURI = webkit_web_page_get_uri(page);
  if (pageURI && std::strcmp(uri, pageURI) == 0) {
    SoupMessageHeaders* headers = webkit_uri_request_get_http_headers(request);
    if (!headers || !soup_message_headers_get_one(headers, "Referer")) return FALSE;
  }
  if (g_ascii_strncasecmp(uri, "http://", 7) == 0 || g_ascii_strncasecmp(uri, "https://", 8) == 0) {
    gchar* ours = g_strconcat("wardvane-", uri, nullptr);
    webkit_uri_request_set_uri(request, ours);
    g_free(ours);
  }
  return FALSE;
}

void onPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  g_signal_connect(page, "send-request", G_CALLBACK(onSendRequest), nullptr);
  // The host holds this process to its memory bound from a thread of its own, which needs
  // to know the process; it checks the claim (a child of its own, a web process).
  WebKitUserMessage* message =
      webkit_user_message_new("wardvane-process", g_variant_new_int32(static_cast<gint32>(getpid())));
  webkit_web_page_send_message_to_view(page, message, nullptr, nullptr, nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension* extension) {
  g_signal_connect(extension, "page-created", G_CALLBACK(onPageCreated), nullptr);
}
