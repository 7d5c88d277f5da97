// The opener's composer group: "mailto:" and "sms:" links in the mail and message
// composers, and MRAID calendar events in the event editor.
#include "ads/present/opener.h"

#include "ads/present/compose_delegate_proxy.h"
#include "ads/present/overlay_proxy.h"
#include "ads/present/presentation_slot.h"
#include "ads/present/view_controller.h"
#include "ads/render/ad_view.h"
#include "ads/render/mraid_calendar_properties.h"
#include "ads/services/url_utilities.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/json.h"

namespace {

// An event the creative gives no end lasts this long.
constexpr double kDefaultEventDuration = 3600;

std::vector<std::string> splitAtCommas(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    pieces.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return pieces;
    start = comma + 1;
  }
}

// A link's address part (after the scheme's prefix, up to the first "?") and its query
// parameters with lower-case keys; no parameters without a "?".
struct ComposerLink {
  std::string address;
  foundation::Dictionary parameters;
};

ComposerLink readComposerLink(const net::URL& url, std::size_t prefixLength) {
  const std::string& text = url.absoluteString();
  const std::string rest = text.size() > prefixLength ? text.substr(prefixLength) : std::string();
  ComposerLink link;
  const std::size_t question = rest.find('?');
  if (question == std::string::npos) {
    link.address = rest;
    return link;
  }
  link.address = rest.substr(0, question);
  link.parameters = qma_dictionaryFromQueryParametersAndConvertKeysToLowercase(url, true);
  return link;
}

std::optional<std::string> parameter(const foundation::Dictionary& parameters, const char* key) {
  const std::string* value = foundation::stringForKey(parameters, key);
  return value ? std::optional<std::string>(*value) : std::nullopt;
}

// A composer that will not be shown lets its delegate proxy go, which otherwise keeps
// itself and the composer for as long as the composer is up.
void abandonComposer(const std::shared_ptr<uikit::ViewController>& controller) {
  if (auto mail = std::dynamic_pointer_cast<messageui::MFMailComposeViewController>(controller)) {
    if (auto proxy = std::dynamic_pointer_cast<QMAMailComposeDelegateProxy>(mail->mailComposeDelegate()))
      proxy->stopProxying();
  } else if (auto text = std::dynamic_pointer_cast<messageui::MFMessageComposeViewController>(controller)) {
    if (auto proxy = std::dynamic_pointer_cast<QMAMessageComposeDelegateProxy>(text->messageComposeDelegate()))
      proxy->stopProxying();
  }
}

}  // namespace

void QMAOpener::presentComposerController(const std::shared_ptr<uikit::ViewController>& controller) {
  WV_DCHECK_MAIN_THREAD();
  presentComposerControllerAttempt(controller, kComposerPresentationAttempts);
}

void QMAOpener::presentComposerControllerAttempt(const std::shared_ptr<uikit::ViewController>& controller,
                                                 int attemptsLeft) {
  if (!controller) return;
  if (!shouldPerformOpenAction()) {
    abandonComposer(controller);
    return;
  }
  // A full-screen ad on its way in takes no touches yet: the composer waits for it. A
  // bounded wait, and only while the ad is still coming: one giving the screen back never
  // takes touches again.
  if (auto fullScreen = std::dynamic_pointer_cast<QMAViewController>(viewController());
      fullScreen && !fullScreen->view()->isUserInteractionEnabled()) {
    if (attemptsLeft <= 1 || !fullScreen->isHoldingItself()) {
      abandonComposer(controller);
      return;
    }
    std::weak_ptr<QMAOpener> weak = shared_from_this();
    dispatch::after(kComposerRetryInterval, dispatch::Queue::main(), [weak, controller, attemptsLeft] {
      if (auto opener = weak.lock()) opener->presentComposerControllerAttempt(controller, attemptsLeft - 1);
    });
    return;
  }
  auto proxy = QMAOverlayProxy::overlayProxyForViewController(controller);
  if (!proxy) {
    proxy = QMAOverlayProxy::initWithViewController(controller);
    if (!proxy) {
      abandonComposer(controller);
      return;
    }
    proxy->setSlot(presentationSlot());
  }
  auto self = shared_from_this();
  proxy->setOpener(self);
  std::weak_ptr<QMAOpener> weak = self;
  // Reported once the composer is up: without a controller to present from nothing shows.
  proxy->presentFromViewControllerCompletion(viewController(), [weak] {
    if (auto opener = weak.lock()) opener->didOpenInApp();
  });
  // Nothing to present from, or the platform refused: the composer never shows.
  if (!controller->presentingViewController()) abandonComposer(controller);
}

void QMAOpener::openEmailComposer(const net::URL& url) {
  WV_DCHECK_MAIN_THREAD();
  if (!shouldPerformOpenAction() || !canOpenContent(true) || !messageui::MFMailComposeViewController::canSendMail())
    return;
  auto composer = messageui::MFMailComposeViewController::init();
  if (!composer) return;
  if (auto proxy = QMAOverlayProxy::initWithViewController(composer)) proxy->setSlot(presentationSlot());
  auto delegateProxy = QMAMailComposeDelegateProxy::associatedDelegateProxyForController(composer);
  delegateProxy->setMailComposeDelegate(
      std::static_pointer_cast<messageui::MFMailComposeViewControllerDelegate>(shared_from_this()));
  const ComposerLink link = readComposerLink(url, 7);  // "mailto:"
  // The address part stays as written: one entry, however many addresses it holds.
  composer->setToRecipients({link.address});
  if (auto cc = parameter(link.parameters, "cc")) composer->setCcRecipients(splitAtCommas(*cc));
  if (auto bcc = parameter(link.parameters, "bcc")) composer->setBccRecipients(splitAtCommas(*bcc));
  if (auto subject = parameter(link.parameters, "subject")) composer->setSubject(*subject);
  if (auto body = parameter(link.parameters, "body")) composer->setMessageBodyIsHTML(*body, false);
  composer->setModalTransitionStyle(0);  // cover vertical
  presentComposerController(composer);
}

void QMAOpener::openSmsComposer(const net::URL& url) {
  WV_DCHECK_MAIN_THREAD();
  if (!shouldPerformOpenAction() || !canOpenContent(true) || !messageui::MFMessageComposeViewController::canSendText())
    return;
  const ComposerLink link = readComposerLink(url, 4);  // "sms:"
  auto composer = messageui::MFMessageComposeViewController::init();
  if (!composer) return;
  if (auto proxy = QMAOverlayProxy::initWithViewController(composer)) proxy->setSlot(presentationSlot());
  auto delegateProxy = QMAMessageComposeDelegateProxy::associatedDelegateProxyForController(composer);
  delegateProxy->setMessageComposeDelegate(
      std::static_pointer_cast<messageui::MFMessageComposeViewControllerDelegate>(shared_from_this()));
  composer->setRecipients(splitAtCommas(link.address));
  if (auto body = parameter(link.parameters, "body")) composer->setBody(*body);
  composer->setModalTransitionStyle(0);  // cover vertical
  presentComposerController(composer);
}

namespace {

// Takes a composer down: through its overlay proxy when it has one, then `after`.
void takeComposerDown(const std::shared_ptr<uikit::ViewController>& composer, std::function<void()> after) {
  dispatch::Queue::main()->async([composer, after = std::move(after)] {
    if (auto proxy = QMAOverlayProxy::overlayProxyForViewController(composer)) {
      proxy->relinquishScreenWithCompletion(after);
      return;
    }
    auto presenting = composer->presentingViewController();
    if (!presenting || !presenting->dismissViewControllerAnimated(true, after)) {
      if (after) after();
    }
  });
}

}  // namespace

void QMAOpener::mailComposeControllerDidFinishWithResultError(
    const std::shared_ptr<messageui::MFMailComposeViewController>& controller, messageui::MFMailComposeResult,
    const std::optional<foundation::Error>&) {
  WV_DCHECK_MAIN_THREAD();
  if (!controller) return;
  auto delegateProxy = std::dynamic_pointer_cast<QMAMailComposeDelegateProxy>(controller->mailComposeDelegate());
  takeComposerDown(controller, [delegateProxy] {
    if (delegateProxy) delegateProxy->stopProxying();
  });
}

void QMAOpener::messageComposeViewControllerDidFinishWithResult(
    const std::shared_ptr<messageui::MFMessageComposeViewController>& controller, messageui::MessageComposeResult) {
  WV_DCHECK_MAIN_THREAD();
  if (!controller) return;
  auto delegateProxy = std::dynamic_pointer_cast<QMAMessageComposeDelegateProxy>(controller->messageComposeDelegate());
  takeComposerDown(controller, [delegateProxy] {
    if (delegateProxy) delegateProxy->stopProxying();
  });
}

void QMAOpener::reportCalendarEventCanceled(const std::weak_ptr<QMAAdView>& adView) {
  QMARunOnMainThread([adView] {
    if (auto view = adView.lock()) view->postJSNotificationUserInfo("onCalendarEventCanceled", std::nullopt);
  });
}

void QMAOpener::openCalendarWithDictionary(const foundation::Dictionary& parameters) {
  WV_DCHECK_MAIN_THREAD();
  const QMAMRAIDCalendarProperties properties(parameters);
  // An event needs a time to start; an end, when given, must not come before it.
  const bool readable = properties.startTime() &&
                        (!properties.endTime() || properties.endTime()->timeIntervalSince1970 >=
                                                      properties.startTime()->timeIntervalSince1970);
  if (!readable) {
    reportMRAIDError("Could not fully parse event dictionary: " + foundation::jsonSerialize(foundation::Value(parameters)),
                     "createCalendarEvent");
    return;
  }
  if (!shouldPerformOpenAction()) {
    reportMRAIDError("Creating calendar events is not allowed until the user interacts with the ad.",
                     "createCalendarEvent");
    return;
  }
  eventkit::Event event;
  event.title = properties.eventDescription();
  event.notes = properties.summary();
  event.location = properties.location();
  event.startDate = properties.startTime();
  event.endDate = properties.endTime()
                      ? properties.endTime()
                      : foundation::Date{properties.startTime()->timeIntervalSince1970 + kDefaultEventDuration};
  auto editor = eventkit::EKEventEditViewController::init();
  auto store = std::make_shared<eventkit::EventStore>();
  auto proxy = QMAOverlayProxy::initWithViewController(editor);
  auto self = shared_from_this();
  if (proxy) {
    proxy->setSlot(presentationSlot());
    proxy->setOpener(self);
  }
  editor->setEditViewDelegate(std::static_pointer_cast<eventkit::EKEventEditViewDelegate>(self));
  editor->setEvent(event);
  editor->setEventStore(store);

  std::weak_ptr<QMAAdView> weakView = adView();
  std::weak_ptr<QMAOpener> weak = self;
  auto show = [weak, editor](const std::shared_ptr<uikit::ViewController>& from) {
    auto opener = weak.lock();
    auto editorProxy = QMAOverlayProxy::overlayProxyForViewController(editor);
    if (!opener || !editorProxy) return;
    editorProxy->presentFromViewControllerCompletion(from, [weak] {
      if (auto o = weak.lock()) o->didOpenInApp();
    });
  };
  switch (eventkit::EventStore::authorizationStatusForEntityType(eventkit::EntityTypeEvent)) {
    case eventkit::AuthorizationStatusNotDetermined: {
      std::weak_ptr<uikit::ViewController> from = viewController();
      eventkit::EventStore::requestAccessToEntityType(
          eventkit::EntityTypeEvent, [show, from, weakView](bool granted) {
            if (!granted) {
              reportCalendarEventCanceled(weakView);
              return;
            }
            QMARunOnMainThread([show, from] { show(from.lock()); });
          });
      break;
    }
    case eventkit::AuthorizationStatusAuthorized:
      show(viewController());
      break;
    default:
      reportCalendarEventCanceled(weakView);
      break;
  }
}

void QMAOpener::eventEditViewControllerDidCompleteWithAction(
    const std::shared_ptr<eventkit::EKEventEditViewController>& controller, eventkit::EKEventEditViewAction) {
  WV_DCHECK_MAIN_THREAD();
  if (!controller) return;
  // Saved, cancelled or deleted alike: the creative is not told.
  if (auto proxy = QMAOverlayProxy::overlayProxyForViewController(controller)) {
    proxy->relinquishScreenWithCompletion(nullptr);
    return;
  }
  if (auto presenting = controller->presentingViewController()) presenting->dismissViewControllerAnimated(true, nullptr);
}
