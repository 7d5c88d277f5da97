#pragma once
// One takeover of the screen by a slot's full-screen ads. However many full-screen
// controllers come and go on top of each other, the host hears once at the start that the
// ad will present a screen and once at the end that it will dismiss and then did dismiss
// it. The intermission is the one owner of the takeover's end (endTakeover). It keeps the participants on screen (active) and those whose dismissal
// has started (deactivating), switches the idle timer off for the time and puts it back,
// puts the status bar back when a participant hid it, and when the application returns to
// the foreground takes down, one after the other, the participants that ask for it.
//
// Ownership: the slot holds its intermission weakly and every participant strongly while
// it is on screen, so the intermission lives exactly as long as a participant keeps it.
// Participants are held weakly; one that goes away without leaving is dropped at the next
// entry point, with the same end steps.
//
// Threads: main thread (checked). The foreground take-downs run as blocks of the main
// queue, one at a time, each after the previous participant's dismissal has finished.

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/notification_center.h"

class QMAIntermission;
class QMAPresentationSlot;

namespace uikit {
class ViewController;
}

// What a participant of an intermission offers (the full-screen ad controllers and the
// overlay proxies of system controllers).
class QMAIntermitting {
 public:
  using Completion = std::function<void()>;
  virtual ~QMAIntermitting() = default;
  // Take the screen; the completion runs once the participant is on screen.
  virtual void presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>& viewController,
                                                   Completion completion) = 0;
  // YES when the intermission is to give this participant's screen back as the
  // application returns to the foreground.
  virtual bool shouldDismissOnApplicationEnteringForeground() = 0;
  // Give the screen back; the completion runs once the participant has left it.
  virtual void relinquishScreenWithCompletion(Completion completion) = 0;
  // The intermission the participant belongs to while it holds the screen.
  virtual std::shared_ptr<QMAIntermission> intermission() const = 0;
};

class QMAIntermission : public std::enable_shared_from_this<QMAIntermission> {
 public:
  // Null without a slot.
  static std::shared_ptr<QMAIntermission> initWithSlot(const std::shared_ptr<QMAPresentationSlot>& slot);
  // Ends what is left: with participants still active, the host hears the will-dismiss and
  // did-dismiss; with only deactivating ones, the did-dismiss.
  ~QMAIntermission();

  std::shared_ptr<QMAPresentationSlot> slot() const { return slot_.lock(); }
  bool publisherIdleTimerDisabled() const { return publisherIdleTimerDisabled_; }
  bool statusBarWasOriginallyHidden() const { return statusBarWasOriginallyHidden_; }
  bool statusBarOverridden() const { return statusBarOverridden_; }
  // The participants on screen, and those whose dismissal has started.
  std::vector<std::shared_ptr<QMAIntermitting>> activeParticipants();
  std::vector<std::shared_ptr<QMAIntermitting>> deactivatingParticipants();
  // Whether the foreground take-downs are held back (a dismissal is under way).
  bool isDeactivationSuspended() const { return deactivationSuspended_; }

  void addParticipant(const std::shared_ptr<QMAIntermitting>& participant);
  void participantWillOverrideStatusBarVisibility(const std::shared_ptr<QMAIntermitting>& participant);
  void participantWillRelinquishScreen(const std::shared_ptr<QMAIntermitting>& participant);
  void participantDidRelinquishScreen(const std::shared_ptr<QMAIntermitting>& participant);
  // The application comes back to the foreground (also what the observer runs).
  void applicationWillEnterForeground();
  // Ends the whole takeover, whatever asked for it (the creative's close, a close button,
  // the ad's web process ending, the host taking the banner away): every participant still
  // on screen gives it back, the one on top first. The end steps run as each leaves, once
  // the last has gone: the host hears the will-dismiss and did-dismiss of the one takeover,
  // the status bar and the interface orientation are the host's and the device's again.
  void endTakeover();

 private:
  struct Participant {
    const void* address;
    std::weak_ptr<QMAIntermitting> object;
  };
  using Participants = std::vector<Participant>;
  explicit QMAIntermission(std::weak_ptr<QMAPresentationSlot> slot) : slot_(std::move(slot)) {}

  // Where the takeover stands as the host heard it: nothing (or its did-dismiss), its
  // will-present, its will-dismiss.
  enum class Phase { Idle, Presenting, Ending };

  static Participants::iterator find(Participants& set, const void* address);
  // Every step of the host's story runs here, once per takeover, whatever changed the
  // participants: the end's will-dismiss when the last active one leaves, its did-dismiss
  // when the last leaving one has gone, and only then the beginning of a takeover that a
  // participant joining meanwhile started (the host never hears two ends of one beginning).
  void advance();
  // `again`: begun as the one before ended; what the host had before that one is kept.
  void begin(bool again);
  void willEnd();
  void didEnd();
  void cleanUpDeallocatedParticipants();
  void resumeDeactivations();
  void runNextDeactivation();
  void stopObserving();
  // The interface turns back to what the device and the host allow, as the takeover's last
  // controller leaves: the orientation it had when the takeover began while the device has
  // not turned since, else the device's.
  void restoreInterfaceOrientation();

  bool publisherIdleTimerDisabled_ = false;
  std::weak_ptr<QMAPresentationSlot> slot_;
  bool statusBarWasOriginallyHidden_ = false;
  Participants activeParticipants_;
  Participants deactivatingParticipants_;
  // The foreground take-downs still to run, front first; one runs at a time, none while
  // suspended.
  std::deque<std::weak_ptr<QMAIntermitting>> deactivationQueue_;
  bool deactivationSuspended_ = false;
  bool deactivationScheduled_ = false;
  bool statusBarOverridden_ = false;
  Phase phase_ = Phase::Idle;
  // From the beginning to the end of the takeover: the slot and its public ad object, so
  // the host hears the end even when it let its banner go meanwhile.
  std::shared_ptr<QMAPresentationSlot> heldSlot_;
  std::shared_ptr<void> heldOwner_;
  long interfaceOrientationAtBegin_ = 0;
  long deviceOrientationAtBegin_ = 0;
  std::optional<foundation::NotificationCenter::ObserverToken> foregroundObserver_;
};
