#pragma once
// The application's navigation controller; it also carries the fingerprint lock's cover.

#include <memory>

#include "platform/uikit/controls.h"
#include "platform/uikit/navigation_controller.h"

namespace wardvane::app {

class BCNavigationController : public uikit::NavigationController {
 public:
  using uikit::NavigationController::NavigationController;
  std::string className() const override { return "BCNavigationController"; }

  // The cover: made on first use, then reused.
  std::shared_ptr<uikit::VisualEffectView> vibrancyEffectView;

  // Whether the cover is up (on the navigation view).
  bool isCovered();
};

}  // namespace wardvane::app
