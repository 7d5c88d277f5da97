#include "ads/render/mraid_qomb_handler.h"

#include "ads/model/ad_collaborators.h"
#include "ads/model/string_values.h"
#include "ads/render/mraid_resize_properties.h"
#include "ads/render/rendering_slot.h"
#include "ads/services/device.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/thread_checks.h"

namespace {

template <void (QMAMRAIDQOMBHandler::*Action)(const QMAQOMBArguments&)>
QMAQOMBAction mraidAction() {
  return [](QMAQOMBHandler& h, const QMAQOMBArguments& a) { (static_cast<QMAMRAIDQOMBHandler&>(h).*Action)(a); };
}

}  // namespace

std::shared_ptr<QMAMRAIDQOMBHandler> QMAMRAIDQOMBHandler::initWithOpener(std::shared_ptr<QMAAdViewOpener> opener) {
  auto handler = std::make_shared<QMAMRAIDQOMBHandler>();
  handler->opener_ = std::move(opener);
  return handler;
}

const QMAActionBlockDictionary* QMAMRAIDQOMBHandler::actionBlockDictionary() const {
  static const QMAActionBlockDictionary table = {
      {"mraid", mraidAction<&QMAMRAIDQOMBHandler::didReceiveMRAIDNotification>()},
      {"mraidLoaded", mraidAction<&QMAMRAIDQOMBHandler::didReceiveMRAIDLoadNotification>()},
  };
  return &table;
}

const QMAActionBlockDictionary& QMAMRAIDQOMBHandler::subActionBlockDictionary() {
  static const QMAActionBlockDictionary table = {
      {"resize", mraidAction<&QMAMRAIDQOMBHandler::actionResize>()},
      {"storePicture", mraidAction<&QMAMRAIDQOMBHandler::actionStorePicture>()},
      {"createCalendarEvent", mraidAction<&QMAMRAIDQOMBHandler::actionCreateCalendarEvent>()},
      {"setOrientationProperties", mraidAction<&QMAMRAIDQOMBHandler::actionSetOrientationProperties>()},
  };
  return table;
}

void QMAMRAIDQOMBHandler::reportError(const std::string& message, const std::string& action) {
  if (opener_) opener_->reportMRAIDError(message, action);
}

void QMAMRAIDQOMBHandler::didReceiveMRAIDNotification(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note) return;
  const auto sub = arguments.note->parameter("a");
  if (!sub) return;
  const auto& table = subActionBlockDictionary();
  if (auto it = table.find(*sub); it != table.end()) it->second(*this, arguments);
}

void QMAMRAIDQOMBHandler::didReceiveMRAIDLoadNotification(const QMAQOMBArguments&) {
  WV_DCHECK_MAIN_THREAD();
  if (!opener_) return;
  if (auto handling = std::dynamic_pointer_cast<QMAMRAIDEventHandling>(opener_->slot())) handling->MRAIDAdDidLoad();
}

void QMAMRAIDQOMBHandler::actionResize(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!opener_ || !arguments.note) return;
  auto properties = QMAMRAIDResizeProperties::MRAIDResizePropertiesWithDictionary(arguments.note->parameters());
  // Properties that could not be read are the creative's error, not a resize to nothing.
  if (!properties) {
    reportError("Received invalid resize properties (null)", "resize");
    return;
  }
  opener_->openWebAppWithResizeProperties(properties);
}

void QMAMRAIDQOMBHandler::actionStorePicture(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note) return;
  std::optional<net::URL> url;
  if (auto text = arguments.note->parameter("iurl")) url = net::URL::fromString(*text);
  // The pending list is keyed by the URL: a request without one can only fail.
  if (!url) {
    reportError("No image URL to store.", "storePicture");
    return;
  }
  const std::string key = url->absoluteString();
  if (pendingPictureDownloads_.count(key)) return;
  auto picture = QMAMRAIDPicture::initWithURL(url);
  if (!picture) {
    reportError("Could not initialize picture download.", "storePicture");
    return;
  }
  picture->setDelegate(std::static_pointer_cast<QMAMRAIDQOMBHandler>(shared_from_this()));
  pendingPictureDownloads_[key] = picture;
  picture->storeInPhotoAlbum();
}

void QMAMRAIDQOMBHandler::actionCreateCalendarEvent(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!opener_ || !arguments.note) return;
  opener_->openCalendarWithDictionary(arguments.note->parameters());
}

std::optional<std::uint64_t> QMAMRAIDQOMBHandler::orientationMaskForProperties(
    const std::optional<std::string>& allowChange, const std::optional<std::string>& forceOrientation,
    bool statusBarIsLandscape) {
  if (!allowChange || !forceOrientation) return std::nullopt;
  if (QMAStringBoolValue(*allowChange)) return 30;
  if (*forceOrientation == "none") return statusBarIsLandscape ? 24 : 6;
  const std::uint64_t mask = QMAInterfaceOrientationMaskFromString(*forceOrientation);
  if (mask == 0) return std::nullopt;
  return mask;
}

void QMAMRAIDQOMBHandler::actionSetOrientationProperties(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!opener_ || !arguments.note) return;
  const auto mask = orientationMaskForProperties(arguments.note->parameter("allowOrientationChange"),
                                                 arguments.note->parameter("forceOrientation"),
                                                 QMADevice::sharedInstance()->isOrientationLandscape());
  if (!mask) {
    reportError("Received invalid orientation properties", "setOrientationProperties");
    return;
  }
  opener_->setMRAIDSupportedInterfaceOrientations(*mask);
}

void QMAMRAIDQOMBHandler::MRAIDPictureDidStorePictureWithURL(QMAMRAIDPicture&, const net::URL& url) {
  WV_DCHECK_MAIN_THREAD();
  pendingPictureDownloads_.erase(url.absoluteString());
}

void QMAMRAIDQOMBHandler::MRAIDPictureFailedToStorePictureWithURLMessage(QMAMRAIDPicture&,
                                                                         const std::optional<net::URL>& url,
                                                                         const std::string& message) {
  WV_DCHECK_MAIN_THREAD();
  if (url) pendingPictureDownloads_.erase(url->absoluteString());
  reportError(message, "storePicture");
}
