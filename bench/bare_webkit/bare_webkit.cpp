#include "bench/bare_webkit/bare_webkit.h"

#include <dirent.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>

#include "platform/dispatch/run_loop.h"
#include "platform/webkit/engine.h"

namespace bench {

using Clock = std::chrono::steady_clock;

struct BareWebKitView::Impl {
  GtkWidget* window = nullptr;
  WebKitWebView* view = nullptr;
  bool finished = false;
  int answered = 0;
  static void onLoad(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    if (event == WEBKIT_LOAD_FINISHED) static_cast<Impl*>(data)->finished = true;
  }
  int bridged = 0;
  // What our engine does with a bridge message short of handing it on: its text.
  static void onBridge(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
    JSCValue* value = result ? webkit_javascript_result_get_js_value(result) : nullptr;
    if (!value || !jsc_value_is_string(value)) return;
    char* text = jsc_value_to_string(value);
    if (text && *text) ++static_cast<Impl*>(data)->bridged;
    g_free(text);
  }
  static void onEvaluated(GObject* source, GAsyncResult* result, gpointer data) {
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
    if (value) g_object_unref(value);
    ++static_cast<Impl*>(data)->answered;
  }
};

BareWebKitView::BareWebKitView(int width, int height) : impl_(std::make_unique<Impl>()) {
  webkit::engine::api();  // the display, GTK and the main loop's hook
  WebKitWebContext* context = webkit_web_context_new();
  WebKitUserContentManager* content = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler(content, "wardvaneBridge");
  g_signal_connect(content, "script-message-received::wardvaneBridge", G_CALLBACK(Impl::onBridge), impl_.get());
  impl_->view = WEBKIT_WEB_VIEW(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "user-content-manager", content, nullptr));
  g_object_unref(context);
  g_object_unref(content);
  impl_->window = gtk_offscreen_window_new();
  gtk_window_set_default_size(GTK_WINDOW(impl_->window), width, height);
  gtk_container_add(GTK_CONTAINER(impl_->window), GTK_WIDGET(impl_->view));
  gtk_widget_show_all(impl_->window);
  g_signal_connect(impl_->view, "load-changed", G_CALLBACK(Impl::onLoad), impl_.get());
}

BareWebKitView::~BareWebKitView() {
  g_signal_handlers_disconnect_by_data(impl_->view, impl_.get());
  g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(impl_->view), impl_.get());
  gtk_widget_destroy(impl_->window);
}

double BareWebKitView::load(const std::string& html, const std::string& baseURI) {
  impl_->finished = false;
  const auto start = Clock::now();
  webkit_web_view_load_html(impl_->view, html.c_str(), baseURI.c_str());
  dispatch::RunLoop::main().runUntil([&] { return impl_->finished; }, 30);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double BareWebKitView::evaluateAll(const std::vector<std::string>& scripts, int messages) {
  impl_->answered = 0;
  impl_->bridged = 0;
  const auto start = Clock::now();
  for (const auto& s : scripts)
    webkit_web_view_evaluate_javascript(impl_->view, s.c_str(), static_cast<gssize>(s.size()), nullptr, nullptr,
                                        nullptr, Impl::onEvaluated, impl_.get());
  const int want = static_cast<int>(scripts.size());
  dispatch::RunLoop::main().runUntil([&] { return impl_->answered == want && impl_->bridged >= messages; }, 60);
  if (impl_->answered != want || impl_->bridged < messages)
    std::fprintf(stderr, "bare view: %d of %d evaluations, %d of %d messages\n", impl_->answered, want, impl_->bridged,
                 messages);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long engineProcessesKiB() {
  // Parent of every process, then the descendants of ours.
  std::map<int, int> parent;
  if (DIR* d = opendir("/proc")) {
    while (dirent* e = readdir(d)) {
      const int pid = std::atoi(e->d_name);
      if (pid <= 0) continue;
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string line;
      if (!std::getline(stat, line)) continue;
      const auto close = line.rfind(')');
      if (close == std::string::npos) continue;
      int ppid = 0;
      char state = 0;
      std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid);
      parent[pid] = ppid;
    }
    closedir(d);
  }
  std::set<int> ours{static_cast<int>(getpid())};
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [pid, ppid] : parent)
      if (!ours.count(pid) && ours.count(ppid)) grew = ours.insert(pid).second || grew;
  }
  long total = 0;
  for (int pid : ours) {
    if (pid == getpid()) continue;
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string line; std::getline(rollup, line);)
      if (line.rfind("Pss:", 0) == 0) total += std::stol(line.substr(4));
  }
  return total;
}

}  // namespace bench
