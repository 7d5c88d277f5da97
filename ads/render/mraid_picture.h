#pragma once
// A creative's "storePicture": the user is asked first, the image is downloaded once,
// and an image (only an image) goes into the saved-photos album. The outcome goes to the
// delegate (the MRAID message handler); a declined question ends it without a report.
//
// Threads: main thread. The download's completion arrives on the main operation queue
// and keeps the picture alive until it has run.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/url.h"
#include "platform/uikit/alert_view.h"
#include "platform/uikit/image.h"

class QMAMRAIDPicture;

class QMAMRAIDPictureDelegate {
 public:
  virtual ~QMAMRAIDPictureDelegate() = default;
  virtual void MRAIDPictureDidStorePictureWithURL(QMAMRAIDPicture& picture, const net::URL& url) = 0;
  virtual void MRAIDPictureFailedToStorePictureWithURLMessage(QMAMRAIDPicture& picture,
                                                              const std::optional<net::URL>& url,
                                                              const std::string& message) = 0;
};

class QMAMRAIDPicture : public uikit::AlertViewDelegate, public std::enable_shared_from_this<QMAMRAIDPicture> {
 public:
  static constexpr double kDownloadTimeout = 60.0;
  // A picture a creative asks to keep is a photo of a few megabytes at most; an answer
  // without end is cut here, not held.
  static constexpr std::size_t kMaxPictureBytes = std::size_t{16} << 20;

  static std::shared_ptr<QMAMRAIDPicture> initWithURL(std::optional<net::URL> url);

  const std::optional<net::URL>& pictureURL() const { return pictureURL_; }
  bool downloadStarted() const { return downloadStarted_; }
  std::shared_ptr<QMAMRAIDPictureDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAMRAIDPictureDelegate> delegate) { delegate_ = std::move(delegate); }

  // "Permission" / "The ad is requesting to save an image in your photo album." with
  // "Cancel" and "Save".
  void storeInPhotoAlbum();
  // "Save" downloads; any other button does nothing.
  void alertViewClickedButtonAtIndex(const std::shared_ptr<uikit::AlertView>& alertView, long buttonIndex) override;
  // At most once per picture.
  void downloadImageWithURL(const std::optional<net::URL>& url);
  void storeImage(const std::shared_ptr<uikit::Image>& image);

 private:
  QMAMRAIDPicture() = default;
  void report(const std::optional<net::URL>& url, const std::string& message);

  std::optional<net::URL> pictureURL_;
  bool downloadStarted_ = false;
  std::weak_ptr<QMAMRAIDPictureDelegate> delegate_;
};
