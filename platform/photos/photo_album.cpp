#include "platform/photos/photo_album.h"

#include <mutex>

namespace photos {
namespace {

struct Album {
  std::mutex mu;
  std::vector<std::shared_ptr<uikit::Image>> images;
};

Album& album() {
  static Album* a = new Album;
  return *a;
}

}  // namespace

void writeImageToSavedPhotosAlbum(const std::shared_ptr<uikit::Image>& image) {
  if (!image) return;
  std::lock_guard l(album().mu);
  album().images.push_back(image);
}

std::vector<std::shared_ptr<uikit::Image>> savedPhotos() {
  std::lock_guard l(album().mu);
  return album().images;
}

void resetSavedPhotos() {
  std::lock_guard l(album().mu);
  album().images.clear();
}

}  // namespace photos
