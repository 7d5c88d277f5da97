#include "hooklib/icon_cache.h"

#include <set>

#include "platform/dispatch/thread_checks.h"
#include "platform/uikit/image.h"

namespace wardvane {

std::shared_ptr<const foundation::Bytes> IconPNGCache::pngForIcon(const std::string& bundleIdentifier,
                                                                  const std::shared_ptr<uikit::Image>& icon) {
  WV_DCHECK_MAIN_THREAD();
  if (!icon) {
    entries_.erase(bundleIdentifier);
    return nullptr;
  }
  auto it = entries_.find(bundleIdentifier);
  if (it != entries_.end() && it->second.icon == icon) return it->second.png;
  std::shared_ptr<const foundation::Bytes> png;
  if (auto bytes = uikit::Image::pngRepresentation(icon))
    png = std::make_shared<const foundation::Bytes>(std::move(*bytes));
  ++encodes_;
  entries_.insert_or_assign(bundleIdentifier, Entry{icon, png});
  return png;
}

void IconPNGCache::keepOnly(const std::vector<std::string>& bundleIdentifiers) {
  WV_DCHECK_MAIN_THREAD();
  std::set<std::string, std::less<>> keep(bundleIdentifiers.begin(), bundleIdentifiers.end());
  std::erase_if(entries_, [&](const auto& e) { return !keep.count(e.first); });
}

}  // namespace wardvane
