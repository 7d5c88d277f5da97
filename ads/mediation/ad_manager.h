#pragma once
// The mediation manager that each slot owns, serving what the slot asks of it
// (QMASlotMediationManager). The slot has it made when it is made, by the maker install()
// puts in, which tells it the slot (held weakly; the slot clears it when it goes away); the
// slot cancels it before
// it loads any new ad and when it cancels its pending actions. Built so far: the slot's
// reference and the cancel, which drops the pending mediation actions (the pending-action
// group that a later waterfall step checks before it runs). The waterfall over the ad
// networks, the connectors, the time-outs and the mediation pings are its later work.
//
// Threads: main thread (checked).

#include <cstdint>
#include <memory>

#include "ads/slots/slot_mediation_manager.h"

class QMAMAdManager : public QMASlotMediationManager, public std::enable_shared_from_this<QMAMAdManager> {
 public:
  static std::shared_ptr<QMAMAdManager> init();
  // Makes every slot made from now on own a manager of this class (the ad component's
  // start-up does it once; idempotent).
  static void install();

  std::shared_ptr<QMASlot> slot() const override { return slot_.lock(); }
  void setSlot(std::weak_ptr<QMASlot> slot) override { slot_ = std::move(slot); }
  bool requestInProgress() const { return requestInProgress_; }
  // Goes up with every cancel: a mediation step queued before it does not run after it.
  std::int64_t pendingActionGroup() const { return pendingActionGroup_; }

  // Stops the pending mediation actions and the request in progress.
  void cancel() override;
  void cancelPendingActions();

 private:
  QMAMAdManager() = default;
  std::weak_ptr<QMASlot> slot_;
  bool requestInProgress_ = false;
  std::int64_t pendingActionGroup_ = 0;
};
