#include "platform/foundation/json.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/foundation/base64.h"
#include "platform/foundation/log.h"

namespace foundation {
namespace {

TEST(Json, ParsesAndSerializesNestedValues) {
  auto v = jsonParse(R"({"a":[1,2.5,true,null,"x"],"b":{"c":-3}})");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(*v->get("b")->get("c")->asInteger(), -3);
  EXPECT_EQ(v->get("a")->asArray()->size(), 5u);
  EXPECT_EQ(jsonSerialize(*v), R"({"a":[1,2.5,true,null,"x"],"b":{"c":-3}})");
  EXPECT_FALSE(jsonParse("{oops").has_value());
  EXPECT_FALSE(jsonParse("").has_value());
  EXPECT_FALSE(jsonParse("[1] 2").has_value());
  // U+0000 and integers past the signed range are read soundly.
  EXPECT_EQ(jsonParse(R"(["a\u0000b", 18446744073709551615])"),
            Value(Array{std::string("a\0b", 3), 18446744073709551615.0}));
}

std::string nestedArrays(int depth) { return std::string(static_cast<std::size_t>(depth), '[') + std::string(static_cast<std::size_t>(depth), ']'); }

TEST(Json, HostileTextIsRefusedWholeWithTheReasonLogged) {
  std::vector<std::string> lines;
  auto previous = setLogSink([&](const std::string& l) { lines.push_back(l); });
  std::string many = "[0";
  for (std::size_t i = 0; i < kMaxValueCount; ++i) many += ",0";
  many += "]";
  struct Case {
    const char* what;
    std::string text;
    const char* reason;
  } cases[] = {
      {"20,000 deep", nestedArrays(20000), "nesting deeper than 512"},
      {"513 deep", nestedArrays(513), "nesting deeper than 512"},
      {"objects 20,000 deep", [] {
         std::string s;
         for (int i = 0; i < 20000; ++i) s += "{\"a\":";
         return s + "1" + std::string(20000, '}');
       }(), "nesting deeper than 512"},
      {"too many values", many, "more than 262144 values"},
      {"not UTF-8", "[\"caf\xE9\"]", "not UTF-8"},
      {"lone surrogate escape", R"(["\ud800"])", "not JSON"},
      {"syntax", "{oops", "not JSON"},
  };
  for (const auto& c : cases) {
    lines.clear();
    EXPECT_FALSE(jsonParse(c.text)) << c.what;
    ASSERT_EQ(lines.size(), 1u) << c.what;
    EXPECT_NE(lines[0].find(c.reason), std::string::npos) << c.what << ": " << lines[0];
  }
  auto deepest = jsonParse(nestedArrays(512));
  ASSERT_TRUE(deepest);
  EXPECT_FALSE(nestsDeeperThan(*deepest, 512));
  EXPECT_TRUE(nestsDeeperThan(*deepest, 511));
  setLogSink(previous);
}

TEST(Base64, EncodesAndDecodesStrictly) {
  struct Case {
    std::string plain, encoded;
  };
  for (const auto& c : {Case{"", ""}, Case{"f", "Zg=="}, Case{"fo", "Zm8="}, Case{"foo", "Zm9v"},
                        Case{"foobar", "Zm9vYmFy"}}) {
    EXPECT_EQ(base64Encode(c.plain), c.encoded);
    auto back = base64Decode(c.encoded);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(std::string(back->begin(), back->end()), c.plain);
  }
  for (const char* bad : {"Zg=", "Zm 9v", "Zm9v\n", "Z===", "Zg==Zg==", "Zm9*"})
    EXPECT_FALSE(base64Decode(bad).has_value()) << bad;
}

}  // namespace
}  // namespace foundation
