#pragma once
// The application-list library: the installed applications by bundle identifier, in a
// fixed enumeration order, and their icons at a requested size.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/uikit/image.h"

namespace springboard {

class ALApplicationList {
 public:
  static ALApplicationList& sharedApplicationList();

  // Bundle identifier -> display name, in enumeration order.
  std::vector<std::pair<std::string, std::string>> applications() const;
  // The icon scaled to size x size (made once per size and kept); null when the app has
  // no icon or is unknown.
  std::shared_ptr<uikit::Image> iconOfSizeForDisplayIdentifier(int size, const std::string& bundleIdentifier);

  struct Entry {
    std::string bundleIdentifier;
    std::string displayName;
    std::shared_ptr<uikit::Image> icon;  // full-size icon, may be null
  };
  // The host fills the list.
  void setApplications(std::vector<Entry> entries);

 private:
  mutable std::mutex mu_;
  std::vector<Entry> entries_;
  std::map<std::pair<std::string, int>, std::shared_ptr<uikit::Image>> scaled_;
};

}  // namespace springboard
