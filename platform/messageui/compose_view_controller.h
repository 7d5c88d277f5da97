#pragma once
// Stand-ins for the system's mail and message composers: view controllers that hold what
// the application filled in (recipients, subject, body) and tell their delegate what the
// user did with the draft. Whether the device can send mail or text, and whether a
// composer can be made at all, is set by tests and drivers through MFTestComposers; the
// user's answer comes from them too (finishWithResult). As on the phone, a composer holds
// its delegate weakly and never takes itself down: its delegate does.
//
// Threads: composers belong to the main thread; the test settings are thread-safe.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/uikit/view_controller.h"

namespace messageui {

enum MFMailComposeResult : long {
  MFMailComposeResultCancelled = 0,
  MFMailComposeResultSaved = 1,
  MFMailComposeResultSent = 2,
  MFMailComposeResultFailed = 3,
};

enum MessageComposeResult : long {
  MessageComposeResultCancelled = 0,
  MessageComposeResultSent = 1,
  MessageComposeResultFailed = 2,
};

class MFMailComposeViewController;
class MFMessageComposeViewController;

class MFMailComposeViewControllerDelegate {
 public:
  virtual ~MFMailComposeViewControllerDelegate() = default;
  virtual void mailComposeControllerDidFinishWithResultError(const std::shared_ptr<MFMailComposeViewController>& controller,
                                                             MFMailComposeResult result,
                                                             const std::optional<foundation::Error>& error) = 0;
};

class MFMessageComposeViewControllerDelegate {
 public:
  virtual ~MFMessageComposeViewControllerDelegate() = default;
  virtual void messageComposeViewControllerDidFinishWithResult(
      const std::shared_ptr<MFMessageComposeViewController>& controller, MessageComposeResult result) = 0;
};

class MFMailComposeViewController : public uikit::ViewController {
 public:
  // Whether the device has a mail account to send from.
  static bool canSendMail();
  // Null when the device cannot make a composer now.
  static std::shared_ptr<MFMailComposeViewController> init();
  std::string className() const override { return "MFMailComposeViewController"; }

  std::shared_ptr<MFMailComposeViewControllerDelegate> mailComposeDelegate() const { return delegate_.lock(); }
  void setMailComposeDelegate(std::weak_ptr<MFMailComposeViewControllerDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  const std::vector<std::string>& toRecipients() const { return to_; }
  void setToRecipients(std::vector<std::string> recipients) { to_ = std::move(recipients); }
  const std::vector<std::string>& ccRecipients() const { return cc_; }
  void setCcRecipients(std::vector<std::string> recipients) { cc_ = std::move(recipients); }
  const std::vector<std::string>& bccRecipients() const { return bcc_; }
  void setBccRecipients(std::vector<std::string> recipients) { bcc_ = std::move(recipients); }
  const std::string& subject() const { return subject_; }
  void setSubject(std::string subject) { subject_ = std::move(subject); }
  const std::string& messageBody() const { return body_; }
  bool isBodyHTML() const { return bodyIsHTML_; }
  void setMessageBodyIsHTML(std::string body, bool isHTML) {
    body_ = std::move(body);
    bodyIsHTML_ = isHTML;
  }

  // The user sends, saves or cancels the draft: the delegate hears of it (nothing without one).
  void finishWithResult(MFMailComposeResult result, const std::optional<foundation::Error>& error = std::nullopt);

 private:
  MFMailComposeViewController() = default;
  std::weak_ptr<MFMailComposeViewControllerDelegate> delegate_;
  std::vector<std::string> to_, cc_, bcc_;
  std::string subject_, body_;
  bool bodyIsHTML_ = false;
};

class MFMessageComposeViewController : public uikit::ViewController {
 public:
  static bool canSendText();
  // Null when the device cannot make a composer now.
  static std::shared_ptr<MFMessageComposeViewController> init();
  std::string className() const override { return "MFMessageComposeViewController"; }

  std::shared_ptr<MFMessageComposeViewControllerDelegate> messageComposeDelegate() const { return delegate_.lock(); }
  void setMessageComposeDelegate(std::weak_ptr<MFMessageComposeViewControllerDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  const std::vector<std::string>& recipients() const { return recipients_; }
  void setRecipients(std::vector<std::string> recipients) { recipients_ = std::move(recipients); }
  const std::string& body() const { return body_; }
  void setBody(std::string body) { body_ = std::move(body); }

  void finishWithResult(MessageComposeResult result);

 private:
  MFMessageComposeViewController() = default;
  std::weak_ptr<MFMessageComposeViewControllerDelegate> delegate_;
  std::vector<std::string> recipients_;
  std::string body_;
};

// What the device offers.
class MFTestComposers {
 public:
  static void setCanSendMail(bool can);
  static void setCanSendText(bool can);
  // Composers of both kinds cannot be made (init answers null).
  static void setComposersCannotBeMade(bool cannot);
  // How many composers were made, of each kind.
  static int mailComposersMade();
  static int messageComposersMade();
  // Both can send and be made; counters at 0.
  static void reset();
};

}  // namespace messageui
