#pragma once
// The calendar's event store as the ad component uses it: whether the user let the
// application at the calendar, the question that asks, and the events saved. There is no
// calendar database on this system, so the store keeps its events in memory and what the
// user answers is set by whoever stands in for the user (tests, drivers) beforehand.
// Thread-safe.

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

namespace eventkit {

enum EntityType { EntityTypeEvent = 0, EntityTypeReminder = 1 };

enum AuthorizationStatus {
  AuthorizationStatusNotDetermined = 0,
  AuthorizationStatusRestricted = 1,
  AuthorizationStatusDenied = 2,
  AuthorizationStatusAuthorized = 3,
};

struct Event {
  std::optional<foundation::Date> startDate;
  std::optional<foundation::Date> endDate;
  std::optional<std::string> title;
  std::optional<std::string> notes;
  std::optional<std::string> location;
};

class EventStore {
 public:
  static AuthorizationStatus authorizationStatusForEntityType(EntityType type);
  // Asks the user once: a status not yet determined becomes the answer set with
  // setAnswerToAccessRequest (denied unless set); the completion gets whether access is
  // granted, on the calling thread.
  static void requestAccessToEntityType(EntityType type, const std::function<void(bool granted)>& completion);
  // Fails (false) without access to events.
  static bool saveEvent(const Event& event);
  static std::vector<Event> savedEvents();

  // For the stand-in user.
  static void setAuthorizationStatus(EntityType type, AuthorizationStatus status);
  static void setAnswerToAccessRequest(bool grant);
  // Back to a fresh device: not determined, no events, a question denied.
  static void reset();
};

}  // namespace eventkit
