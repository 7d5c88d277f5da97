#include "platform/messageui/compose_view_controller.h"

#include <mutex>

namespace messageui {
namespace {

struct Device {
  std::mutex lock;
  bool canSendMail = true;
  bool canSendText = true;
  bool cannotBeMade = false;
  int mailMade = 0;
  int messageMade = 0;
};

Device& device() {
  static Device* d = new Device;
  return *d;
}

}  // namespace

bool MFMailComposeViewController::canSendMail() {
  std::lock_guard l(device().lock);
  return device().canSendMail;
}

std::shared_ptr<MFMailComposeViewController> MFMailComposeViewController::init() {
  {
    std::lock_guard l(device().lock);
    if (device().cannotBeMade) return nullptr;
    ++device().mailMade;
  }
  return std::shared_ptr<MFMailComposeViewController>(new MFMailComposeViewController());
}

void MFMailComposeViewController::finishWithResult(MFMailComposeResult result,
                                                   const std::optional<foundation::Error>& error) {
  auto self = std::static_pointer_cast<MFMailComposeViewController>(shared_from_this());
  if (auto d = mailComposeDelegate()) d->mailComposeControllerDidFinishWithResultError(self, result, error);
}

bool MFMessageComposeViewController::canSendText() {
  std::lock_guard l(device().lock);
  return device().canSendText;
}

std::shared_ptr<MFMessageComposeViewController> MFMessageComposeViewController::init() {
  {
    std::lock_guard l(device().lock);
    if (device().cannotBeMade) return nullptr;
    ++device().messageMade;
  }
  return std::shared_ptr<MFMessageComposeViewController>(new MFMessageComposeViewController());
}

void MFMessageComposeViewController::finishWithResult(MessageComposeResult result) {
  auto self = std::static_pointer_cast<MFMessageComposeViewController>(shared_from_this());
  if (auto d = messageComposeDelegate()) d->messageComposeViewControllerDidFinishWithResult(self, result);
}

void MFTestComposers::setCanSendMail(bool can) {
  std::lock_guard l(device().lock);
  device().canSendMail = can;
}

void MFTestComposers::setCanSendText(bool can) {
  std::lock_guard l(device().lock);
  device().canSendText = can;
}

void MFTestComposers::setComposersCannotBeMade(bool cannot) {
  std::lock_guard l(device().lock);
  device().cannotBeMade = cannot;
}

int MFTestComposers::mailComposersMade() {
  std::lock_guard l(device().lock);
  return device().mailMade;
}

int MFTestComposers::messageComposersMade() {
  std::lock_guard l(device().lock);
  return device().messageMade;
}

void MFTestComposers::reset() {
  auto& d = device();
  std::lock_guard l(d.lock);
  d.canSendMail = d.canSendText = true;
  d.cannotBeMade = false;
  d.mailMade = d.messageMade = 0;
}

}  // namespace messageui
