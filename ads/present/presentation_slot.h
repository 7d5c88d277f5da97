#pragma once
// What the full-screen presentation asks of the slot whose ad it shows, beyond what
// rendering asks (QMARenderingSlot): the slot's takeover of the screen (its intermission,
// held weakly by the slot), the host's three screen events, the full-screen ad view's
// appearance, the current ad (whose statistics record the return from a landing page) and
// the public interstitial that owns the slot. The slot of the ad slots (QMASlot) serves
// it; presentation holds it weakly, so a slot that has gone silences it.
//
// Threads: main thread, as the slot.

#include <memory>

#include "ads/model/ad.h"
#include "ads/render/rendering_slot.h"
#include "ads/services/in_app_purchase.h"

class QMAIntermission;
class QMAInterstitial;

class QMAPresentationSlot : public QMARenderingSlot {
 public:
  ~QMAPresentationSlot() override = default;

  // The takeover the slot takes part in now; the participants hold it, the slot does not.
  virtual std::shared_ptr<QMAIntermission> intermission() const = 0;
  virtual void setIntermission(std::weak_ptr<QMAIntermission> intermission) = 0;
  // The host hears that a screen will be presented, and that it will be and was dismissed.
  virtual void adWillPresentScreen() = 0;
  virtual void adWillDismissScreen() = 0;
  virtual void adDidDismissScreen() = 0;
  // The full-screen ad view will appear or disappear (viewability sampling).
  virtual void interstitialViewWillAppear() = 0;
  virtual void interstitialViewWillDisappear() = 0;
  // The public ad object (banner view, interstitial) whose host hears the takeover's
  // messages; a takeover keeps it, so a host that takes its banner away still hears the
  // end of what it heard begin. Null when there is none.
  virtual std::shared_ptr<void> takeoverOwner() const { return nullptr; }
  // The public interstitial whose slot this is; null for other formats or once it has gone.
  virtual std::shared_ptr<QMAInterstitial> interstitial() const = 0;
  // A purchase the ad offers, handed on the main thread to whoever carries it out: the
  // default purchase flow when it is on, else the host's delegate (the slot asks its
  // owner); without either, the public log line.
  virtual void didReceiveInAppPurchase(const std::shared_ptr<QMAInAppPurchase>& purchase) {
    QMASlotInAppPurchase::didReceiveInAppPurchase(nullptr, purchase);
  }
};
