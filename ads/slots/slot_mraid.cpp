// The slot's side of an MRAID creative: the events its page hears (screen, device
// features, ready, visibility, size and position, errors) and the interface orientation
// it follows while its ad is shown.
#include "ads/services/device.h"
#include "ads/services/geometry.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/eventkit/event_store.h"
#include "platform/uikit/application.h"
#include "platform/uikit/window.h"

using foundation::Dictionary;
using foundation::Value;

namespace {

Dictionary rectParameters(const uikit::Rect& r) {
  return Dictionary{{"width", Value(r.size.width)}, {"height", Value(r.size.height)}, {"x", Value(r.origin.x)},
                    {"y", Value(r.origin.y)}};
}

Dictionary sizeParameters(const uikit::Size& s) {
  return Dictionary{{"width", Value(s.width)}, {"height", Value(s.height)}};
}

}  // namespace

Dictionary QMASlot::creativePositionDictionaryForVistraceBounds(uikit::Rect bounds) {
  return rectParameters(bounds.standardized());
}

void QMASlot::MRAIDAdDidLoad() {
  WV_DCHECK_MAIN_THREAD();
  std::weak_ptr<QMAMRAIDEventHandling> self = std::static_pointer_cast<QMAMRAIDEventHandling>(shared_from_this());
  if (ad_) ad_->setMRAIDEventHandler(self);
  if (loadingAd_) loadingAd_->setMRAIDEventHandler(self);
  addCreativeOrientationChangeObserver([](QMASlot& slot) { slot.notifyOrientationToMRAIDCreative(); });
  usableInterfaceFrame_ = creativeWebViewFrame_ = creativeAdFrame_ = positionUsableFrame_ = uikit::RectZero;
  startVistraceReportingIfEnabled();
  notifyOrientationToMRAIDCreative();
  beginListeningToDeviceOrientationChangeEvent();
  notifyDeviceFeatures();
  notifyPositionToMRAIDCreative();
  SDKDidBecomeReady();
}

void QMASlot::MRAIDAdDidUnload() {
  WV_DCHECK_MAIN_THREAD();
  endListeningToDeviceOrientationChangeEvent();
}

void QMASlot::updateVisibility(bool visible) {
  WV_DCHECK_MAIN_THREAD();
  if (adView_) adView_->dispatchSDKEventParameters("onAdVisibilityChanged", Dictionary{{"visible", visible ? "1" : "0"}});
}

void QMASlot::handleErrorAction(const std::string& message, const std::string& action) {
  WV_DCHECK_MAIN_THREAD();
  if (adView_) adView_->dispatchSDKEventParameters("onError", Dictionary{{"message", message}, {"action", action}});
}

void QMASlot::updatePositionFromView(const std::shared_ptr<uikit::View>& view) {
  WV_DCHECK_MAIN_THREAD();
  sendPositionFromView(view, false);
}

void QMASlot::notifyPositionToMRAIDCreative() {
  WV_DCHECK_MAIN_THREAD();
  sendPositionFromView(adView_, true);
}

bool QMASlot::showsMRAIDAdFullScreen() const { return adType_ && adType_->isInterstitial(); }

uikit::Rect QMASlot::creativeUsableFrame() const {
  auto& device = QMADevice::sharedInstance();
  // An interstitial fills the screen, the status bar hidden. Before it is shown (at
  // "ready") its creative reads what it will have then, not the host's frame of the moment
  // nor the place its view waits in.
  if (showsMRAIDAdFullScreen()) return device->standardizedOrientedScreenBounds();
  return device->standardizedOrientedApplicationFrame();
}

std::optional<uikit::Rect> QMASlot::creativeFrameOfView(const std::shared_ptr<uikit::View>& view,
                                                       const uikit::Rect& usableFrame, bool evenOffScreen) const {
  if (!view) return std::nullopt;
  if (showsMRAIDAdFullScreen()) return uikit::Rect{{0, 0}, usableFrame.size};
  if (view->window()) {
    const uikit::Rect inWindow = view->convertRectToView(view->bounds(), nullptr);
    return QMAInterfaceOrientedRect(inWindow).offsetBy(-usableFrame.origin.x, -usableFrame.origin.y);
  }
  // Not on screen (yet): only the size is known.
  if (evenOffScreen) return uikit::Rect{{0, 0}, view->bounds().size};
  return std::nullopt;
}

std::optional<uikit::Rect> QMASlot::creativeDefaultPosition(const uikit::Rect& usableFrame,
                                                           const std::optional<uikit::Rect>& viewFrame) {
  // An interstitial rests where it shows: the whole screen.
  if (showsMRAIDAdFullScreen()) return viewFrame;
  // The banner's resting place: a takeover by the slot's own ads (which may hide the status
  // bar, and so move the application frame) leaves it where it was.
  if (intermission()) return std::nullopt;
  auto owner = slotDelegate();
  if (!owner) return std::nullopt;
  auto inInterface = owner->frameInInterface();
  if (!inInterface || *inInterface == uikit::RectZero) return std::nullopt;
  return inInterface->offsetBy(-usableFrame.origin.x, -usableFrame.origin.y);
}

void QMASlot::sendPositionFromView(const std::shared_ptr<uikit::View>& view, bool atOnce) {
  const uikit::Rect usableFrame = creativeUsableFrame();
  if (usableFrame != usableInterfaceFrame_) notifyOrientationToMRAIDCreative();
  auto send = [this, atOnce](const char* name, const uikit::Rect& frame) {
    if (!adView_) return;
    if (atOnce) {
      adView_->postJSNotificationUserInfo(name, rectParameters(frame));
    } else {
      adView_->dispatchSDKEventParameters(name, rectParameters(frame));
    }
  };
  const std::optional<uikit::Rect> frame = creativeFrameOfView(view, usableFrame, atOnce);
  // While the slot's ads hold the screen the ad view moves as its takeover comes and goes:
  // a sample taken on the way would make the creative hear the new size in its old state.
  // Each change of state brings its own frame (MRAIDValuesFromView); samples then bring
  // only what a turn of the interface changed.
  const bool onTheWay = !atOnce && intermission() && usableFrame == positionUsableFrame_;
  // The resting frame first: it fires no event of its own, and a "sizeChange" listener
  // reads it.
  if (auto position = creativeDefaultPosition(usableFrame, onTheWay ? std::nullopt : frame);
      position && *position != creativeAdFrame_) {
    creativeAdFrame_ = *position;
    send("onDefaultPositionReceived", *position);
  }
  if (frame && *frame != creativeWebViewFrame_ && !onTheWay) {
    creativeWebViewFrame_ = *frame;
    positionUsableFrame_ = usableFrame;
    send("onSizeChanged", *frame);
  }
}

Dictionary QMASlot::MRAIDValuesFromView(const std::shared_ptr<uikit::View>& view) {
  WV_DCHECK_MAIN_THREAD();
  auto& device = QMADevice::sharedInstance();
  usableInterfaceFrame_ = creativeUsableFrame();
  const uikit::Rect screen = device->standardizedOrientedScreenBounds();
  if (auto frame = creativeFrameOfView(view, usableInterfaceFrame_, false)) {
    creativeWebViewFrame_ = *frame;
    positionUsableFrame_ = usableInterfaceFrame_;
    if (auto position = creativeDefaultPosition(usableInterfaceFrame_, frame)) creativeAdFrame_ = *position;
  }
  return Dictionary{{"currentPosition", Value(rectParameters(creativeWebViewFrame_))},
                    {"defaultPosition", Value(rectParameters(creativeAdFrame_))},
                    {"maxSize", Value(sizeParameters(usableInterfaceFrame_.size))},
                    {"screenSize", Value(sizeParameters(screen.size))}};
}

void QMASlot::notifyOrientationToMRAIDCreative() {
  WV_DCHECK_MAIN_THREAD();
  // A creative reports its script while its page still loads, before its ad is the
  // slot's current one: it hears its screen then too, ahead of "ready".
  const bool loadingMRAIDAd = loadingAd_ && loadingAd_->MRAIDEventHandler();
  if (!isMRAIDEnabled() && !loadingMRAIDAd) return;
  auto& device = QMADevice::sharedInstance();
  usableInterfaceFrame_ = creativeUsableFrame();
  const uikit::Rect screen = device->standardizedOrientedScreenBounds();
  if (!adView_) return;
  adView_->postJSNotificationUserInfo(
      "onScreenInfoChanged",
      Dictionary{{"width", Value(screen.size.width)},
                 {"height", Value(screen.size.height)},
                 {"maxSizeWidth", Value(usableInterfaceFrame_.size.width)},
                 {"maxSizeHeight", Value(usableInterfaceFrame_.size.height)},
                 {"isOrientationLandscape", device->isOrientationLandscape() ? "1" : "0"}});
}

void QMASlot::notifyDeviceFeatures() {
  WV_DCHECK_MAIN_THREAD();
  if (!adView_) return;
  Dictionary open = QMADevice::sharedInstance()->canOpenURLs({"sms://", "tel://"});
  const auto status = eventkit::EventStore::authorizationStatusForEntityType(eventkit::EntityTypeEvent);
  const bool calendar =
      status == eventkit::AuthorizationStatusNotDetermined || status == eventkit::AuthorizationStatusAuthorized;
  adView_->postJSNotificationUserInfo("onDeviceFeaturesReceived",
                                      Dictionary{{"sms", Value(open["sms://"] == Value(true))},
                                                 {"tel", Value(open["tel://"] == Value(true))},
                                                 {"calendar", Value(calendar)},
                                                 {"storePicture", Value(true)},
                                                 {"inlineVideo", Value(true)}});
}

void QMASlot::SDKDidBecomeReady() {
  WV_DCHECK_MAIN_THREAD();
  if (adView_) adView_->postJSNotificationUserInfo("onReadyEventReceived", Dictionary{{"js", QMARequest::sdkVersion()}});
}

void QMASlot::beginListeningToDeviceOrientationChangeEvent() {
  WV_DCHECK_MAIN_THREAD();
  if (isListeningToDeviceOrientationChangeEvent_) return;
  didChangeDeviceOrientation();
  isListeningToDeviceOrientationChangeEvent_ = true;
  std::weak_ptr<QMASlot> weak = weak_from_this();
  statusBarOrientationObserver_ = foundation::NotificationCenter::defaultCenter().addObserverForName(
      uikit::kUIApplicationDidChangeStatusBarOrientationNotification, nullptr, nullptr,
      [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->didChangeDeviceOrientation();
      });
}

void QMASlot::endListeningToDeviceOrientationChangeEvent() {
  WV_DCHECK_MAIN_THREAD();
  if (!isListeningToDeviceOrientationChangeEvent_) return;
  isListeningToDeviceOrientationChangeEvent_ = false;
  auto& center = foundation::NotificationCenter::defaultCenter();
  if (statusBarOrientationObserver_) center.removeObserver(statusBarOrientationObserver_);
  statusBarOrientationObserver_.reset();
  if (creativeOrientationObserver_) center.removeObserver(creativeOrientationObserver_);
  creativeOrientationObserver_.reset();
}

void QMASlot::addCreativeOrientationChangeObserver(std::function<void(QMASlot&)> action) {
  WV_DCHECK_MAIN_THREAD();
  auto& center = foundation::NotificationCenter::defaultCenter();
  // One observer per slot: a creative that reports its load twice hears each change once.
  if (creativeOrientationObserver_) center.removeObserver(creativeOrientationObserver_);
  std::weak_ptr<QMASlot> weak = weak_from_this();
  creativeOrientationObserver_ = center.addObserverForName(
      kQMASlotCreativeOrientationChangedNotification, this, nullptr, [weak, action](const foundation::Notification&) {
        if (auto self = weak.lock()) action(*self);
      });
}

void QMASlot::didChangeDeviceOrientation() {
  WV_DCHECK_MAIN_THREAD();
  foundation::NotificationCenter::defaultCenter().postNotificationName(kQMASlotCreativeOrientationChangedNotification,
                                                                       shared_from_this());
}
