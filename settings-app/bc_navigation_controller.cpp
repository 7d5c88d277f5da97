#include "settings-app/bc_navigation_controller.h"

namespace wardvane::app {

bool BCNavigationController::isCovered() {
  return vibrancyEffectView && isViewLoaded() && vibrancyEffectView->superview() == view();
}

}  // namespace wardvane::app
