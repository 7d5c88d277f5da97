#include <algorithm>

#include "platform/dispatch/thread_checks.h"
#include "platform/system/device_facts.h"
#include "platform/uikit/application.h"

namespace uikit {

bool Application::canOpenURL(const std::string& url) const { return system_facts::canOpenURL(url); }

Application::BackgroundTaskIdentifier Application::beginBackgroundTaskWithExpirationHandler(
    std::function<void()> handler) {
  WV_DCHECK_MAIN_THREAD();
  const BackgroundTaskIdentifier identifier = ++lastBackgroundTask_;
  backgroundTasks_.emplace_back(identifier, std::move(handler));
  return identifier;
}

void Application::endBackgroundTask(BackgroundTaskIdentifier identifier) {
  WV_DCHECK_MAIN_THREAD();
  std::erase_if(backgroundTasks_, [identifier](const auto& task) { return task.first == identifier; });
}

void Application::expireBackgroundTasks() {
  WV_DCHECK_MAIN_THREAD();
  // A handler usually ends its own task (and may begin others): take the list first.
  auto expiring = std::move(backgroundTasks_);
  backgroundTasks_.clear();
  for (auto& task : expiring)
    if (task.second) task.second();
}

}  // namespace uikit
