#pragma once
// The notification centre: named notifications posted with an optional object and a
// user-info dictionary, delivered to the observers registered for that name (or for all
// names) and that object (or any object).
//
// An observer registered without an executor runs on the posting thread before the post
// returns. One registered with an executor (a dispatch queue or an operation queue) runs
// there: at once when the poster already runs on it, otherwise queued. Removing an
// observer stops delivery, also of notifications already queued for it.

#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/executor.h"
#include "platform/foundation/value.h"

namespace foundation {

struct Notification {
  std::string name;
  std::shared_ptr<void> object;
  Dictionary userInfo;
};

class NotificationCenter {
 public:
  using Handler = std::function<void(const Notification&)>;
  // Keeps the registration; pass it to removeObserver to end it.
  struct Observer;
  using ObserverToken = std::shared_ptr<Observer>;

  static NotificationCenter& defaultCenter();

  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // `name` empty: every name. `object` null: any object (compared by identity).
  ObserverToken addObserverForName(std::string name, const void* object, std::shared_ptr<Executor> executor,
                                   Handler handler);
  void removeObserver(const ObserverToken& token);

  void postNotification(const Notification& notification);
  void postNotificationName(std::string name, std::shared_ptr<void> object = nullptr, Dictionary userInfo = {});

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace foundation
