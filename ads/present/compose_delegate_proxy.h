#pragma once
// A composer holds its delegate weakly, and the opener that asked for it may be gone
// before the user sends or cancels. Each composer therefore gets a delegate proxy that
// keeps itself alive while attached to it, passes the result on to the opener while the
// opener lives, and otherwise takes the composer down by itself. Two classes that differ
// only in the composer: QMAMailComposeDelegateProxy and QMAMessageComposeDelegateProxy.
//
// Threads: main thread only (checked).

#include <memory>

#include "platform/messageui/compose_view_controller.h"

class QMAMailComposeDelegateProxy : public messageui::MFMailComposeViewControllerDelegate,
                                    public std::enable_shared_from_this<QMAMailComposeDelegateProxy> {
 public:
  // A new proxy attached to the composer (null without one).
  static std::shared_ptr<QMAMailComposeDelegateProxy> associatedDelegateProxyForController(
      const std::shared_ptr<messageui::MFMailComposeViewController>& controller);

  std::shared_ptr<messageui::MFMailComposeViewControllerDelegate> mailComposeDelegate() const {
    return mailComposeDelegate_.lock();
  }
  void setMailComposeDelegate(std::weak_ptr<messageui::MFMailComposeViewControllerDelegate> delegate) {
    mailComposeDelegate_ = std::move(delegate);
  }
  const std::shared_ptr<messageui::MFMailComposeViewController>& mailComposeViewController() const {
    return mailComposeViewController_;
  }
  // Detaches the composer attached (its delegate link cleared, the proxy no longer keeps
  // itself) and attaches this one (null: none).
  void setMailComposeViewController(const std::shared_ptr<messageui::MFMailComposeViewController>& controller);
  // Detaches the composer and forgets the real delegate; nothing keeps the proxy after this.
  void stopProxying();
  bool isAttached() const { return strongSelf_ != nullptr; }

  void mailComposeControllerDidFinishWithResultError(
      const std::shared_ptr<messageui::MFMailComposeViewController>& controller, messageui::MFMailComposeResult result,
      const std::optional<foundation::Error>& error) override;

 private:
  QMAMailComposeDelegateProxy() = default;
  std::shared_ptr<QMAMailComposeDelegateProxy> strongSelf_;
  std::weak_ptr<messageui::MFMailComposeViewControllerDelegate> mailComposeDelegate_;
  std::shared_ptr<messageui::MFMailComposeViewController> mailComposeViewController_;
};

class QMAMessageComposeDelegateProxy : public messageui::MFMessageComposeViewControllerDelegate,
                                       public std::enable_shared_from_this<QMAMessageComposeDelegateProxy> {
 public:
  static std::shared_ptr<QMAMessageComposeDelegateProxy> associatedDelegateProxyForController(
      const std::shared_ptr<messageui::MFMessageComposeViewController>& controller);

  std::shared_ptr<messageui::MFMessageComposeViewControllerDelegate> messageComposeDelegate() const {
    return messageComposeDelegate_.lock();
  }
  void setMessageComposeDelegate(std::weak_ptr<messageui::MFMessageComposeViewControllerDelegate> delegate) {
    messageComposeDelegate_ = std::move(delegate);
  }
  const std::shared_ptr<messageui::MFMessageComposeViewController>& messageComposeViewController() const {
    return messageComposeViewController_;
  }
  void setMessageComposeViewController(const std::shared_ptr<messageui::MFMessageComposeViewController>& controller);
  void stopProxying();
  bool isAttached() const { return strongSelf_ != nullptr; }

  void messageComposeViewControllerDidFinishWithResult(
      const std::shared_ptr<messageui::MFMessageComposeViewController>& controller,
      messageui::MessageComposeResult result) override;

 private:
  QMAMessageComposeDelegateProxy() = default;
  std::shared_ptr<QMAMessageComposeDelegateProxy> strongSelf_;
  std::weak_ptr<messageui::MFMessageComposeViewControllerDelegate> messageComposeDelegate_;
  std::shared_ptr<messageui::MFMessageComposeViewController> messageComposeViewController_;
};
