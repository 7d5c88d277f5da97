#include "ads/services/logging.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/log.h"

struct LogCapture : ::testing::Test {
  std::mutex mu;
  std::vector<std::string> lines;
  foundation::LogSink previous;
  void SetUp() override {
    previous = foundation::setLogSink([this](const std::string& l) {
      std::lock_guard lock(mu);
      lines.push_back(l);
    });
  }
  void TearDown() override { foundation::setLogSink(previous); }
};

TEST_F(LogCapture, PublicMessagesGetThePrefixAndKeepTheirPercentSigns) {
  EXPECT_EQ(QMALogQueue()->label(), "com.quillon.pelmark.logging");
  QMALogger::sharedInstance()->logPublicMessage("count %d left");
  QMALog("Invalid Request: %@ (%ld)", std::string("x"), 42L);
  QMALogQueue()->sync([] {});
  EXPECT_EQ(lines, (std::vector<std::string>{"<Quillon> count %d left", "Invalid Request: x (42)"}));
}

TEST_F(LogCapture, LinesFromManyThreadsStayWholeAndInOrderPerThread) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) QMALog("thread %d line %d", t, i);
    });
  for (auto& th : threads) th.join();
  QMALogQueue()->sync([] {});
  ASSERT_EQ(lines.size(), 200u);
  int next[4] = {0, 0, 0, 0};
  for (const auto& l : lines) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(l.c_str(), "thread %d line %d", &t, &i), 2) << l;
    EXPECT_EQ(i, next[t]++);
  }
}

// Text from outside quoted in a line: short, on a character boundary, one line.
TEST(LogQuote, CutsOnACharacterBoundaryMarksTheCutAndKeepsOneLine) {
  struct Row {
    std::string text;
    std::size_t limit;
    std::string quoted;
  };
  const Row rows[] = {
      {"short", 100, "short"},
      {"exactly", 7, "exactly"},
      {"one more", 7, "one mor..."},
      {"two\nlines\r\tand\x7f", 100, "two lines  and "},
      {"caf\xC3\xA9 au lait", 4, "caf..."},         // never half of the two-byte é
      {"caf\xC3\xA9 au lait", 5, "caf\xC3\xA9..."},
      {"\xE2\x82\xAC\xE2\x82\xAC", 4, "\xE2\x82\xAC..."},  // never part of a three-byte €
      {"", 100, ""},
  };
  for (const auto& row : rows) EXPECT_EQ(QMALogQuote(row.text, row.limit), row.quoted) << row.text;
  EXPECT_EQ(QMALogQuote(std::string(10000, 'x')).size(), kQMALogQuoteLimit + 3);
}
