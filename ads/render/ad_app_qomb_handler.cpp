#include "ads/render/ad_app_qomb_handler.h"

#include "ads/render/ad_view.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/uikit/view_controller.h"

namespace {

template <void (QMAAdAppQOMBHandler::*Action)(const QMAQOMBArguments&)>
QMAQOMBAction adAppAction() {
  return [](QMAQOMBHandler& h, const QMAQOMBArguments& a) { (static_cast<QMAAdAppQOMBHandler&>(h).*Action)(a); };
}

}  // namespace

const QMAActionBlockDictionary* QMAAdAppQOMBHandler::actionBlockDictionary() const {
  static const QMAActionBlockDictionary table = {
      {"customClose", adAppAction<&QMAAdAppQOMBHandler::configureCustomCloseButtonWithArguments>()},
      {"setInterstitialProperties", adAppAction<&QMAAdAppQOMBHandler::updateInterstitialPropertiesWithArguments>()},
  };
  return &table;
}

void QMAAdAppQOMBHandler::configureCustomCloseButtonWithArguments(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.adView || !arguments.note) return;
  auto controller = arguments.adView->viewController();
  auto screen = std::dynamic_pointer_cast<QMAAdAppScreen>(controller);
  if (!screen) return;
  const auto flag = arguments.note->parameter("custom_close");
  screen->setUseCustomClose(flag && *flag == "1");
}

void QMAAdAppQOMBHandler::updateInterstitialPropertiesWithArguments(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.adView || !arguments.note) return;
  auto controller = arguments.adView->viewController();
  auto screen = std::dynamic_pointer_cast<QMAAdAppScreen>(controller);
  if (!screen) return;
  const auto transparent = arguments.note->parameter("transparentBackground");
  if (!transparent) return;
  // The presenter is chosen before presentation only: a controller on screen keeps its own.
  if (controller->isViewLoaded() && controller->view()->superview()) return;
  screen->setTransparentBackgroundPresentation(*transparent == "1");
}
