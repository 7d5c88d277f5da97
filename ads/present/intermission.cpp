#include "ads/present/intermission.h"

#include <algorithm>

#include "ads/present/presentation_slot.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/uikit/application.h"
#include "platform/uikit/device.h"
#include "platform/uikit/window.h"

std::shared_ptr<QMAIntermission> QMAIntermission::initWithSlot(const std::shared_ptr<QMAPresentationSlot>& slot) {
  WV_DCHECK_MAIN_THREAD();
  if (!slot) return nullptr;
  return std::shared_ptr<QMAIntermission>(new QMAIntermission(slot));
}

QMAIntermission::~QMAIntermission() {
  // The clean-up of every entry point, less the take-downs (nothing is left to run them),
  // then whatever is still on screen ends: the host always hears the end of a takeover
  // whose beginning it heard, also when its last participant went away without leaving.
  stopObserving();
  if (phase_ == Phase::Presenting) willEnd();
  if (phase_ != Phase::Idle) didEnd();
}

QMAIntermission::Participants::iterator QMAIntermission::find(Participants& set, const void* address) {
  return std::find_if(set.begin(), set.end(), [address](const Participant& p) { return p.address == address; });
}

std::vector<std::shared_ptr<QMAIntermitting>> QMAIntermission::activeParticipants() {
  WV_DCHECK_MAIN_THREAD();
  std::vector<std::shared_ptr<QMAIntermitting>> out;
  for (const auto& p : activeParticipants_)
    if (auto object = p.object.lock()) out.push_back(object);
  return out;
}

std::vector<std::shared_ptr<QMAIntermitting>> QMAIntermission::deactivatingParticipants() {
  WV_DCHECK_MAIN_THREAD();
  std::vector<std::shared_ptr<QMAIntermitting>> out;
  for (const auto& p : deactivatingParticipants_)
    if (auto object = p.object.lock()) out.push_back(object);
  return out;
}

void QMAIntermission::addParticipant(const std::shared_ptr<QMAIntermitting>& participant) {
  WV_DCHECK_MAIN_THREAD();
  cleanUpDeallocatedParticipants();
  if (!participant) return;
  auto keep = shared_from_this();
  if (find(activeParticipants_, participant.get()) == activeParticipants_.end())
    activeParticipants_.push_back({participant.get(), participant});
  advance();
}

void QMAIntermission::participantWillOverrideStatusBarVisibility(const std::shared_ptr<QMAIntermitting>&) {
  WV_DCHECK_MAIN_THREAD();
  statusBarOverridden_ = true;
}

void QMAIntermission::participantWillRelinquishScreen(const std::shared_ptr<QMAIntermitting>& participant) {
  WV_DCHECK_MAIN_THREAD();
  cleanUpDeallocatedParticipants();
  auto keep = shared_from_this();
  deactivationSuspended_ = true;
  if (!participant) return;
  auto it = find(activeParticipants_, participant.get());
  if (it == activeParticipants_.end()) return;
  Participant moved = *it;
  activeParticipants_.erase(it);
  if (find(deactivatingParticipants_, moved.address) == deactivatingParticipants_.end())
    deactivatingParticipants_.push_back(moved);
  advance();
}

void QMAIntermission::participantDidRelinquishScreen(const std::shared_ptr<QMAIntermitting>& participant) {
  WV_DCHECK_MAIN_THREAD();
  cleanUpDeallocatedParticipants();
  auto keep = shared_from_this();
  // A participant whose dismissal started without notice is moved now.
  if (participant && find(activeParticipants_, participant.get()) != activeParticipants_.end())
    participantWillRelinquishScreen(participant);
  if (participant) {
    auto it = find(deactivatingParticipants_, participant.get());
    if (it != deactivatingParticipants_.end()) {
      deactivatingParticipants_.erase(it);
      advance();
    }
  }
  if (deactivatingParticipants_.empty()) resumeDeactivations();
}

void QMAIntermission::advance() {
  // The slot and its ad object stay while one takeover's end leads into the next one's
  // beginning.
  auto slot = heldSlot_;
  auto owner = heldOwner_;
  bool again = false;
  for (;;) {
    if (phase_ == Phase::Idle && !activeParticipants_.empty()) {
      phase_ = Phase::Presenting;
      begin(again);
    } else if (phase_ == Phase::Presenting && activeParticipants_.empty()) {
      phase_ = Phase::Ending;
      willEnd();
    } else if (phase_ == Phase::Ending && deactivatingParticipants_.empty()) {
      phase_ = Phase::Idle;
      didEnd();
      again = true;
    } else {
      return;
    }
  }
}

void QMAIntermission::begin(bool again) {
  if (auto s = slot()) {
    heldSlot_ = s;
    heldOwner_ = s->takeoverOwner();
    s->adWillPresentScreen();
  }
  auto app = uikit::Application::sharedApplication();
  // A takeover that begins as the one before ends keeps what the host had before both:
  // what the screen shows now is still ours.
  if (!again) {
    publisherIdleTimerDisabled_ = app->isIdleTimerDisabled();
    statusBarWasOriginallyHidden_ = app->isStatusBarHidden();
    interfaceOrientationAtBegin_ = app->statusBarOrientation();
    deviceOrientationAtBegin_ = static_cast<long>(uikit::Device::currentDevice()->orientation());
  }
  app->setIdleTimerDisabled(true);
  if (!foregroundObserver_) {
    std::weak_ptr<QMAIntermission> weak = shared_from_this();
    foregroundObserver_ = foundation::NotificationCenter::defaultCenter().addObserverForName(
        uikit::kUIApplicationWillEnterForegroundNotification, nullptr, nullptr,
        [weak](const foundation::Notification&) {
          if (auto self = weak.lock()) self->applicationWillEnterForeground();
        });
  }
}

void QMAIntermission::willEnd() {
  auto app = uikit::Application::sharedApplication();
  app->setIdleTimerDisabled(publisherIdleTimerDisabled_);
  if (statusBarOverridden_) app->setStatusBarHidden(statusBarWasOriginallyHidden_);
  if (auto s = slot()) s->adWillDismissScreen();
}

void QMAIntermission::didEnd() {
  stopObserving();
  // A participant that joined and left while the end was under way may have hidden the
  // status bar again after the will-dismiss gave it back.
  if (statusBarOverridden_ && activeParticipants_.empty())
    uikit::Application::sharedApplication()->setStatusBarHidden(statusBarWasOriginallyHidden_);
  restoreInterfaceOrientation();
  if (auto s = slot()) s->adDidDismissScreen();
  heldOwner_.reset();
  heldSlot_.reset();
}

void QMAIntermission::restoreInterfaceOrientation() {
  // A controller of ours that forced an orientation turned the interface when it came; the
  // system turns it back only at the next turn of the device. Back where it was, unless
  // the user turned the device meanwhile (then where the device points); in either case
  // only where the host and what stays presented allow, else where they first allow. The
  // controller whose dismissal ends the takeover may still be presented, on its way out:
  // it has no say.
  auto app = uikit::Application::sharedApplication();
  auto window = app->keyWindow();
  std::uint64_t mask = app->supportedInterfaceOrientationsForWindow(window);
  auto top = window ? window->rootViewController() : nullptr;
  while (top) {
    auto next = top->presentedViewController();
    if (!next || next->isBeingDismissed()) break;
    top = next;
  }
  if (top) mask &= top->supportedInterfaceOrientations();
  if (mask == 0) return;
  auto allowed = [mask](long o) { return o >= 1 && o <= 4 && (mask & (std::uint64_t{1} << o)); };
  const long now = app->statusBarOrientation();
  const long device = static_cast<long>(uikit::Device::currentDevice()->orientation());
  long wanted = now;
  if (now != interfaceOrientationAtBegin_)
    wanted = device == deviceOrientationAtBegin_ ? interfaceOrientationAtBegin_ : device;
  if (!allowed(wanted)) wanted = allowed(now) ? now : 0;
  for (long o : {1L, 4L, 3L, 2L}) {
    if (wanted != 0) break;
    if (allowed(o)) wanted = o;
  }
  if (wanted != now) app->setStatusBarOrientation(wanted);
}

void QMAIntermission::endTakeover() {
  WV_DCHECK_MAIN_THREAD();
  cleanUpDeallocatedParticipants();
  auto keep = shared_from_this();
  deactivationQueue_.clear();
  std::vector<std::shared_ptr<QMAIntermitting>> active;
  for (const auto& p : activeParticipants_)
    if (auto object = p.object.lock()) active.push_back(object);
  // The one on top first: what a participant presented leaves before it.
  for (auto it = active.rbegin(); it != active.rend(); ++it) (*it)->relinquishScreenWithCompletion(nullptr);
}

void QMAIntermission::stopObserving() {
  if (!foregroundObserver_) return;
  foundation::NotificationCenter::defaultCenter().removeObserver(*foregroundObserver_);
  foregroundObserver_.reset();
}

void QMAIntermission::cleanUpDeallocatedParticipants() {
  auto isGone = [](const Participant& p) { return p.object.expired(); };
  const auto activeBefore = activeParticipants_.size();
  std::erase_if(activeParticipants_, isGone);
  const bool droppedActive = activeParticipants_.size() != activeBefore;
  const auto deactivatingBefore = deactivatingParticipants_.size();
  std::erase_if(deactivatingParticipants_, isGone);
  const bool droppedDeactivating = deactivatingParticipants_.size() != deactivatingBefore;
  if (!droppedActive && !droppedDeactivating) return;
  if (deactivatingParticipants_.empty()) resumeDeactivations();
  advance();
}

void QMAIntermission::applicationWillEnterForeground() {
  WV_DCHECK_MAIN_THREAD();
  for (const auto& p : activeParticipants_) {
    auto object = p.object.lock();
    if (object && object->shouldDismissOnApplicationEnteringForeground()) deactivationQueue_.push_back(object);
  }
  runNextDeactivation();
}

void QMAIntermission::resumeDeactivations() {
  deactivationSuspended_ = false;
  runNextDeactivation();
}

void QMAIntermission::runNextDeactivation() {
  if (deactivationSuspended_ || deactivationScheduled_ || deactivationQueue_.empty()) return;
  deactivationScheduled_ = true;
  std::weak_ptr<QMAIntermission> weak = shared_from_this();
  dispatch::Queue::main()->async([weak] {
    auto self = weak.lock();
    if (!self) return;
    self->deactivationScheduled_ = false;
    if (self->deactivationSuspended_) return;  // held back until the dismissal under way ends
    if (self->deactivationQueue_.empty()) return;
    auto participant = self->deactivationQueue_.front().lock();
    self->deactivationQueue_.pop_front();
    if (participant && find(self->activeParticipants_, participant.get()) != self->activeParticipants_.end())
      participant->relinquishScreenWithCompletion(nullptr);
    self->runNextDeactivation();
  });
}
