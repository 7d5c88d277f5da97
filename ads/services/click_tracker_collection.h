#pragma once
// Follows tracking URLs (status reports, impressions): each URL gets the analytics
// identifiers when they exist and is requested once in the background; nothing comes
// back to the caller.

#include <memory>
#include <string>
#include <vector>

class QMAClickTrackerCollection {
 public:
  static const std::shared_ptr<QMAClickTrackerCollection>& sharedInstance();
  // Strings that do not form an http(s) URL are skipped. With `cacheEnabled` NO the
  // request ignores locally cached data.
  void trackURLsCacheEnabled(const std::vector<std::string>& urls, bool cacheEnabled);
};
