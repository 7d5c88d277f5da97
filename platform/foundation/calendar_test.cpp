#include "platform/foundation/calendar.h"

#include <gtest/gtest.h>

#include "platform/foundation/clock.h"
#include "platform/foundation/device_path.h"

namespace foundation {
namespace {

TEST(Calendar, LocalComponentsFollowTheTimeZone) {
  Calendar::setLocalTimeZone("Asia/Tokyo");
  Date d{1700000000};  // 2023-11-14 22:13:20 UTC
  auto c = Calendar::componentsInLocalTime(d);
  EXPECT_EQ(c.day, 15);
  EXPECT_EQ(c.hour, 7);
  EXPECT_EQ(c.minute, 13);
  EXPECT_EQ(Calendar::dateFromLocalComponents(c), d);
  c.hour = 25;  // normalised into the next day
  auto next = Calendar::componentsInLocalTime(Calendar::dateFromLocalComponents(c));
  EXPECT_EQ(next.day, 16);
  EXPECT_EQ(next.hour, 1);
  Calendar::setLocalTimeZone("UTC");
}

TEST(Clock, ManualClockMovesOnlyWhenTold) {
  Clock::useManual(1000);
  double mono = Clock::monotonic();
  EXPECT_EQ(Clock::now(), 1000);
  Clock::advance(2.5);
  EXPECT_EQ(Clock::now(), 1002.5);
  EXPECT_EQ(Clock::monotonic(), mono + 2.5);
  Clock::setWall(10);  // set back: wall only
  EXPECT_EQ(Clock::now(), 10);
  EXPECT_EQ(Clock::monotonic(), mono + 2.5);
  Clock::useSystem();
}

TEST(DevicePath, StaysUnderTheRoot) {
  setenv("WARDVANE_DEVICE_ROOT", "/tmp/root/", 1);
  EXPECT_EQ(devicePath("/var/mobile/Library/x.plist"), "/tmp/root/var/mobile/Library/x.plist");
  EXPECT_EQ(devicePath("/var/../../../etc/passwd"), "/tmp/root/etc/passwd");
  EXPECT_EQ(devicePath("a/./b"), "/tmp/root/a/b");
  unsetenv("WARDVANE_DEVICE_ROOT");
}

}  // namespace
}  // namespace foundation
