#include "platform/eventkit/event_store.h"

namespace eventkit {
namespace {

struct Store {
  std::mutex mu;
  AuthorizationStatus status[2] = {AuthorizationStatusNotDetermined, AuthorizationStatusNotDetermined};
  bool grant = false;
  std::vector<Event> events;
};

Store& store() {
  static Store* s = new Store;
  return *s;
}

}  // namespace

AuthorizationStatus EventStore::authorizationStatusForEntityType(EntityType type) {
  std::lock_guard l(store().mu);
  return store().status[type == EntityTypeReminder ? 1 : 0];
}

void EventStore::requestAccessToEntityType(EntityType type, const std::function<void(bool)>& completion) {
  bool granted;
  {
    std::lock_guard l(store().mu);
    auto& status = store().status[type == EntityTypeReminder ? 1 : 0];
    if (status == AuthorizationStatusNotDetermined)
      status = store().grant ? AuthorizationStatusAuthorized : AuthorizationStatusDenied;
    granted = status == AuthorizationStatusAuthorized;
  }
  if (completion) completion(granted);
}

bool EventStore::saveEvent(const Event& event) {
  std::lock_guard l(store().mu);
  if (store().status[0] != AuthorizationStatusAuthorized) return false;
  store().events.push_back(event);
  return true;
}

std::vector<Event> EventStore::savedEvents() {
  std::lock_guard l(store().mu);
  return store().events;
}

void EventStore::setAuthorizationStatus(EntityType type, AuthorizationStatus status) {
  std::lock_guard l(store().mu);
  store().status[type == EntityTypeReminder ? 1 : 0] = status;
}

void EventStore::setAnswerToAccessRequest(bool grant) {
  std::lock_guard l(store().mu);
  store().grant = grant;
}

void EventStore::reset() {
  std::lock_guard l(store().mu);
  store().status[0] = store().status[1] = AuthorizationStatusNotDetermined;
  store().grant = false;
  store().events.clear();
}

}  // namespace eventkit
