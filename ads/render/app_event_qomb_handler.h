#pragma once
// The app-event message of banner and interstitial ads: "appEvent" with "name" and
// "info" is an event the creative sends to the host application. The handler hands it to
// the slot, which passes it to its owner (the publisher-edition formats tell their
// app-event delegate). A message without a name is claimed and does nothing.
//
// Threads: main thread, where the router runs actions.

#include <memory>

#include "ads/render/qomb.h"
#include "ads/render/rendering_slot.h"

class QMAAppEventQOMBHandler : public QMAQOMBHandler {
 public:
  // Null without a slot.
  static std::shared_ptr<QMAAppEventQOMBHandler> initWithSlot(const std::shared_ptr<QMARenderingSlot>& slot);
  const QMAActionBlockDictionary* actionBlockDictionary() const override;
  std::shared_ptr<QMARenderingSlot> slot() const { return slot_.lock(); }

  void didReceiveAppEventNotification(const QMAQOMBArguments& arguments);

 private:
  std::weak_ptr<QMARenderingSlot> slot_;
};
