#include "platform/foundation/error.h"

#include <gtest/gtest.h>

#include "platform/foundation/format.h"

namespace foundation {
namespace {

TEST(ErrorValue, AnErrorCarriesTheErrorThatCausedIt) {
  Error cause{"net.load", -1001, {{kLocalizedDescriptionKey, "timed out"}}};
  Error outer{"outer", 2, {{kUnderlyingErrorKey, errorValue(cause)}}};
  ASSERT_TRUE(outer.underlyingError());
  EXPECT_EQ(*outer.underlyingError(), cause);
  EXPECT_FALSE(cause.underlyingError());
}

TEST(ErrorValue, EntriesNotInErrorFormAreNoError) {
  const Value bad[] = {
      Value("an error"),
      Value(Dictionary{{"code", 1}}),
      Value(Dictionary{{"domain", "d"}}),
      Value(Dictionary{{"domain", "d"}, {"code", "1"}}),
      Value(Dictionary{{"domain", "d"}, {"code", 1.5}}),
      Value(Dictionary{{"domain", "d"}, {"code", 1}, {"userInfo", "x"}}),
  };
  for (const auto& v : bad) {
    EXPECT_FALSE(errorFromValue(v)) << description(v);
    Error e{"d", 1, {{kUnderlyingErrorKey, v}}};
    EXPECT_FALSE(e.underlyingError()) << description(v);
  }
  auto plain = errorFromValue(Dictionary{{"domain", "d"}, {"code", 7}});
  ASSERT_TRUE(plain);
  EXPECT_EQ(*plain, (Error{"d", 7, {}}));
}

}  // namespace
}  // namespace foundation
