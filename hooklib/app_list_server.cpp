#include "hooklib/shared/settings_file.h"
#include "hooklib/wardvane.h"
#include "platform/runtime/runtime.h"
#include "platform/springboard/application_list.h"
#include "platform/springboard/home_screen.h"
#include "platform/uikit/image.h"

namespace wardvane {

namespace sig = springboard::sig;

Dictionary Wardvane::getAppListInformationWithUserInfo(const std::string&, const Dictionary& userInfo) {
  bool showHidden = settingsBool(userInfo, kShowHiddenKey).value_or(false);
  foundation::Array entries;
  auto& list = springboard::ALApplicationList::sharedApplicationList();
  for (const auto& [bundleIdentifier, listedName] : list.applications()) {
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
    if (auto icon = list.iconOfSizeForDisplayIdentifier(59, bundleIdentifier)) {
      if (auto png = uikit::Image::pngRepresentation(icon)) entry[kIconImageKey] = std::move(*png);
    }
    entries.emplace_back(std::move(entry));
  }
  Dictionary reply;
  reply[kApplicationsArrayKey] = std::move(entries);
  return reply;
}

}  // namespace wardvane
