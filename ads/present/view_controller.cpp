#include "ads/present/view_controller.h"

#include "ads/services/absolute_time.h"
#include "ads/services/logging.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/uikit/application.h"
#include "platform/uikit/color.h"
#include "platform/uikit/window.h"

// ---- QMAViewController

std::shared_ptr<QMAViewController> QMAViewController::init() {
  std::shared_ptr<QMAViewController> vc(new QMAViewController());
  vc->commonSetUp();
  return vc;
}

QMAViewController::~QMAViewController() {
  // A controller that went away without finishing its dismissal still runs its callback.
  if (auto completion = std::move(dismissalCompletion_)) completion();
  recordDismissal();
}

void QMAViewController::setSupportedOrientations(std::uint64_t mask) {
  if (mask != 0) supportedInterfaceOrientations_ = mask;
}

void QMAViewController::setPresenter(std::shared_ptr<QMAOverlayPresenting> presenter) {
  WV_DCHECK_MAIN_THREAD();
  presenter_ = std::move(presenter);
  if (presenter_) presenter_->setPresentedViewController(self());
}

void QMAViewController::viewDidLoad() {
  auto v = view();
  v->setAutoresizingMask(uikit::ViewAutoresizingFlexibleWidth | uikit::ViewAutoresizingFlexibleHeight);
  v->setBackgroundColor(uikit::Color::blackColor());
  v->setClipsToBounds(true);
}

void QMAViewController::joinIntermission() {
  auto s = slot();
  if (!s) return;  // no slot, no intermission: the screen is taken all the same
  auto joined = s->intermission();
  if (!joined) {
    joined = QMAIntermission::initWithSlot(s);
    s->setIntermission(joined);
  }
  intermission_ = joined;
  if (intermission_) intermission_->addParticipant(self());
}

void QMAViewController::presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>& from,
                                                            Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  if (!from) {
    QMALogger::sharedInstance()->logPublicMessage("No UIViewController supplied to the ad. Cannot continue.");
    return;
  }
  // A controller is presented once in its life: a second call while it is up, or once it
  // has given the screen back, changes nothing.
  if (retainCycle_ || relinquishing_) return;
  if (!presenter_) setPresenter(QMAModalOverlayPresenter::init());
  if (!presenter_->isReadyToPresent()) return;
  // Asked before anything is announced: the host hears of no screen that never shows.
  if (presentationWouldBeRefusedFromViewController(from))
    throw QMAPresentationRefused("the platform refused to present " + className() + " from " + from->className());
  auto me = self();
  view()->setUserInteractionEnabled(false);
  retainCycle_ = me;
  foundation::NotificationCenter::defaultCenter().postNotificationName(kQMAAdModalViewControllerWillPresentFullScreen,
                                                                       me);
  joinIntermission();
  std::weak_ptr<QMAViewController> weak = me;
  try {
    presenter_->presentFromViewControllerCompletion(from, [weak, completion] {
      auto vc = weak.lock();
      // Ended on its way in (a close crossing the presentation): it never arrives, and
      // nobody hears that it did.
      if (!vc || vc->relinquishing_) return;
      vc->finishAppearing();
      if (completion) completion();
    });
  } catch (const QMAPresentationRefused&) {
    // Refused all the same: the screen the host heard of is given back, so its takeover
    // ends as it began, and the caller hears why.
    relinquishing_ = true;
    retainCycle_.reset();
    if (intermission_) intermission_->participantWillRelinquishScreen(me);
    foundation::NotificationCenter::defaultCenter().postNotificationName(kQMAAdModalViewControllerDidDismissFullScreen,
                                                                         me);
    finishDismissal();
    throw;
  }
}

bool QMAViewController::presentationWouldBeRefusedFromViewController(const std::shared_ptr<uikit::ViewController>& from) {
  WV_DCHECK_MAIN_THREAD();
  // The cases presenting leaves without a word are no refusal.
  if (!from || retainCycle_ || relinquishing_) return false;
  // Without a presenter yet, the modal one presenting would make asks the platform so.
  if (!presenter_) return !QMACanPresentViewControllerFrom(from, self());
  return presenter_->isReadyToPresent() && !presenter_->canPresentFromViewController(from);
}

bool QMAViewController::presentViewController(const std::shared_ptr<uikit::ViewController>& vc, bool animated,
                                              uikit::ViewController::Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  auto target = presenter_ ? presenter_->presentationViewController() : nullptr;
  if (!target || target.get() == this)
    return uikit::ViewController::presentViewController(vc, animated, std::move(completion));
  return target->presentViewController(vc, animated, std::move(completion));
}

bool QMAViewController::dismissViewControllerAnimated(bool animated, uikit::ViewController::Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  auto target = presenter_ ? presenter_->presentationViewController() : nullptr;
  if (!target || target.get() == this)
    return uikit::ViewController::dismissViewControllerAnimated(animated, std::move(completion));
  return target->dismissViewControllerAnimated(animated, std::move(completion));
}

void QMAViewController::finishAppearing() {
  WV_DCHECK_MAIN_THREAD();
  view()->setUserInteractionEnabled(true);
}

void QMAViewController::relinquishScreenWithCompletion(Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  if (relinquishing_) return;  // on its way out already
  auto me = self();
  relinquishing_ = true;
  view()->setUserInteractionEnabled(false);
  retainCycle_.reset();
  if (intermission_) intermission_->participantWillRelinquishScreen(me);
  if (presenter_) {
    // The callback holds the controller until it has run.
    presenter_->dismissWithCompletionHandler([me, completion] {
      me->finishDismissal();
      if (completion) completion();
    });
  } else {
    finishDismissal();
    if (completion) completion();
  }
  foundation::NotificationCenter::defaultCenter().postNotificationName(kQMAAdModalViewControllerDidDismissFullScreen,
                                                                       me);
}

void QMAViewController::endTakeover() {
  WV_DCHECK_MAIN_THREAD();
  auto me = self();
  if (auto joined = intermission_) {
    joined->endTakeover();
    // A controller that never joined (or whose intermission let it go already) still leaves.
    if (!relinquishing_) relinquishScreenWithCompletion(nullptr);
    return;
  }
  relinquishScreenWithCompletion(nullptr);
}

void QMAViewController::finishDismissal() {
  WV_DCHECK_MAIN_THREAD();
  if (auto joined = std::move(intermission_)) joined->participantDidRelinquishScreen(self());
  if (auto completion = std::move(dismissalCompletion_)) {
    dismissalCompletion_ = nullptr;
    completion();
  }
}

void QMAViewController::viewWillAppear(bool animated) {
  WV_DCHECK_MAIN_THREAD();
  if (isBeingPresented() && !intermission_ && !relinquishing_) joinIntermission();
}

void QMAViewController::viewWillDisappear(bool animated) {
  WV_DCHECK_MAIN_THREAD();
  if (isBeingDismissed() && intermission_) intermission_->participantWillRelinquishScreen(self());
}

void QMAViewController::viewDidDisappear(bool animated) {
  WV_DCHECK_MAIN_THREAD();
  if (!isBeingDismissed()) return;
  // The dismissal is over, whoever asked for it: a controller nobody relinquished no
  // longer holds itself.
  auto keep = self();
  retainCycle_.reset();
  finishDismissal();
}

void QMAViewController::recordDismissal() {
  auto s = slot();
  if (!s) return;
  auto ad = s->ad();
  auto stats = ad ? ad->statistics() : nullptr;
  if (!stats) return;
  const foundation::Value now = QMAAbsoluteTime::absoluteTimeInMilliseconds();
  stats->setObjectForKeyShouldNotifyDelegate(now, "tlanding_page_load_dismiss", true);
  const foundation::Value click = stats->objectForKey("tclickcurr");
  if (click.isNull()) return;
  stats->addObjectToArrayWithKeyShouldNotifyDelegate(foundation::Value(foundation::Array{click, now}),
                                                     "tclick", true);
}

// ---- QMAModalOverlayPresenter

bool QMACanPresentViewControllerFrom(const std::shared_ptr<uikit::ViewController>& from,
                                     const std::shared_ptr<uikit::ViewController>& vc) {
  if (!from || !vc) return false;
  std::shared_ptr<uikit::ViewController> target = from;
  if (auto ad = std::dynamic_pointer_cast<QMAViewController>(from); ad && ad->presenter())
    if (auto routed = ad->presenter()->presentationViewController()) target = routed;
  return target->canPresentViewController(vc);
}

std::shared_ptr<QMAModalOverlayPresenter> QMAModalOverlayPresenter::init() {
  return std::shared_ptr<QMAModalOverlayPresenter>(new QMAModalOverlayPresenter());
}

QMAModalOverlayPresenter::~QMAModalOverlayPresenter() { removeForegroundObserver(); }

void QMAModalOverlayPresenter::removeForegroundObserver() {
  if (!foregroundObserver_) return;
  foundation::NotificationCenter::defaultCenter().removeObserver(*foregroundObserver_);
  foregroundObserver_.reset();
}

bool QMAModalOverlayPresenter::canPresentFromViewController(const std::shared_ptr<uikit::ViewController>& from) {
  return QMACanPresentViewControllerFrom(from, presentedViewController());
}

void QMAModalOverlayPresenter::hideStatusBar() {
  WV_DCHECK_MAIN_THREAD();
  auto presented = presentedViewController();
  if (!presented || presented->modalPresentationStyle() != 0) return;
  if (auto joined = presented->intermission()) joined->participantWillOverrideStatusBarVisibility(presented);
  uikit::Application::sharedApplication()->setStatusBarHidden(true);
}

void QMAModalOverlayPresenter::presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>& from,
                                                                   Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  auto presented = presentedViewController();
  if (!from || !presented) return;
  hideStatusBar();
  removeForegroundObserver();
  std::weak_ptr<QMAModalOverlayPresenter> weak = shared_from_this();
  foregroundObserver_ = foundation::NotificationCenter::defaultCenter().addObserverForName(
      uikit::kUIApplicationWillEnterForegroundNotification, nullptr, dispatch::OperationQueue::mainQueue(),
      [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->appDidEnterForeground();
      });
  if (!from->presentViewController(presented, true, std::move(completion))) {
    removeForegroundObserver();
    throw QMAPresentationRefused("the platform refused to present " + presented->className() + " from " +
                                 from->className());
  }
}

void QMAModalOverlayPresenter::dismissWithCompletionHandler(Completion completion) {
  WV_DCHECK_MAIN_THREAD();
  auto presented = presentedViewController();
  auto presenting = presented ? presented->presentingViewController() : nullptr;
  removeForegroundObserver();
  if (presenting && presenting->presentedViewController() == presented) {
    presenting->dismissViewControllerAnimated(true, std::move(completion));
  } else if (completion) {
    // Somebody else took it down already: the controller still finishes its dismissal.
    completion();
  }
}
