#include "ads/render/mraid_picture.h"

#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/net/connection.h"
#include "platform/photos/photo_album.h"

std::shared_ptr<QMAMRAIDPicture> QMAMRAIDPicture::initWithURL(std::optional<net::URL> url) {
  auto picture = std::shared_ptr<QMAMRAIDPicture>(new QMAMRAIDPicture);
  picture->pictureURL_ = std::move(url);
  return picture;
}

void QMAMRAIDPicture::storeInPhotoAlbum() {
  WV_DCHECK_MAIN_THREAD();
  auto alert = uikit::AlertView::alertViewWithTitleMessageCancelButtonTitle(
      "Permission", "The ad is requesting to save an image in your photo album.", "Cancel");
  alert->addButtonWithTitle("Save");
  alert->setDelegate(weak_from_this());
  alert->show();
}

void QMAMRAIDPicture::alertViewClickedButtonAtIndex(const std::shared_ptr<uikit::AlertView>& alertView,
                                                    long buttonIndex) {
  WV_DCHECK_MAIN_THREAD();
  if (alertView && buttonIndex == alertView->firstOtherButtonIndex()) downloadImageWithURL(pictureURL_);
}

void QMAMRAIDPicture::report(const std::optional<net::URL>& url, const std::string& message) {
  if (auto d = delegate()) d->MRAIDPictureFailedToStorePictureWithURLMessage(*this, url, message);
}

void QMAMRAIDPicture::downloadImageWithURL(const std::optional<net::URL>& url) {
  WV_DCHECK_MAIN_THREAD();
  if (downloadStarted_) return;
  if (!url) {
    report(std::nullopt, "No image URL to store.");
    return;
  }
  if (!url->isHTTP()) {
    report(url, "Couldn't create URL request for " + url->absoluteString());
    return;
  }
  net::URLRequest request(*url);
  request.timeoutInterval = kDownloadTimeout;
  request.maxBodySize = kMaxPictureBytes;
  downloadStarted_ = true;
  auto self = shared_from_this();
  net::sendAsynchronousRequest(
      std::move(request), net::deliverOn(dispatch::OperationQueue::mainQueue()),
      [self, url = *url](net::URLResponsePtr, net::Bytes data, std::optional<foundation::Error> error) {
        std::shared_ptr<uikit::Image> image;
        if (!data.empty() && !error) image = uikit::Image::imageWithData(data);
        if (image) {
          self->storeImage(image);
          if (auto d = self->delegate()) d->MRAIDPictureDidStorePictureWithURL(*self, url);
          return;
        }
        self->report(url, "Failed to load " + url.absoluteString() +
                              ". Error: " + (error ? error->localizedDescription() : std::string("(null)")));
      });
}

void QMAMRAIDPicture::storeImage(const std::shared_ptr<uikit::Image>& image) {
  photos::writeImageToSavedPhotosAlbum(image);
}
