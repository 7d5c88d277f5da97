// The slot's viewability reporting: once its ad made its impression and the ad asks for
// viewability (or is an MRAID ad), the slot samples its ad view with a monitor, registers
// with an SDK-core page reserved for viewability, and sends that page a report of the ad's
// geometry after every sample; a last report marked as unloaded goes out when the ad is
// replaced or the slot goes away.

#include "ads/services/absolute_time.h"
#include "ads/services/geometry.h"
#include "ads/services/utilities.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/uikit/application.h"
#include "platform/uikit/window.h"

using foundation::Dictionary;
using foundation::Value;

bool QMASlot::canEnableVistraceMonitoring() const {
  WV_DCHECK_MAIN_THREAD();
  if (isMediating() || !viewHasMadeImpression_ || !ad_) return false;
  return ad_->vistraceConfigurations().has_value() || isMRAIDEnabled();
}

bool QMASlot::monitoredViewIsSubviewOfDeviceScreen() const {
  return vistraceMonitoredView_ && vistraceMonitoredView_->window() != nullptr;
}

void QMASlot::startVistraceReportingIfEnabled() {
  WV_DCHECK_MAIN_THREAD();
  if (!canEnableVistraceMonitoring()) return;
  if (!vistraceMonitor_) createVistraceMonitor();
  if (!vistraceMonitor_) return;
  vistraceMonitor_->sample();
  if (monitoredViewIsSubviewOfDeviceScreen()) vistraceMonitor_->startMonitoring();
}

void QMASlot::createVistraceMonitor() {
  WV_DCHECK_MAIN_THREAD();
  vistraceMonitor_ = QMAVistraceMonitor::initWithView(vistraceMonitoredView_);
  if (!vistraceMonitor_) return;
  vistraceID_ = QMAApplication::sharedInstance()->nextVistraceID();
  SDKCoreWebView_ = QMASDKCoreController::sharedInstance()->SDKCoreWebViewForVistraceProcessing();
  if (SDKCoreWebView_)
    SDKCoreWebView_->setVistraceObserverForVistraceID(std::static_pointer_cast<QMAAdViewVistraceMonitoring>(self()),
                                                      vistraceID_);
  vistraceMonitor_->setDelegate(std::static_pointer_cast<QMAVistraceMonitorDelegate>(self()));
}

void QMASlot::finishVistraceReporting() {
  WV_DCHECK_MAIN_THREAD();
  if (vistraceMonitor_) {
    vistraceMonitor_->stopMonitoring();
    vistraceMonitor_->setDelegate({});
    vistraceMonitorWillUnload();
    vistraceMonitor_.reset();
  }
  if (SDKCoreWebView_) {
    auto page = std::move(SDKCoreWebView_);
    page->removeVistraceObserverForVistraceID(vistraceID_);
    QMASDKCoreController::sharedInstance()->finishedUsingSDKCoreWebViewForVistraceProcessing(page);
  }
}

void QMASlot::vistraceMonitorWillUnload() {
  WV_DCHECK_MAIN_THREAD();
  if (!vistraceMonitor_ || !SDKCoreWebView_) return;
  if (auto command = vistraceJSCommandWithParams(vistraceParametersVistraceUnloaded(*vistraceMonitor_, true)))
    SDKCoreWebView_->enqueueJavaScriptCommand(*command);
}

void QMASlot::vistraceMonitorDidRefresh(QMAVistraceMonitor& monitor) {
  WV_DCHECK_MAIN_THREAD();
  if (SDKCoreWebView_) {
    if (auto command = vistraceJSCommandWithParams(vistraceParametersVistraceUnloaded(monitor, false)))
      SDKCoreWebView_->enqueueJavaScriptCommand(*command);
  }
  // An MRAID creative hears where its ad now is after each sample.
  if (ad_) {
    if (auto handler = ad_->MRAIDEventHandler()) handler->updatePositionFromView(adView_);
  }
}

void QMASlot::adViewDidChangeVistraceVisibility(bool visible) {
  WV_DCHECK_MAIN_THREAD();
  // Only MRAID creatives hear of their visibility.
  if (ad_) {
    if (auto handler = ad_->MRAIDEventHandler()) handler->updateVisibility(visible);
  }
}

void QMASlot::adViewDidStopVistraceMonitoring() {
  WV_DCHECK_MAIN_THREAD();
  finishVistraceReporting();
}

std::string QMASlot::adFormat() const { return adType_ && adType_->isInterstitial() ? "interstitial_mb" : "banner_mb"; }

Dictionary QMASlot::dictionaryForBounds(uikit::Rect bounds) {
  const uikit::Rect r = bounds.standardized();
  return {{"top", Value(r.minY())},
          {"bottom", Value(r.minY() + r.height())},
          {"left", Value(r.minX())},
          {"right", Value(r.minX() + r.width())}};
}

Dictionary QMASlot::vistraceParametersVistraceUnloaded(QMAVistraceMonitor& monitor, bool unloaded) const {
  WV_DCHECK_MAIN_THREAD();
  auto view = monitor.monitoredView();
  auto window = view ? view->window() : nullptr;
  Dictionary unit;
  unit["adBox"] = dictionaryForBounds(view ? view->convertRectToView(view->bounds(), window.get()) : uikit::Rect{});
  unit["globalVisibleBox"] = dictionaryForBounds(monitor.monitoredViewVisibleBounds());
  unit["viewBox"] = dictionaryForBounds(window ? window->bounds() : uikit::Rect{});
  unit["screenDimension"] = dictionaryForBounds(QMAApplicationFrame(uikit::Screen::mainScreen()));
  unit["screenOrientation"] = Value(uikit::Application::sharedApplication()->statusBarOrientation());
  const bool onScreen = window && !window->isHidden() && QMAApplication::sharedInstance()->isAppActive();
  unit["isSubViewOfVisibleWindow"] = onScreen ? "1" : "0";
  unit["isVisible"] = monitor.monitoredViewVisible() ? "1" : "0";
  unit["ad_type_mraid"] = isMRAIDEnabled() ? "1" : "0";
  unit["qvraVersion"] = QMARequest::sdkVersion();
  unit["adFormat"] = adFormat();
  if (ad_ && ad_->vistraceConfigurations()) unit["vistraceJSON"] = *ad_->vistraceConfigurations();
  unit["timestamp"] = QMAAbsoluteTime::absoluteTimeInMilliseconds();
  unit["hashCode"] = Value(static_cast<unsigned long long>(vistraceID_));
  if (unloaded) unit["doneReasonCode"] = "u";
  return {{"units", foundation::Array{Value(std::move(unit))}}};
}

std::optional<std::string> QMASlot::vistraceJSCommandWithParams(const std::optional<Dictionary>& params) {
  if (!params) return std::nullopt;
  auto json = qma_JSONStringPretty(*params, false);
  if (!json) return std::nullopt;
  return "QVRA_updateVistrace(" + QMAScriptSafeJSON(*json) + ")";
}
