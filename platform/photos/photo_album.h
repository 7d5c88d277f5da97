#pragma once
// The saved-photos album: images an application writes there, kept in memory in the
// order written (this system has no photo library of its own). What the ad component
// saved is read back by tests and drivers. Thread-safe.

#include <memory>
#include <vector>

#include "platform/uikit/image.h"

namespace photos {

// Writes the image at the end of the album; null is ignored.
void writeImageToSavedPhotosAlbum(const std::shared_ptr<uikit::Image>& image);
std::vector<std::shared_ptr<uikit::Image>> savedPhotos();
// An empty album.
void resetSavedPhotos();

}  // namespace photos
