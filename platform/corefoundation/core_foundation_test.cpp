#include "platform/corefoundation/core_foundation.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace corefoundation {
namespace {

TEST(CoreFoundation, LogSinkKeepsLinesInOrderWithLevels) {
  clearLoggedLines();
  CFLog(kCFLogLevelError, "first");
  CFLog(kCFLogLevelNotice, "second");
  auto lines = loggedLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "first");
  EXPECT_EQ(lines[0].level, 3);
  EXPECT_EQ(lines[1].level, 5);
  clearLoggedLines();
  EXPECT_TRUE(loggedLines().empty());
}

TEST(CoreFoundation, VersionNumberFromEnvironmentThenSetting) {
  ::unsetenv("WARDVANE_CF_VERSION");
  EXPECT_EQ(kCFCoreFoundationVersionNumber(), kDefaultCoreFoundationVersionNumber);
  setCoreFoundationVersionNumber(1240.1);
  EXPECT_EQ(kCFCoreFoundationVersionNumber(), 1240.1);
  ::setenv("WARDVANE_CF_VERSION", "1348.22", 1);
  EXPECT_EQ(kCFCoreFoundationVersionNumber(), 1348.22);
  ::setenv("WARDVANE_CF_VERSION", "not a number", 1);  // ignored
  EXPECT_EQ(kCFCoreFoundationVersionNumber(), 1240.1);
  ::unsetenv("WARDVANE_CF_VERSION");
  setCoreFoundationVersionNumber(kDefaultCoreFoundationVersionNumber);
}

}  // namespace
}  // namespace corefoundation
