#pragma once
// Handlers every ad view's list holds or the banner's adds:
// - QMADefaultQOMBHandler, in every list: "httpTrack" (a tracking ping through the click
//   tracker collection), "log" (a line in the device log), "touch" (a touch sample for the
//   signal collector), "vibrate", "canOpenURLs" (answered with "openableURLs") and "close"
//   (a full-screen ad gives the screen back; a banner does nothing).
// - QMADelayPageLoadQOMBHandler, in the banner and interstitial list: "delayPageLoaded"
//   with "start", "stop" or "cancel" lets a creative hold back its loaded state until it
//   says it is ready; its delegate (the banner's ad view delegate) hears the count.
//
// Threads: main thread, where the router runs actions. "touch", "canOpenURLs" and
// "delayPageLoaded" finish in a further main-queue turn, after the message's routing.

#include <memory>
#include <string>

#include "ads/render/qomb.h"

class QMADefaultQOMBHandler : public QMAQOMBHandler {
 public:
  static std::shared_ptr<QMADefaultQOMBHandler> init() { return std::make_shared<QMADefaultQOMBHandler>(); }
  const QMAActionBlockDictionary* actionBlockDictionary() const override;

  // The value's leading integer (a text without one gives 0), or the default when the key
  // is absent or holds no text or number.
  static long integerForKeyFromDictionaryWithDefaultValue(const std::string& key, const foundation::Dictionary& dictionary,
                                                          long defaultValue);

  void didReceiveTrackHTTPNotification(const QMAQOMBArguments& arguments);
  void didReceiveLogNotification(const QMAQOMBArguments& arguments);
  void didReceiveTouchNotification(const QMAQOMBArguments& arguments);
  void didReceiveVibrateNotification(const QMAQOMBArguments& arguments);
  void didReceiveCanOpenURLsNotification(const QMAQOMBArguments& arguments);
  void didReceiveCloseNotification(const QMAQOMBArguments& arguments);
};

class QMADelayPageLoadQOMBHandler;

// Served by the banner's ad view delegate.
class QMADelayLoadDelegate {
 public:
  virtual ~QMADelayLoadDelegate() = default;
  virtual void loadHandlerDidChangeDelayFromTo(QMADelayPageLoadQOMBHandler& handler, long from, long to) = 0;
  virtual void loadHandlerDidCancel(QMADelayPageLoadQOMBHandler& handler) = 0;
};

class QMADelayPageLoadQOMBHandler : public QMAQOMBHandler {
 public:
  // Null without a delegate.
  static std::shared_ptr<QMADelayPageLoadQOMBHandler> initWithDelegate(std::weak_ptr<QMADelayLoadDelegate> delegate);
  const QMAActionBlockDictionary* actionBlockDictionary() const override;

  std::shared_ptr<QMADelayLoadDelegate> delegate() const { return delegate_.lock(); }
  long delayCount() const { return delayCount_; }

  void delayPageLoadWithArguments(const QMAQOMBArguments& arguments);
  // "start" raises the count, else "stop" lowers it (not below 0), else "cancel" tells the
  // delegate and forgets it for good.
  void handleDelayLoadWithParameters(const foundation::Dictionary& parameters);

 private:
  std::weak_ptr<QMADelayLoadDelegate> delegate_;
  long delayCount_ = 0;
};
