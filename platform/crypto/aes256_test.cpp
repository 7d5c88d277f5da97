#include "platform/crypto/aes256.h"
#include "platform/crypto/md5.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/base64.h"

namespace crypto {
namespace {

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Vectors made with the openssl command line: -aes-256-cbc, IV zero, key = the key
// string's bytes zero-filled to 32.
TEST(Aes256, MatchesKnownCiphertextsAndRoundTrips) {
  auto key = keyFromString("com.tallowby.curfewkeyed");
  struct Case {
    std::string plain;
    std::string base64;
  } cases[] = {{"", "8OGiCzdWUX4OVjPyaIo+xQ=="}, {"hello", "qCI+FVjRgnrNG5uHq4eNMA=="}};
  for (const auto& c : cases) {
    auto p = bytes(c.plain);
    auto enc = aes256CbcEncrypt(p.data(), p.size(), key);
    ASSERT_TRUE(enc);
    EXPECT_EQ(foundation::base64Encode(*enc), c.base64) << c.plain;
    auto dec = aes256CbcDecrypt(enc->data(), enc->size(), key);
    ASSERT_TRUE(dec);
    EXPECT_EQ(*dec, p);
  }
}

TEST(Aes256, PaddingAndFailures) {
  auto key = keyFromString("com.tallowby.curfewkeyed");
  auto sixteen = bytes("0123456789abcdef");
  auto enc = aes256CbcEncrypt(sixteen.data(), sixteen.size(), key);
  ASSERT_TRUE(enc);
  EXPECT_EQ(enc->size(), 32u);  // a whole block of padding

  // A wrong key almost never yields valid padding; when it does the bytes still differ.
  auto other = aes256CbcDecrypt(enc->data(), enc->size(), keyFromString("com.tallowby.curfewkeyee"));
  EXPECT_TRUE(!other || *other != sixteen);
  // Not a whole number of blocks.
  EXPECT_FALSE(aes256CbcDecrypt(enc->data(), 31, key));
  EXPECT_FALSE(aes256CbcDecrypt(enc->data(), 0, key));
}

TEST(Aes256, KeyStringIsZeroFilledAndCutAt32Bytes) {
  auto k = keyFromString("abc");
  EXPECT_EQ(k[0], 'a');
  EXPECT_EQ(k[3], 0);
  EXPECT_EQ(k[31], 0);
  auto longKey = keyFromString(std::string(40, 'x'));
  EXPECT_EQ(longKey[31], 'x');
}

TEST(Md5, KnownDigests) {
  EXPECT_EQ(md5Hex("", 0), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5Hex("abc", 3), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5Hex("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
}

}  // namespace
}  // namespace crypto
