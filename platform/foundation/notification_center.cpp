#include "platform/foundation/notification_center.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace foundation {

struct NotificationCenter::Observer {
  std::string name;
  const void* object;
  std::shared_ptr<Executor> executor;
  Handler handler;
  std::atomic<bool> removed{false};
};

struct NotificationCenter::Impl {
  std::mutex mu;
  std::vector<ObserverToken> observers;
};

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter* center = new NotificationCenter();
  return *center;
}

NotificationCenter::NotificationCenter() : impl_(std::make_unique<Impl>()) {}
NotificationCenter::~NotificationCenter() = default;

NotificationCenter::ObserverToken NotificationCenter::addObserverForName(std::string name, const void* object,
                                                                         std::shared_ptr<Executor> executor,
                                                                         Handler handler) {
  auto token = std::make_shared<Observer>();
  token->name = std::move(name);
  token->object = object;
  token->executor = std::move(executor);
  token->handler = std::move(handler);
  std::lock_guard lock(impl_->mu);
  impl_->observers.push_back(token);
  return token;
}

void NotificationCenter::removeObserver(const ObserverToken& token) {
  if (!token) return;
  token->removed = true;
  std::lock_guard lock(impl_->mu);
  std::erase(impl_->observers, token);
}

void NotificationCenter::postNotification(const Notification& notification) {
  std::vector<ObserverToken> matching;
  {
    std::lock_guard lock(impl_->mu);
    for (const auto& o : impl_->observers)
      if ((o->name.empty() || o->name == notification.name) &&
          (!o->object || o->object == notification.object.get()))
        matching.push_back(o);
  }
  for (const auto& o : matching) {
    if (o->removed) continue;
    if (!o->executor || o->executor->runsOnCurrentThread()) {
      o->handler(notification);
    } else {
      o->executor->execute([o, notification] {
        if (!o->removed) o->handler(notification);
      });
    }
  }
}

void NotificationCenter::postNotificationName(std::string name, std::shared_ptr<void> object, Dictionary userInfo) {
  postNotification(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

}  // namespace foundation
