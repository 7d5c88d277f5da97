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
  usableInterfaceFrame_ = creativeWebViewFrame_ = creativeAdFrame_ = uikit::RectZero;
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

void QMASlot::sendPositionFromView(const std::shared_ptr<uikit::View>& view, bool atOnce) {
  const uikit::Rect applicationFrame = QMADevice::sharedInstance()->standardizedOrientedApplicationFrame();
  if (applicationFrame != usableInterfaceFrame_) notifyOrientationToMRAIDCreative();
  auto send = [this, atOnce](const char* name, const uikit::Rect& frame) {
    if (!adView_) return;
    if (atOnce) {
      adView_->postJSNotificationUserInfo(name, rectParameters(frame));
    } else {
      adView_->dispatchSDKEventParameters(name, rectParameters(frame));
    }
  };
  std::optional<uikit::Rect> frame;
  if (view && view->window()) {
    frame = view->convertRectToView(view->bounds(), nullptr);
    frame = QMAInterfaceOrientedRect(*frame).offsetBy(-applicationFrame.origin.x, -applicationFrame.origin.y);
  } else if (view && atOnce) {
    // Not on screen yet: where it will show is unknown, its size is not.
    frame = uikit::Rect{{0, 0}, view->bounds().size};
  }
  if (frame && *frame != creativeWebViewFrame_) {
    creativeWebViewFrame_ = *frame;
    send("onSizeChanged", *frame);
  }
  // The banner's resting place: a takeover by the slot's own ads (which may hide the status
  // bar, and so move the application frame) leaves it where it was.
  if (intermission()) return;
  if (auto owner = slotDelegate()) {
    if (auto inInterface = owner->frameInInterface(); inInterface && *inInterface != uikit::RectZero) {
      const uikit::Rect position = inInterface->offsetBy(-applicationFrame.origin.x, -applicationFrame.origin.y);
      if (position != creativeAdFrame_) {
        creativeAdFrame_ = position;
        send("onDefaultPositionReceived", position);
      }
    }
  }
}

void QMASlot::notifyOrientationToMRAIDCreative() {
  WV_DCHECK_MAIN_THREAD();
  // A creative reports its script while its page still loads, before its ad is the
  // slot's current one: it hears its screen then too, ahead of "ready".
  const bool loadingMRAIDAd = loadingAd_ && loadingAd_->MRAIDEventHandler();
  if (!isMRAIDEnabled() && !loadingMRAIDAd) return;
  auto& device = QMADevice::sharedInstance();
  usableInterfaceFrame_ = device->standardizedOrientedApplicationFrame();
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
