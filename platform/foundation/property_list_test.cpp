#include "platform/foundation/property_list.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace foundation {
namespace {

Value sample() {
  Dictionary d;
  d["flag"] = true;
  d["count"] = -7;
  d["ratio"] = 2.5;
  d["name"] = "Caf\xC3\xA9";
  d["blob"] = Bytes{0, 1, 2, 255};
  d["when"] = Date::fromReferenceDate(600000000);
  d["list"] = Array{1, "two", Dictionary{{"three", 3}}};
  return d;
}

TEST(PropertyList, RoundTripsEveryTypeThroughBothForms) {
  for (auto format : {PropertyListFormat::XML, PropertyListFormat::Binary}) {
    auto back = propertyListFromData(dataFromPropertyList(sample(), format));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, sample());
  }
}

TEST(PropertyList, RejectsGarbageAndEmptyInput) {
  EXPECT_FALSE(propertyListFromData(Bytes{}).has_value());
  std::string junk = "not a plist at all <<<";
  EXPECT_FALSE(propertyListFromData(junk.data(), junk.size()).has_value());
}

TEST(PropertyList, AtomicFileWriteReplacesWholeFileAndDictionaryReaderChecksRoot) {
  auto dir = std::filesystem::temp_directory_path() / ("plist-test-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  auto path = (dir / "sub" / "settings.plist").string();
  EXPECT_FALSE(readDictionaryFile(path).has_value());
  ASSERT_TRUE(writePropertyListFile(path, sample()));
  auto read = readDictionaryFile(path);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(intForKey(*read, "count"), -7);
  ASSERT_TRUE(writePropertyListFile(path, Array{1, 2}));
  EXPECT_FALSE(readDictionaryFile(path).has_value());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "sub"), {}), 1) << "no temporary left behind";
  std::filesystem::remove_all(dir);
}

TEST(Value, NumberConversionsFollowThePlatformNumberRules) {
  struct Case {
    Value v;
    std::optional<bool> b;
    std::optional<int32_t> i;
  };
  const Case cases[] = {
      {Value{true}, true, 1},          {Value{0}, false, 0},      {Value{2.9}, true, 2},
      {Value{-0.0}, false, 0},         {Value{"YES"}, std::nullopt, std::nullopt},
      {Value{Array{}}, std::nullopt, std::nullopt}, {Value{4294967297LL}, true, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.v.boolValue(), c.b);
    EXPECT_EQ(c.v.intValue(), c.i);
  }
}

}  // namespace
}  // namespace foundation
