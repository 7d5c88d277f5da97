#pragma once
// The messages through which a creative adjusts the full-screen web-app controller that
// shows it: "customClose" (the creative draws its own close control when "custom_close"
// is "1", the built-in one is back for any other value) and, before the controller is on
// screen, "setInterstitialProperties" ("transparentBackground" "1" shows it over the host
// on a clear background, any other value with the default presentation; no value changes
// nothing). Both names are claimed whatever comes of them: a banner's creative that sends
// one changes nothing and no later handler sees it.
//
// Threads: main thread, where the router runs actions.

#include <memory>

#include "ads/render/qomb.h"

// What the handler asks of a web-app controller (presentation's QMAAdAppViewController
// serves it).
class QMAAdAppScreen {
 public:
  virtual ~QMAAdAppScreen() = default;
  virtual void setUseCustomClose(bool use) = 0;
  // The presenter the controller will be shown with: the transparent one, or (false) the
  // default one, made when it is presented.
  virtual void setTransparentBackgroundPresentation(bool transparent) = 0;
};

class QMAAdAppQOMBHandler : public QMAQOMBHandler {
 public:
  static std::shared_ptr<QMAAdAppQOMBHandler> init() { return std::make_shared<QMAAdAppQOMBHandler>(); }

  const QMAActionBlockDictionary* actionBlockDictionary() const override;
  void configureCustomCloseButtonWithArguments(const QMAQOMBArguments& arguments);
  void updateInterstitialPropertiesWithArguments(const QMAQOMBArguments& arguments);
};
