#include "hooklib/shared/settings_snapshot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "hooklib/shared/settings_file.h"
#include "platform/foundation/property_list.h"

namespace wardvane {
namespace {

using foundation::Value;

TEST(SettingsSnapshot, ReadsLikeThePlatformReaderInBothForms) {
  auto dir = std::filesystem::temp_directory_path() / ("wv-snap-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  Dictionary record;
  record[kEnableRestrictionsKey] = true;
  record[kStartTimeKey] = foundation::Date{1709629200.0};
  record[kDisplayNameKey] = "Spiele ✓";
  record["extra"] = foundation::Array{Value(1.5), Value(foundation::Bytes{1, 2})};
  Dictionary file;
  file[kIsEnabledKey] = 0;
  file[kShowAlertsKey] = "YES";
  file[kRecordsKey] = Dictionary{{"com.example.game", Value(record)}, {"com.example.odd", Value(7)}};
  for (auto format : {foundation::PropertyListFormat::XML, foundation::PropertyListFormat::Binary}) {
    auto path = (dir / "s.plist").string();
    ASSERT_TRUE(foundation::writePropertyListFile(path, Value(file), format));
    auto snap = SettingsSnapshot::read(path);
    ASSERT_TRUE(snap);
    EXPECT_EQ(snap->dictionary(), *foundation::readDictionaryFile(path));
    EXPECT_EQ(snap->boolForKey(kIsEnabledKey), false);
    EXPECT_EQ(snap->boolForKey(kShowAlertsKey), std::nullopt);
    EXPECT_TRUE(snap->hasRecords());
    EXPECT_EQ(snap->recordValue("com.example.game"), Value(record));
    EXPECT_EQ(snap->recordValue("com.example.odd"), Value(7));
    EXPECT_FALSE(snap->recordValue("com.example.absent"));
  }
  foundation::writePropertyListFile((dir / "a.plist").string(), Value(foundation::Array{}));
  EXPECT_FALSE(SettingsSnapshot::read((dir / "a.plist").string()));
  EXPECT_FALSE(SettingsSnapshot::read((dir / "missing.plist").string()));
  EXPECT_FALSE(SettingsSnapshot::empty()->hasRecords());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace wardvane
