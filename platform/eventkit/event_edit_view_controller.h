#pragma once
// A stand-in for the system's event editor: a view controller showing one event of an
// event store for the user to save, change or throw away. The user's choice comes from
// tests and drivers (completeWithAction); a saved event goes into the event store. As on
// the phone, the editor tells its delegate and leaves taking it down to the delegate.
//
// Threads: main thread.

#include <memory>
#include <optional>

#include "platform/eventkit/event_store.h"
#include "platform/uikit/view_controller.h"

namespace eventkit {

enum EKEventEditViewAction : long {
  EKEventEditViewActionCanceled = 0,
  EKEventEditViewActionSaved = 1,
  EKEventEditViewActionDeleted = 2,
};

class EKEventEditViewController;

class EKEventEditViewDelegate {
 public:
  virtual ~EKEventEditViewDelegate() = default;
  virtual void eventEditViewControllerDidCompleteWithAction(const std::shared_ptr<EKEventEditViewController>& controller,
                                                            EKEventEditViewAction action) = 0;
};

class EKEventEditViewController : public uikit::ViewController {
 public:
  static std::shared_ptr<EKEventEditViewController> init();
  std::string className() const override { return "EKEventEditViewController"; }

  std::shared_ptr<EKEventEditViewDelegate> editViewDelegate() const { return delegate_.lock(); }
  void setEditViewDelegate(std::weak_ptr<EKEventEditViewDelegate> delegate) { delegate_ = std::move(delegate); }
  const std::optional<Event>& event() const { return event_; }
  void setEvent(std::optional<Event> event) { event_ = std::move(event); }
  const std::shared_ptr<EventStore>& eventStore() const { return eventStore_; }
  void setEventStore(std::shared_ptr<EventStore> store) { eventStore_ = std::move(store); }

  // The user's choice. "Saved" writes the event to the store first (as the user left it).
  void completeWithAction(EKEventEditViewAction action);

 private:
  EKEventEditViewController() = default;
  std::weak_ptr<EKEventEditViewDelegate> delegate_;
  std::optional<Event> event_;
  std::shared_ptr<EventStore> eventStore_;
};

}  // namespace eventkit
