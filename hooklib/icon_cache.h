#pragma once
// The PNG data of the app icons in the app-list reply. Encoding the icons was most of
// what a reply cost, and the settings application asks at every appearance of its list,
// so each app's encoding is kept together with the icon image it was made from, and made
// again only when the application-list library hands out another image for the app (a
// new install, a changed icon). An image never changes once made, so the same image
// object means the same PNG; holding the image keeps its address from being reused by
// another while the encoding is kept.
//
// Main thread only: the app-list server answers there.

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/value.h"

namespace uikit {
class Image;
}

namespace wardvane {

class IconPNGCache {
 public:
  // The PNG of `icon`, the image the list library gives for `bundleIdentifier` now; null
  // when there is no icon or it does not encode.
  std::shared_ptr<const foundation::Bytes> pngForIcon(const std::string& bundleIdentifier,
                                                      const std::shared_ptr<uikit::Image>& icon);
  // Forgets every app but those in `bundleIdentifiers` (the apps installed now).
  void keepOnly(const std::vector<std::string>& bundleIdentifiers);

  // How many icons it has encoded so far, and how many apps it holds.
  std::size_t encodeCount() const { return encodes_; }
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::shared_ptr<uikit::Image> icon;
    std::shared_ptr<const foundation::Bytes> png;  // null: the icon did not encode
  };
  std::map<std::string, Entry, std::less<>> entries_;
  std::size_t encodes_ = 0;
};

}  // namespace wardvane
