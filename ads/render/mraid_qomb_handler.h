#pragma once
// The MRAID messages of a creative: "mraidLoaded" (its script is in: the slot starts the
// creative's events) and "mraid" with the sub-action "a": "resize", "storePicture",
// "createCalendarEvent", "setOrientationProperties". The handler acts through its ad
// view delegate's opener and the opener's slot. Every request it cannot carry out gives
// the creative an "onError" with the request's action; a sub-action it does not know is
// claimed and ignored.
//
// Threads: main thread, where the router runs actions.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "ads/render/ad_view_opener.h"
#include "ads/render/mraid_picture.h"
#include "ads/render/qomb.h"

class QMAMRAIDQOMBHandler : public QMAQOMBHandler,
                            public QMAMRAIDPictureDelegate {
 public:
  static std::shared_ptr<QMAMRAIDQOMBHandler> initWithOpener(std::shared_ptr<QMAAdViewOpener> opener);

  const QMAActionBlockDictionary* actionBlockDictionary() const override;
  static const QMAActionBlockDictionary& subActionBlockDictionary();

  const std::shared_ptr<QMAAdViewOpener>& opener() const { return opener_; }
  // Picture URL -> its picture, while its download (or its permission question) is open.
  const std::map<std::string, std::shared_ptr<QMAMRAIDPicture>>& pendingPictureDownloads() const {
    return pendingPictureDownloads_;
  }

  void didReceiveMRAIDNotification(const QMAQOMBArguments& arguments);
  void didReceiveMRAIDLoadNotification(const QMAQOMBArguments& arguments);
  void actionResize(const QMAQOMBArguments& arguments);
  void actionStorePicture(const QMAQOMBArguments& arguments);
  void actionCreateCalendarEvent(const QMAQOMBArguments& arguments);
  void actionSetOrientationProperties(const QMAQOMBArguments& arguments);

  // The orientation mask a creative's orientation properties ask for: every orientation
  // when it allows changes, the present one for "none", the named one otherwise.
  // Nullopt for properties that are missing or name no orientation: a controller never
  // gets an empty mask from a creative.
  static std::optional<std::uint64_t> orientationMaskForProperties(const std::optional<std::string>& allowChange,
                                                                   const std::optional<std::string>& forceOrientation,
                                                                   bool statusBarIsLandscape);

  void MRAIDPictureDidStorePictureWithURL(QMAMRAIDPicture& picture, const net::URL& url) override;
  void MRAIDPictureFailedToStorePictureWithURLMessage(QMAMRAIDPicture& picture, const std::optional<net::URL>& url,
                                                      const std::string& message) override;

 private:
  void reportError(const std::string& message, const std::string& action);

  std::shared_ptr<QMAAdViewOpener> opener_;
  std::map<std::string, std::shared_ptr<QMAMRAIDPicture>> pendingPictureDownloads_;
};
