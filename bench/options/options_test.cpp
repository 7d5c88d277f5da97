// The benchmarks' command line: what is taken, and what is refused with which reason.
#include "bench/options/options.h"

#include <gtest/gtest.h>

namespace {

const std::vector<bench::OptionSpec> kSpec = {{"--runs", true}, {"--only", true}, {"--no-compare", false}};

TEST(BenchOptions, TakesKnownOptionsValuesAndPlainArgumentsUpToTheirNumber) {
  struct Row {
    std::vector<std::string> args;
    std::size_t maxPositional;
    std::string runs;  // "" when absent
    bool noCompare;
    std::vector<std::string> positional;
  };
  const Row rows[] = {
      {{}, 0, "", false, {}},
      {{"--runs", "5"}, 0, "5", false, {}},
      {{"--runs=7", "--no-compare"}, 0, "7", true, {}},
      {{"--runs", "-3"}, 0, "-3", false, {}},  // a value may start with one "-"; its range is the program's
      {{"--no-compare", "12", "x"}, 2, "", true, {"12", "x"}},
      {{"-", "--runs="}, 1, "", false, {"-"}},  // "-" is a plain argument; "--runs=" an empty value
  };
  for (const auto& row : rows) {
    std::string error;
    auto parsed = bench::parseOptions(row.args, kSpec, row.maxPositional, error);
    ASSERT_TRUE(parsed) << ::testing::PrintToString(row.args) << ": " << error;
    EXPECT_EQ(parsed->value("--runs").value_or(""), row.runs) << ::testing::PrintToString(row.args);
    EXPECT_EQ(parsed->has("--no-compare"), row.noCompare) << ::testing::PrintToString(row.args);
    EXPECT_EQ(parsed->positional, row.positional) << ::testing::PrintToString(row.args);
    EXPECT_FALSE(parsed->helpAsked);
  }
  std::string error;
  auto help = bench::parseOptions({"--runs", "2", "--help"}, kSpec, 0, error);
  ASSERT_TRUE(help);
  EXPECT_TRUE(help->helpAsked);
}

TEST(BenchOptions, RefusesWhatItDoesNotKnowNamingIt) {
  struct Row {
    std::vector<std::string> args;
    std::size_t maxPositional;
    std::string error;
  };
  const Row rows[] = {
      {{"--bogus"}, 0, "unknown option --bogus"},
      {{"--bogus=1"}, 0, "unknown option --bogus"},
      {{"-x"}, 3, "unknown option -x"},
      {{"--run", "5"}, 0, "unknown option --run"},  // no prefixes: a near miss is a miss
      {{"--runs"}, 0, "--runs needs a value"},
      {{"--runs", "--no-compare"}, 0, "--runs needs a value"},
      {{"--no-compare=yes"}, 0, "--no-compare takes no value"},
      {{"--runs", "1", "--runs", "2"}, 0, "--runs is given twice"},
      {{"--no-compare", "--no-compare"}, 0, "--no-compare is given twice"},
      {{"100"}, 0, "takes no argument, not \"100\""},
      {{"1", "2"}, 1, "takes at most 1 plain argument; \"2\" is one too many"},
      {{"1", "2", "3"}, 2, "takes at most 2 plain arguments; \"3\" is one too many"},
  };
  for (const auto& row : rows) {
    std::string error;
    EXPECT_FALSE(bench::parseOptions(row.args, kSpec, row.maxPositional, error)) << ::testing::PrintToString(row.args);
    EXPECT_EQ(error, row.error) << ::testing::PrintToString(row.args);
  }
}

TEST(BenchOptions, WholeNumbersAreWrittenInFullAndInRange) {
  struct Row {
    const char* text;
    long minimum, maximum;
    std::optional<long> value;
  };
  const Row rows[] = {
      {"12", 1, 100, 12},     {"1", 1, 100, 1},        {"100", 1, 100, 100},     {"0", 1, 100, std::nullopt},
      {"101", 1, 100, std::nullopt}, {"-2", -5, 5, -2}, {"-", -5, 5, std::nullopt}, {"", 1, 100, std::nullopt},
      {"12x", 1, 100, std::nullopt}, {" 12", 1, 100, std::nullopt}, {"+3", 1, 100, std::nullopt},
      {"1e3", 1, 10000, std::nullopt}, {"0x10", 0, 100, std::nullopt},
      {"99999999999999999999999", 0, 100, std::nullopt},
  };
  for (const auto& row : rows)
    EXPECT_EQ(bench::wholeNumber(row.text, row.minimum, row.maximum), row.value) << '"' << row.text << '"';
}

}  // namespace
