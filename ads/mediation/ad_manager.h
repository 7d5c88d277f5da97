#pragma once
// The mediation manager that each slot owns. The slot makes it when it is made and tells it
// itself (setSlot, held weakly; the slot clears it when it goes away), and cancels it before
// it loads any new ad and when it cancels its pending actions. Built so far: the slot's
// reference and the cancel, which drops the pending mediation actions (the pending-action
// group that a later waterfall step checks before it runs). The waterfall over the ad
// networks, the connectors, the time-outs and the mediation pings are its later work.
//
// Threads: main thread (checked).

#include <cstdint>
#include <memory>

class QMASlot;

class QMAMAdManager : public std::enable_shared_from_this<QMAMAdManager> {
 public:
  static std::shared_ptr<QMAMAdManager> init();

  std::shared_ptr<QMASlot> slot() const { return slot_.lock(); }
  void setSlot(std::weak_ptr<QMASlot> slot) { slot_ = std::move(slot); }
  bool requestInProgress() const { return requestInProgress_; }
  // Goes up with every cancel: a mediation step queued before it does not run after it.
  std::int64_t pendingActionGroup() const { return pendingActionGroup_; }

  // Stops the pending mediation actions and the request in progress.
  void cancel();
  void cancelPendingActions();

 private:
  QMAMAdManager() = default;
  std::weak_ptr<QMASlot> slot_;
  bool requestInProgress_ = false;
  std::int64_t pendingActionGroup_ = 0;
};
