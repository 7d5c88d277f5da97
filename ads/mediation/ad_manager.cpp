#include "ads/mediation/ad_manager.h"

#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"

std::shared_ptr<QMAMAdManager> QMAMAdManager::init() { return std::shared_ptr<QMAMAdManager>(new QMAMAdManager()); }

void QMAMAdManager::install() {
  QMASlot::setMediationManagerFactory([](const std::shared_ptr<QMASlot>& slot) -> std::shared_ptr<QMASlotMediationManager> {
    auto manager = init();
    manager->setSlot(slot);
    return manager;
  });
}

void QMAMAdManager::cancel() {
  WV_DCHECK_MAIN_THREAD();
  cancelPendingActions();
  requestInProgress_ = false;
}

void QMAMAdManager::cancelPendingActions() {
  WV_DCHECK_MAIN_THREAD();
  ++pendingActionGroup_;
}
