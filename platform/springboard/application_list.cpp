#include "platform/springboard/application_list.h"

namespace springboard {

ALApplicationList& ALApplicationList::sharedApplicationList() {
  static ALApplicationList list;
  return list;
}

std::vector<std::pair<std::string, std::string>> ALApplicationList::applications() const {
  std::lock_guard lock(mu_);
  std::vector<std::pair<std::string, std::string>> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.emplace_back(e.bundleIdentifier, e.displayName);
  return out;
}

std::shared_ptr<uikit::Image> ALApplicationList::iconOfSizeForDisplayIdentifier(int size,
                                                                               const std::string& bundleIdentifier) {
  std::lock_guard lock(mu_);
  auto key = std::make_pair(bundleIdentifier, size);
  if (auto it = scaled_.find(key); it != scaled_.end()) return it->second;
  for (const auto& e : entries_) {
    if (e.bundleIdentifier != bundleIdentifier) continue;
    if (!e.icon || size <= 0) return nullptr;
    auto side = static_cast<std::uint32_t>(size);
    auto icon = (e.icon->pixelWidth() == side && e.icon->pixelHeight() == side)
                    ? e.icon
                    : uikit::Image::imageScaledToPixelSize(e.icon, side, side);
    scaled_[key] = icon;
    return icon;
  }
  return nullptr;
}

void ALApplicationList::setApplications(std::vector<Entry> entries) {
  std::lock_guard lock(mu_);
  entries_ = std::move(entries);
  scaled_.clear();
}

}  // namespace springboard
