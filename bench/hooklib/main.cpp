// Measures the hook library's two hot paths against the work they cannot avoid:
//  - one restriction decision (which re-reads the settings file) next to reading and
//    parsing that same file with libplist, for 10, 200 and 1000 records;
//  - the app-list reply for 300 apps with icons next to PNG-encoding their icons alone
//    (the reply keeps each icon's encoding, so once warm it costs far less than that).
// Prints each ratio; the target is at most 1.3.

#include <plist/plist.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

#include "bench/options/options.h"
#include "hooklib/shared/settings_file.h"
#include "hooklib/wardvane.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/property_list.h"
#include "platform/springboard/application_list.h"
#include "platform/springboard/home_screen.h"
#include "platform/uikit/image.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

// Median seconds per call over several rounds.
double measure(const std::function<void()>& fn, int callsPerRound) {
  std::vector<double> rounds;
  for (int r = 0; r < 9; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < callsPerRound; ++i) fn();
    auto t1 = std::chrono::steady_clock::now();
    rounds.push_back(std::chrono::duration<double>(t1 - t0).count() / callsPerRound);
  }
  std::sort(rounds.begin(), rounds.end());
  return rounds[rounds.size() / 2];
}

bool report(const char* what, double subject, double baseline) {
  double ratio = subject / baseline;
  std::printf("%-44s %10.1f us  vs %10.1f us   ratio %.2f %s\n", what, subject * 1e6, baseline * 1e6, ratio,
              ratio <= 1.3 ? "ok" : "OVER 1.3");
  return ratio <= 1.3;
}

}  // namespace

int main(int argc, char** argv) {
  bench::parseOptionsOrExit(argc, argv, {}, 0, "bench_hooklib");
  auto root = std::filesystem::temp_directory_path() / ("wv-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(root);
  ::setenv("WARDVANE_DEVICE_ROOT", root.c_str(), 1);
  foundation::Calendar::setLocalTimeZone("UTC");
  foundation::Clock::useManual(1709636400.0);  // 2024-03-05 11:00 UTC
  bool ok = true;

  auto path = *wardvane::settingsFilePath();
  for (int records : {10, 200, 1000}) {
    Dictionary recs;
    for (int i = 0; i < records; ++i) {
      Dictionary r;
      r[wardvane::kEnableRestrictionsKey] = (i % 3) != 0;
      r[wardvane::kStartTimeKey] = foundation::Date{1709629200.0 + i * 60};
      r[wardvane::kEndTimeKey] = foundation::Date{1709658000.0 - i * 60};
      r[wardvane::kDisplayNameKey] = "Application number " + std::to_string(i);
      recs["com.example.app" + std::to_string(i)] = Value(r);
    }
    Dictionary settings;
    settings[wardvane::kIsEnabledKey] = true;
    settings[wardvane::kShowAlertsKey] = true;
    settings[wardvane::kShowHiddenAppsKey] = false;
    settings[wardvane::kUseTouchIDKey] = false;
    settings[wardvane::kUIThemeKey] = 0;
    settings[wardvane::kSortTypeKey] = 0;
    settings[wardvane::kRecordsKey] = recs;
    foundation::writePropertyListFile(path, Value(settings));

    wardvane::Wardvane w;
    std::string target = "com.example.app" + std::to_string(records / 2 + 1);
    int calls = records >= 1000 ? 40 : 400;
    double decision = measure(
        [&] {
          foundation::Clock::advance(1);  // past the repeat rule every time
          w.checkBundle(target);
        },
        calls);
    double parse = measure(
        [&] {
          auto bytes = foundation::readFileBytes(path);
          plist_t node = nullptr;
          plist_from_memory(reinterpret_cast<const char*>(bytes->data()), static_cast<uint32_t>(bytes->size()), &node);
          plist_free(node);
        },
        calls);
    char label[64];
    std::snprintf(label, sizeof label, "decision, %d records / read+parse", records);
    ok = report(label, decision, parse) && ok;
  }

  std::vector<springboard::InstalledApp> apps;
  for (int i = 0; i < 300; ++i) {
    springboard::InstalledApp a;
    a.bundleIdentifier = "com.example.app" + std::to_string(i);
    a.displayName = "App " + std::to_string(i);
    a.modificationDate = 1.6e9 + i;
    a.dataUsage = i * 1000;
    std::vector<std::uint8_t> rgba(59 * 59 * 4);
    for (std::size_t p = 0; p < rgba.size(); ++p)
      rgba[p] = static_cast<std::uint8_t>((p * 31 + static_cast<std::size_t>(i) * 17 + (p / 236) * 5) & 0xff);
    a.icon = std::make_shared<uikit::Image>(59, 59, std::move(rgba));
    apps.push_back(std::move(a));
  }
  springboard::HomeScreen home(apps);
  home.install();
  auto& list = springboard::ALApplicationList::sharedApplicationList();
  std::vector<std::shared_ptr<uikit::Image>> icons;
  for (const auto& a : apps) icons.push_back(list.iconOfSizeForDisplayIdentifier(59, a.bundleIdentifier));

  double reply = measure(
      [&] {
        auto r = wardvane::Wardvane::getAppListInformationWithUserInfo("getAppListInformation", {});
        auto bytes = foundation::dataFromPropertyList(Value(std::move(r)), foundation::PropertyListFormat::Binary);
        if (bytes.empty()) std::abort();
      },
      3);
  double encode = measure(
      [&] {
        for (const auto& icon : icons)
          if (!uikit::Image::pngRepresentation(icon)) std::abort();
      },
      3);
  ok = report("app-list reply, 300 apps / PNG-encoding icons", reply, encode) && ok;

  home.uninstall();
  std::filesystem::remove_all(root);
  return ok ? 0 : 1;
}
