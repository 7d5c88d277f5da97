#include "hooklib/icon_cache.h"
#include "hooklib/shared/settings_file.h"
#include "hooklib/wardvane.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/runtime/runtime.h"
#include "platform/springboard/application_list.h"
#include "platform/springboard/home_screen.h"

namespace wardvane {

namespace sig = springboard::sig;

IconPNGCache& Wardvane::appListIconCache() {
  static IconPNGCache cache;  // lives as long as the server, which lives as long as the process
  return cache;
}

Dictionary Wardvane::getAppListInformationWithUserInfo(const std::string&, const Dictionary& userInfo) {
  WV_DCHECK_MAIN_THREAD();
  bool showHidden = settingsBool(userInfo, kShowHiddenKey).value_or(false);
  foundation::Array entries;
  auto& list = springboard::ALApplicationList::sharedApplicationList();
  auto& icons = appListIconCache();
  std::vector<std::string> installed;
  for (const auto& [bundleIdentifier, listedName] : list.applications()) {
    installed.push_back(bundleIdentifier);
    auto controllerClass = runtime::objc_getClass("SBApplicationController");
    auto controller = runtime::msgSendClass<sig::SharedInstance>(controllerClass, "sharedInstance");
    auto application = runtime::msgSend<sig::ApplicationWithBundleIdentifier>(
        controller, "applicationWithBundleIdentifier:", bundleIdentifier);
    if (!showHidden && isHiddenIdentifier(bundleIdentifier)) continue;
    // Without an application object there is no identifier or name to send.
    if (!application) continue;
    Dictionary entry;
    entry[kModificationDateKey] = runtime::msgSend<sig::ModificationDate>(application, "modificationDate");
    entry[kDataUsageKey] = runtime::msgSend<sig::DataUsage>(application, "dataUsage");
    entry[kBundleIdentifierKey] = runtime::msgSend<sig::BundleIdentifier>(application, "bundleIdentifier");
    entry[kDisplayNameKey] = runtime::msgSend<sig::DisplayName>(application, "displayName");
    if (auto png = icons.pngForIcon(bundleIdentifier, list.iconOfSizeForDisplayIdentifier(59, bundleIdentifier)))
      entry[kIconImageKey] = *png;
    entries.emplace_back(std::move(entry));
  }
  icons.keepOnly(installed);
  Dictionary reply;
  reply[kApplicationsArrayKey] = std::move(entries);
  return reply;
}

}  // namespace wardvane
