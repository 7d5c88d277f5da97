#include "hooklib/shared/settings_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "platform/foundation/property_list.h"

namespace wardvane {
namespace {

using foundation::Value;

TEST(SettingsContract, HiddenIdentifiersAreSixtyThreeDistinctExactNames) {
  std::set<std::string_view> distinct(hiddenIdentifiers().begin(), hiddenIdentifiers().end());
  EXPECT_EQ(distinct.size(), kHiddenIdentifierCount);
  EXPECT_EQ(hiddenIdentifiers().front(), "com.apple.AdSheet");
  EXPECT_EQ(hiddenIdentifiers().back(), "libactivator");
  EXPECT_TRUE(isHiddenIdentifier("com.apple.springboard"));
  EXPECT_FALSE(isHiddenIdentifier("com.apple.Springboard"));
  EXPECT_FALSE(isHiddenIdentifier("com.apple.springboard "));
  EXPECT_FALSE(isHiddenIdentifier("com.example.game"));
}

TEST(SettingsContract, SettingsPathLivesUnderTheDeviceRoot) {
  ::setenv("WARDVANE_DEVICE_ROOT", "/tmp/wv-root", 1);
  EXPECT_EQ(settingsFilePath(), "/tmp/wv-root/var/mobile/Library/Preferences/com.brimcote.wardvane.plist");
  ::unsetenv("WARDVANE_DEVICE_ROOT");
}

TEST(SettingsContract, TypedReadsTreatWrongTypesAsAbsent) {
  Dictionary d;
  d["yes"] = true;
  d["one"] = 1;
  d["zeroReal"] = 0.0;
  d["text"] = "YES";
  d["dict"] = Dictionary{};
  d["big"] = 4294967297LL;  // wraps to 1 like a 32-bit read
  struct Case {
    const char* key;
    std::optional<bool> b;
    std::optional<std::int32_t> i;
  } cases[] = {
      {"yes", true, 1},   {"one", true, 1},     {"zeroReal", false, 0},          {"text", std::nullopt, std::nullopt},
      {"dict", std::nullopt, std::nullopt},     {"missing", std::nullopt, std::nullopt}, {"big", true, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(settingsBool(d, c.key), c.b) << c.key;
    EXPECT_EQ(settingsInt(d, c.key), c.i) << c.key;
  }

  EXPECT_EQ(settingsRecords(d), nullptr);
  d[kRecordsKey] = "not a dictionary";
  EXPECT_EQ(settingsRecords(d), nullptr);
  d[kRecordsKey] = Dictionary{{"com.example.game", Value(Dictionary{})}};
  ASSERT_NE(settingsRecords(d), nullptr);
  EXPECT_EQ(settingsRecords(d)->size(), 1u);
}

TEST(SettingsContract, RecordReadingIsTypeChecked) {
  EXPECT_FALSE(restrictionRecord(Value("a string")));
  EXPECT_FALSE(restrictionRecord(Value(foundation::Array{})));

  Dictionary good;
  good[kEnableRestrictionsKey] = true;
  good[kStartTimeKey] = foundation::Date{3600};
  good[kEndTimeKey] = foundation::Date{7200};
  good[kDisplayNameKey] = "Game";
  auto r = restrictionRecord(Value(good));
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->enableRestrictions);
  EXPECT_EQ(r->startTime, foundation::Date{3600});
  EXPECT_EQ(r->displayName, "Game");

  Dictionary bad;
  bad[kEnableRestrictionsKey] = "YES";
  bad[kStartTimeKey] = "09:00";
  bad[kEndTimeKey] = 17;
  bad[kDisplayNameKey] = 42;
  r = restrictionRecord(Value(bad));
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->enableRestrictions);
  EXPECT_FALSE(r->startTime);
  EXPECT_FALSE(r->endTime);
  EXPECT_FALSE(r->displayName);
}

TEST(SettingsContract, ReaderAcceptsXmlAndBinaryAndRefusesOtherRoots) {
  auto dir = std::filesystem::temp_directory_path() / ("wv-settings-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  Dictionary d;
  d[kIsEnabledKey] = false;
  auto xml = (dir / "x.plist").string();
  auto bin = (dir / "b.plist").string();
  auto arr = (dir / "a.plist").string();
  ASSERT_TRUE(foundation::writePropertyListFile(xml, Value(d)));
  ASSERT_TRUE(foundation::writePropertyListFile(bin, Value(d), foundation::PropertyListFormat::Binary));
  ASSERT_TRUE(foundation::writePropertyListFile(arr, Value(foundation::Array{Value(1)})));
  EXPECT_EQ(readSettingsFile(xml), d);
  EXPECT_EQ(readSettingsFile(bin), d);
  EXPECT_FALSE(readSettingsFile(arr));
  EXPECT_FALSE(readSettingsFile((dir / "missing.plist").string()));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace wardvane
