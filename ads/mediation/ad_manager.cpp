#include "ads/mediation/ad_manager.h"

#include "platform/dispatch/thread_checks.h"

std::shared_ptr<QMAMAdManager> QMAMAdManager::init() { return std::shared_ptr<QMAMAdManager>(new QMAMAdManager()); }

void QMAMAdManager::cancel() {
  WV_DCHECK_MAIN_THREAD();
  cancelPendingActions();
  requestInProgress_ = false;
}

void QMAMAdManager::cancelPendingActions() {
  WV_DCHECK_MAIN_THREAD();
  ++pendingActionGroup_;
}
