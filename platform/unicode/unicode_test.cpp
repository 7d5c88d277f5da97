#include "platform/unicode/unicode.h"

#include <gtest/gtest.h>

namespace {

TEST(Unicode, ConversionsLowerCasingAndCategories) {
  EXPECT_EQ(unicode::utf16FromUTF8("a\xe6\x9d\xb1\xf0\x9f\x98\x80"), u"a\u6771\U0001F600");
  EXPECT_EQ(unicode::utf16FromUTF8("bad\xff"), u"bad\uFFFD");
  std::string out;
  unicode::appendUTF8FromUTF16(u"x\U0001F600", out);
  unicode::appendUTF8FromUTF16(std::u16string(1, char16_t(0xD800)), out);
  EXPECT_EQ(out, "x\xf0\x9f\x98\x80\xef\xbf\xbd");

  std::u16string lower;
  unicode::lowercase(u"HELLO \u0130stanbul \u00C9T\u00C9", "en_US", lower);
  EXPECT_EQ(lower, u"hello i\u0307stanbul \u00e9t\u00e9") << "full mapping may lengthen the text";
  unicode::lowercase(std::u16string(100, u'A'), "en_US", lower);
  EXPECT_EQ(lower, std::u16string(100, u'a'));

  EXPECT_TRUE(unicode::isAlphanumeric(U'a'));
  EXPECT_TRUE(unicode::isAlphanumeric(U'\u0301'));  // combining mark
  EXPECT_TRUE(unicode::isAlphanumeric(U'\u0663'));  // Arabic-Indic digit
  EXPECT_FALSE(unicode::isAlphanumeric(U' '));
  EXPECT_FALSE(unicode::isAlphanumeric(U':'));
  EXPECT_FALSE(unicode::isAlphanumeric(0xD800));
}

}  // namespace
