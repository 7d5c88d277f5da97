#include "platform/foundation/json.h"

#include <gtest/gtest.h>

#include "platform/foundation/base64.h"

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
