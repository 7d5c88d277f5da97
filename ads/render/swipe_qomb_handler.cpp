#include "ads/render/swipe_qomb_handler.h"

#include "ads/model/ad.h"
#include "platform/dispatch/thread_checks.h"

std::shared_ptr<QMASwipeToViewControllerQOMBHandler> QMASwipeToViewControllerQOMBHandler::initWithSlot(
    std::weak_ptr<QMARenderingSlot> slot) {
  auto handler = std::make_shared<QMASwipeToViewControllerQOMBHandler>();
  handler->slot_ = std::move(slot);
  return handler;
}

const QMAActionBlockDictionary* QMASwipeToViewControllerQOMBHandler::actionBlockDictionary() const {
  static const QMAActionBlockDictionary table = {
      {"enableSwipeToViewController",
       [](QMAQOMBHandler& h, const QMAQOMBArguments& a) {
         static_cast<QMASwipeToViewControllerQOMBHandler&>(h).enableSwipeToViewController(a);
       }},
      {"disableSwipeToViewController",
       [](QMAQOMBHandler& h, const QMAQOMBArguments& a) {
         static_cast<QMASwipeToViewControllerQOMBHandler&>(h).disableSwipeToViewController(a);
       }},
  };
  return &table;
}

void QMASwipeToViewControllerQOMBHandler::enableSwipeToViewController(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  auto s = slot();
  if (!s) return;
  const auto& ad = s->ad();
  // Without a swipe set-up the settings go nowhere, but the slot is still told.
  if (auto configuration = ad ? ad->swipeToViewControllerConfigurations() : nullptr) {
    const auto direction = arguments.note ? arguments.note->parameter("swipe_direction") : std::nullopt;
    const auto draggable = arguments.note ? arguments.note->parameter("ad_draggable") : std::nullopt;
    long value = 0;
    if (direction == "top_to_bottom") value = 1;
    else if (direction == "bottom_to_top") value = 2;
    configuration->setSwipeDirection(value);
    configuration->setAdDraggable(draggable == "1");
  }
  s->enableSwipeToViewController();
}

void QMASwipeToViewControllerQOMBHandler::disableSwipeToViewController(const QMAQOMBArguments&) {
  WV_DCHECK_MAIN_THREAD();
  auto s = slot();
  if (!s) return;
  s->disableSwipeToViewController();
  const auto& ad = s->ad();
  if (auto configuration = ad ? ad->swipeToViewControllerConfigurations() : nullptr) {
    configuration->setSwipeDirection(0);
    configuration->setAdDraggable(false);
  }
}
