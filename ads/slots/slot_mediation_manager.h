#pragma once
// What a slot asks of the mediation manager it owns. The manager itself comes from above:
// the mediation part installs its maker once (QMASlot::setMediationManagerFactory), and
// every slot made after that owns a manager that knows it; without one installed a slot
// has none and a mediation response takes the slot's own road (slot_mediation.cpp).
//
// Threads: main thread (checked by the manager).

#include <memory>

class QMASlot;

class QMASlotMediationManager {
 public:
  virtual ~QMASlotMediationManager() = default;
  // The slot, held weakly; the slot clears it when it goes away.
  virtual std::shared_ptr<QMASlot> slot() const = 0;
  virtual void setSlot(std::weak_ptr<QMASlot> slot) = 0;
  // Stops the pending mediation actions and the request in progress.
  virtual void cancel() = 0;
};
