#include "ads/present/compose_delegate_proxy.h"

#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"

namespace {

// The composer's presenting controller takes it down; then the proxy lets go.
template <typename Proxy, typename Composer>
void dismissThenStop(const std::shared_ptr<Proxy>& proxy, const std::shared_ptr<Composer>& composer) {
  dispatch::Queue::main()->async([proxy, composer] {
    auto presenting = composer ? composer->presentingViewController() : nullptr;
    auto stop = [proxy] { proxy->stopProxying(); };
    if (!presenting || !presenting->dismissViewControllerAnimated(true, stop)) stop();
  });
}

}  // namespace

// ---- mail

std::shared_ptr<QMAMailComposeDelegateProxy> QMAMailComposeDelegateProxy::associatedDelegateProxyForController(
    const std::shared_ptr<messageui::MFMailComposeViewController>& controller) {
  WV_DCHECK_MAIN_THREAD();
  if (!controller) return nullptr;
  std::shared_ptr<QMAMailComposeDelegateProxy> proxy(new QMAMailComposeDelegateProxy());
  proxy->setMailComposeViewController(controller);
  return proxy;
}

void QMAMailComposeDelegateProxy::setMailComposeViewController(
    const std::shared_ptr<messageui::MFMailComposeViewController>& controller) {
  WV_DCHECK_MAIN_THREAD();
  if (controller == mailComposeViewController_) return;
  auto keep = shared_from_this();  // the self-reference may be the last one
  if (mailComposeViewController_) {
    mailComposeViewController_->setMailComposeDelegate({});
    strongSelf_.reset();
  }
  mailComposeViewController_ = controller;
  if (controller) {
    controller->setMailComposeDelegate(keep);
    strongSelf_ = keep;
  }
}

void QMAMailComposeDelegateProxy::stopProxying() {
  WV_DCHECK_MAIN_THREAD();
  setMailComposeViewController(nullptr);
  mailComposeDelegate_.reset();
}

void QMAMailComposeDelegateProxy::mailComposeControllerDidFinishWithResultError(
    const std::shared_ptr<messageui::MFMailComposeViewController>& controller, messageui::MFMailComposeResult result,
    const std::optional<foundation::Error>& error) {
  WV_DCHECK_MAIN_THREAD();
  if (auto receiver = mailComposeDelegate()) {
    receiver->mailComposeControllerDidFinishWithResultError(controller, result, error);
    return;
  }
  dismissThenStop(shared_from_this(), controller);
}

// ---- messages

std::shared_ptr<QMAMessageComposeDelegateProxy> QMAMessageComposeDelegateProxy::associatedDelegateProxyForController(
    const std::shared_ptr<messageui::MFMessageComposeViewController>& controller) {
  WV_DCHECK_MAIN_THREAD();
  if (!controller) return nullptr;
  std::shared_ptr<QMAMessageComposeDelegateProxy> proxy(new QMAMessageComposeDelegateProxy());
  proxy->setMessageComposeViewController(controller);
  return proxy;
}

void QMAMessageComposeDelegateProxy::setMessageComposeViewController(
    const std::shared_ptr<messageui::MFMessageComposeViewController>& controller) {
  WV_DCHECK_MAIN_THREAD();
  if (controller == messageComposeViewController_) return;
  auto keep = shared_from_this();
  if (messageComposeViewController_) {
    messageComposeViewController_->setMessageComposeDelegate({});
    strongSelf_.reset();
  }
  messageComposeViewController_ = controller;
  if (controller) {
    controller->setMessageComposeDelegate(keep);
    strongSelf_ = keep;
  }
}

void QMAMessageComposeDelegateProxy::stopProxying() {
  WV_DCHECK_MAIN_THREAD();
  setMessageComposeViewController(nullptr);
  messageComposeDelegate_.reset();
}

void QMAMessageComposeDelegateProxy::messageComposeViewControllerDidFinishWithResult(
    const std::shared_ptr<messageui::MFMessageComposeViewController>& controller,
    messageui::MessageComposeResult result) {
  WV_DCHECK_MAIN_THREAD();
  if (auto receiver = messageComposeDelegate()) {
    receiver->messageComposeViewControllerDidFinishWithResult(controller, result);
    return;
  }
  dismissThenStop(shared_from_this(), controller);
}
