#include "hooklib/wardvane.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "hooklib/test_support.h"
#include "platform/corefoundation/core_foundation.h"

namespace wardvane {
namespace {

using foundation::Clock;
using foundation::Value;
using testing::at;
using testing::record;

class DecisionTest : public ::testing::Test {
 protected:
  // Settings with one app, and a decision long after the last one.
  bool decide(const Value& rec, double now) {
    Dictionary records;
    records["com.example.game"] = rec;
    Dictionary settings;
    settings[kRecordsKey] = records;
    root_.writeSettings(settings);
    Clock::setWall(now);
    Wardvane w;
    w.setLastAlertDate(Date{0});
    return w.checkBundle("com.example.game");
  }
  testing::DeviceRoot root_;
};

TEST_F(DecisionTest, DailyWindowsWithInclusiveEndsAndMidnightCrossing) {
  // Stored dates are on other days and carry seconds of their own: only hour and minute count.
  double day = -86400 * 40;
  struct Case {
    int sh, sm, eh, em;
    double now;
    bool mayOpen;
  } cases[] = {
      {9, 0, 17, 0, at(8, 59, 59), true},   {9, 0, 17, 0, at(9, 0, 0), false},  {9, 0, 17, 0, at(17, 0, 59), false},
      {9, 0, 17, 0, at(17, 1, 0), true},    {22, 0, 6, 0, at(23, 30), false},   {22, 0, 6, 0, at(5, 59), false},
      {22, 0, 6, 0, at(6, 0, 40), false},   {22, 0, 6, 0, at(6, 1), true},      {22, 0, 6, 0, at(21, 59), true},
      {22, 0, 6, 0, at(0, 0), false},       {13, 15, 13, 15, at(13, 15, 30), false}, {13, 15, 13, 15, at(13, 16), true},
      {13, 15, 13, 15, at(13, 14, 59), true},
  };
  for (const auto& c : cases) {
    auto rec = record(true, at(c.sh, c.sm, 0) + day, at(c.eh, c.em, 0) + day + 0.0);
    EXPECT_EQ(decide(rec, c.now), c.mayOpen)
        << c.sh << ":" << c.sm << "-" << c.eh << ":" << c.em << " at " << (c.now - at(0, 0)) / 60 << " min";
  }
}

TEST_F(DecisionTest, RecordsThatNeverRestrict) {
  EXPECT_TRUE(decide(record(false, at(0, 0), at(23, 59)), at(12, 0)));  // switched off
  EXPECT_TRUE(decide(Value("not a record"), at(12, 0)));
  EXPECT_TRUE(decide(Value(foundation::Array{}), at(12, 0)));
  // No record at all for this app.
  Wardvane w;
  w.setLastAlertDate(Date{0});
  EXPECT_TRUE(w.checkBundle("com.example.other"));
}

TEST_F(DecisionTest, MissingOrWrongTypedWindowEndsReadAsNineToFive) {
  Dictionary noEnd;
  noEnd[kEnableRestrictionsKey] = true;
  noEnd[kStartTimeKey] = Date{at(12, 30)};
  EXPECT_TRUE(decide(Value(noEnd), at(12, 0)));
  EXPECT_FALSE(decide(Value(noEnd), at(16, 59)));  // 12:30 .. 17:00
  EXPECT_TRUE(decide(Value(noEnd), at(17, 1)));

  Dictionary badStart;
  badStart[kEnableRestrictionsKey] = 1;  // a number counts as a truth value
  badStart[kStartTimeKey] = "07:00";
  badStart[kEndTimeKey] = Date{at(10, 0)};
  EXPECT_TRUE(decide(Value(badStart), at(8, 59)));  // 09:00 .. 10:00
  EXPECT_FALSE(decide(Value(badStart), at(9, 30)));
}

TEST_F(DecisionTest, RepeatRuleAndTheRecordedTime) {
  Dictionary records;
  records["com.example.game"] = record(true, at(0, 0), at(23, 59));
  Dictionary settings;
  settings[kRecordsKey] = records;
  root_.writeSettings(settings);
  Wardvane w;
  w.setLastAlertDate(Date{at(11, 0)});

  EXPECT_FALSE(w.checkBundle("com.example.game"));
  EXPECT_EQ(w.lastAlertDate(), Date{at(12, 0)});
  // 5 ms later: let through, and the recorded time stays.
  Clock::advance(0.005);
  EXPECT_TRUE(w.checkBundle("com.example.game"));
  EXPECT_EQ(w.lastAlertDate(), Date{at(12, 0)});
  Clock::advance(0.010);
  EXPECT_FALSE(w.checkBundle("com.example.game"));
  EXPECT_EQ(w.lastAlertDate(), Date{at(12, 0, 0.015)});

  // Decisions about unrestricted apps move the recorded time too.
  Clock::advance(1);
  EXPECT_TRUE(w.checkBundle("com.example.free"));
  EXPECT_EQ(w.lastAlertDate(), Date{at(12, 0, 1.015)});

  // The clock set back: everything opens until it passes the recorded time + 0.01 s.
  Clock::setWall(at(11, 0));
  EXPECT_TRUE(w.checkBundle("com.example.game"));
  Clock::setWall(at(12, 0, 1.02));
  EXPECT_TRUE(w.checkBundle("com.example.game"));
  Clock::setWall(at(12, 0, 1.03));
  EXPECT_FALSE(w.checkBundle("com.example.game"));

  // Switched off globally: allowed, and the recorded time does not move.
  settings[kIsEnabledKey] = false;
  root_.writeSettings(settings);
  Clock::advance(5);
  EXPECT_TRUE(w.checkBundle("com.example.game"));
  EXPECT_EQ(w.lastAlertDate(), Date{at(12, 0, 1.03)});
}

TEST_F(DecisionTest, HelpersCutSecondsAndNumberTheTimeOfDay) {
  Wardvane w;
  Clock::setWall(at(12, 0, 33));
  EXPECT_EQ(w.getCorrectedDate(Date{at(17, 5, 42) - 86400 * 3}), Date{at(17, 5)});
  for (int h = 0; h < 24; ++h)
    for (int m = 0; m < 60; ++m) ASSERT_EQ(w.getFloatFromTime(Date{at(h, m, 59)}), static_cast<float>(h * 100 + m));
  EXPECT_TRUE(w.dateIsBetweenDateAndDate(Date{5}, Date{5}, Date{5}));
  EXPECT_FALSE(w.dateIsBetweenDateAndDate(Date{4}, Date{5}, Date{6}));
  EXPECT_FALSE(w.dateIsBetweenDateAndDate(Date{7}, Date{5}, Date{6}));
}

class SettingsReaderTest : public ::testing::Test {
 protected:
  static void writeRaw(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(foundation::writeFileAtomically(path, bytes.data(), bytes.size()));
  }
  testing::DeviceRoot root_;
};

TEST_F(SettingsReaderTest, MissingFileAndMissingKeysGiveDefaults) {
  Wardvane w;
  w.setIsEnabled(false);
  w.setShowAlerts(false);
  w.loadSettings();
  EXPECT_TRUE(w.isEnabled());
  EXPECT_TRUE(w.showAlerts());
  EXPECT_TRUE(w.settings().empty());
  EXPECT_TRUE(w.wardvaneions().empty());

  root_.writeSettings(Dictionary{{"sortType", Value(2)}});
  w.setIsEnabled(false);
  w.loadSettings();
  EXPECT_TRUE(w.isEnabled());
  EXPECT_EQ(w.settings().size(), 1u);
}

TEST_F(SettingsReaderTest, RecordsInForceStayWhenTheKeyIsAbsentOrUnusable) {
  Wardvane w;
  Dictionary records;
  records["com.example.game"] = record(true, at(9, 0), at(17, 0), "Game");
  root_.writeSettings(Dictionary{{kRecordsKey, Value(records)}, {kIsEnabledKey, Value(false)}});
  w.loadSettings();
  EXPECT_FALSE(w.isEnabled());
  ASSERT_EQ(w.wardvaneions().size(), 1u);

  struct Case {
    const char* what;
    Dictionary file;
  } cases[] = {
      {"no records key", Dictionary{{kShowAlertsKey, Value(false)}}},
      {"records a string", Dictionary{{kRecordsKey, Value("oops")}}},
      {"records an array", Dictionary{{kRecordsKey, Value(foundation::Array{})}}},
      {"switches of the wrong type", Dictionary{{kIsEnabledKey, Value("NO")}, {kShowAlertsKey, Value(Dictionary{})}}},
  };
  for (const auto& c : cases) {
    root_.writeSettings(c.file);
    w.loadSettings();
    EXPECT_EQ(w.wardvaneions().size(), 1u) << c.what;
    EXPECT_TRUE(w.isEnabled()) << c.what;
  }
  // Deleting the file keeps the records; the switches return to on.
  root_.removeSettings();
  w.loadSettings();
  EXPECT_EQ(w.wardvaneions().size(), 1u);
  EXPECT_TRUE(w.showAlerts());

  // A file that is not a property list counts as a file without keys.
  foundation::writeFileAtomically(*settingsFilePath(), "garbage", 7);
  w.loadSettings();
  EXPECT_EQ(w.wardvaneions().size(), 1u);
  EXPECT_TRUE(w.settings().empty());

  // An empty records dictionary replaces them.
  root_.writeSettings(Dictionary{{kRecordsKey, Value(Dictionary{})}});
  w.loadSettings();
  EXPECT_TRUE(w.wardvaneions().empty());
}

// A file that cannot be read soundly is unreadable as a whole: the restrictions in force
// stay, the switches return to on, and reading it never blocks, crashes or runs away.
TEST_F(SettingsReaderTest, HostileSettingsFilesLeaveTheRestrictionsInForce) {
  Wardvane w;
  Dictionary records;
  records["com.example.game"] = record(true, at(9, 0), at(17, 0), "Game");
  root_.writeSettings(Dictionary{{kRecordsKey, Value(records)}});
  w.loadSettings();
  const std::string path = *settingsFilePath();
  auto deep = [](int depth) {
    std::string s = "<plist><dict><key>wardvaneions</key>";
    for (int i = 0; i < depth; ++i) s += "<array>";
    for (int i = 0; i < depth; ++i) s += "</array>";
    return s + "</dict></plist>";
  };
  struct Case {
    const char* what;
    std::function<void()> plant;
  } cases[] = {
      {"nesting 100,000 deep", [&] { writeRaw(path, deep(100000)); }},
      {"a key that is not UTF-8", [&] { writeRaw(path, "<dict><key>isEnabled\xFF</key><false/></dict>"); }},
      {"a date past year 9999",
       [&] {
         writeRaw(path, "<dict><key>isEnabled</key><false/><key>wardvaneions</key><dict><key>com.example.game</key>"
                        "<dict><key>startTime</key><date>99999-01-01T00:00:00Z</date></dict></dict></dict>");
       }},
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
      {"a 17 MB file",
       [&] {
         writeRaw(path, "<dict/>");
         std::filesystem::resize_file(path, 17u << 20);
       }},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(path);
    c.plant();
    w.setIsEnabled(false);
    w.loadSettings();
    EXPECT_TRUE(w.isEnabled()) << c.what;
    EXPECT_TRUE(w.settings().empty()) << c.what;
    ASSERT_EQ(w.wardvaneions().size(), 1u) << c.what;
    w.setLastAlertDate(Date{0});
    EXPECT_FALSE(w.checkBundle("com.example.game")) << c.what << ": still restricted at noon";
  }
  std::filesystem::remove(path);
}

TEST_F(SettingsReaderTest, CoreVersionIsNarrowedToSinglePrecisionAtEveryRead) {
  Wardvane w;
  corefoundation::setCoreFoundationVersionNumber(1240.1);
  w.loadSettings();
  EXPECT_EQ(w.coreVersionNumber(), 1240.1f);
  EXPECT_LT(static_cast<double>(w.coreVersionNumber()), 1240.1);
  corefoundation::setCoreFoundationVersionNumber(corefoundation::kDefaultCoreFoundationVersionNumber);
}

}  // namespace
}  // namespace wardvane
