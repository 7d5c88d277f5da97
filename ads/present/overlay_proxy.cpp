#include "ads/present/overlay_proxy.h"

#include "ads/present/opener.h"
#include "ads/present/view_controller.h"
#include "platform/dispatch/thread_checks.h"

namespace {
// The key the proxy is attached to its controller under.
const char kOverlayProxyKey = 0;
}  // namespace

std::shared_ptr<QMAOverlayProxy> QMAOverlayProxy::overlayProxyForViewController(
    const std::shared_ptr<uikit::ViewController>& viewController) {
  WV_DCHECK_MAIN_THREAD();
  if (!viewController) return nullptr;
  return std::static_pointer_cast<QMAOverlayProxy>(viewController->associatedObject(&kOverlayProxyKey));
}

std::shared_ptr<QMAOverlayProxy> QMAOverlayProxy::initWithViewController(
    const std::shared_ptr<uikit::ViewController>& viewController) {
  WV_DCHECK_MAIN_THREAD();
  if (!viewController || overlayProxyForViewController(viewController)) return nullptr;
  std::shared_ptr<QMAOverlayProxy> proxy(new QMAOverlayProxy());
  proxy->viewController_ = viewController;
  viewController->setAssociatedObject(&kOverlayProxyKey, proxy);
  return proxy;
}

void QMAOverlayProxy::presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>& from,
                                                          Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  if (intermission_) return;  // on screen already
  auto wrapped = viewController();
  // Nothing to present from, nothing to present, or a platform that would refuse: the
  // host must not hear of a screen that never shows.
  if (!from || !wrapped || !QMACanPresentViewControllerFrom(from, wrapped)) return;
  auto me = shared_from_this();
  if (auto s = slot()) {
    auto joined = s->intermission();
    if (!joined) {
      joined = QMAIntermission::initWithSlot(s);
      s->setIntermission(joined);
    }
    intermission_ = joined;
    if (intermission_) intermission_->addParticipant(me);
  }
  if (!from->presentViewController(wrapped, true, std::move(completion))) leaveIntermission();
}

void QMAOverlayProxy::relinquishScreenWithCompletion(Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  auto me = shared_from_this();
  if (intermission_) intermission_->participantWillRelinquishScreen(me);
  auto finish = [me, completion] {
    if (completion) completion();
    if (auto joined = std::exchange(me->intermission_, nullptr)) joined->participantDidRelinquishScreen(me);
  };
  auto wrapped = viewController();
  auto presenting = wrapped ? wrapped->presentingViewController() : nullptr;
  // Taken down by somebody else already: the dismissal is over.
  if (!presenting || !presenting->dismissViewControllerAnimated(true, finish)) finish();
}

void QMAOverlayProxy::leaveIntermission() {
  auto joined = std::exchange(intermission_, nullptr);
  if (!joined) return;
  auto me = shared_from_this();
  joined->participantWillRelinquishScreen(me);
  joined->participantDidRelinquishScreen(me);
}
