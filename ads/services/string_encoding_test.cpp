#include "ads/services/string_encoding.h"

#include <gtest/gtest.h>

namespace {

using Enc = std::shared_ptr<QMA_KLVStringEncoding>;

std::string text(const std::optional<foundation::Bytes>& b) {
  return b ? std::string(b->begin(), b->end()) : std::string("<nil>");
}

TEST(StringEncoding, KnownVectorsRoundTripInEveryReadyMadeBase) {
  // RFC 4648 section 10 vectors plus binary, hexadecimal and Crockford.
  struct Case {
    Enc enc;
    std::string plain, encoded;
  };
  const Case cases[] = {
      {QMA_KLVStringEncoding::rfc4648Base64StringEncoding(), "", ""},
      {QMA_KLVStringEncoding::rfc4648Base64StringEncoding(), "f", "Zg=="},
      {QMA_KLVStringEncoding::rfc4648Base64StringEncoding(), "fo", "Zm8="},
      {QMA_KLVStringEncoding::rfc4648Base64StringEncoding(), "foo", "Zm9v"},
      {QMA_KLVStringEncoding::rfc4648Base64StringEncoding(), "foobar", "Zm9vYmFy"},
      {QMA_KLVStringEncoding::rfc4648Base64StringEncoding(), "abc", "YWJj"},
      {QMA_KLVStringEncoding::rfc4648Base64StringEncoding(), "ab", "YWI="},
      {QMA_KLVStringEncoding::rfc4648Base32StringEncoding(), "f", "MY======"},
      {QMA_KLVStringEncoding::rfc4648Base32StringEncoding(), "foob", "MZXW6YQ="},
      {QMA_KLVStringEncoding::rfc4648Base32StringEncoding(), "foobar", "MZXW6YTBOI======"},
      {QMA_KLVStringEncoding::rfc4648Base32HexStringEncoding(), "foobar", "CPNMUOJ1E8======"},
      {QMA_KLVStringEncoding::hexStringEncoding(), "foobar", "666F6F626172"},
      {QMA_KLVStringEncoding::binaryStringEncoding(), "A\x01", "0100000100000001"},
      {QMA_KLVStringEncoding::crockfordBase32StringEncoding(), "foobar", "CSQPYRK1E8"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.enc);
    EXPECT_EQ(c.enc->encodeString(c.plain), c.encoded) << c.enc->description() << " " << c.plain;
    EXPECT_EQ(text(c.enc->decode(c.encoded)), c.plain) << c.encoded;
  }
}

TEST(StringEncoding, WebsafeAlphabetDiffersOnlyInTheLastTwoDigits) {
  const foundation::Bytes bytes = {0xFB, 0xFF, 0xBF};
  EXPECT_EQ(QMA_KLVStringEncoding::rfc4648Base64StringEncoding()->encode(bytes), "+/+/");
  EXPECT_EQ(QMA_KLVStringEncoding::rfc4648Base64WebsafeStringEncoding()->encode(bytes), "-_-_");
  EXPECT_FALSE(QMA_KLVStringEncoding::rfc4648Base64WebsafeStringEncoding()->decode("+/+/"));
}

TEST(StringEncoding, DecodingRules) {
  auto b64 = QMA_KLVStringEncoding::rfc4648Base64StringEncoding();
  EXPECT_EQ(text(b64->decode("YWI")), "ab") << "padding is optional";
  EXPECT_EQ(text(b64->decode("YWI===")), "ab") << "any number of pads may end the text";
  EXPECT_FALSE(b64->decode("YWI=A")) << "a value after padding";
  EXPECT_FALSE(b64->decode("YWJ")) << "non-zero leftover bits";
  EXPECT_FALSE(b64->decode("YW J")) << "a character outside the alphabet";
  EXPECT_FALSE(b64->decode("YW\xc3\xa9")) << "not ASCII";

  b64->ignoreCharacters(" \n");
  EXPECT_EQ(text(b64->decode("YW\nJ j")), "abc");

  auto hex = QMA_KLVStringEncoding::hexStringEncoding();
  EXPECT_EQ(text(hex->decode("ff")), "\xff");
  EXPECT_EQ(text(hex->decode("FF")), "\xff");
  EXPECT_EQ(hex->encode(foundation::Bytes{0xab}), "AB");

  auto crockford = QMA_KLVStringEncoding::crockfordBase32StringEncoding();
  EXPECT_EQ(crockford->decode("O"), crockford->decode("0"));
  EXPECT_EQ(crockford->decode("L1"), crockford->decode("11"));
  EXPECT_EQ(crockford->decode("ii"), crockford->decode("11"));
  EXPECT_FALSE(crockford->decode("U"));
}

TEST(StringEncoding, StringByDecodingWantsUtf8) {
  auto b64 = QMA_KLVStringEncoding::rfc4648Base64StringEncoding();
  EXPECT_EQ(b64->stringByDecoding(b64->encodeString("na\xc3\xafve")), "na\xc3\xafve");
  EXPECT_FALSE(b64->stringByDecoding(b64->encode(foundation::Bytes{0xff, 0xfe})));
}

TEST(StringEncoding, UnusableAlphabetsGiveNil) {
  EXPECT_FALSE(QMA_KLVStringEncoding::stringEncodingWithString("abc"));
  EXPECT_FALSE(QMA_KLVStringEncoding::stringEncodingWithString("a"));
  EXPECT_FALSE(QMA_KLVStringEncoding::stringEncodingWithString("abca"));
  EXPECT_FALSE(QMA_KLVStringEncoding::stringEncodingWithString("ab\xc3\xa9"));
  EXPECT_FALSE(QMA_KLVStringEncoding::stringEncodingWithString(std::string(256, 'x')));
  std::string all;
  for (int c = 0; c < 128; ++c) all.push_back(static_cast<char>(c));
  auto base128 = QMA_KLVStringEncoding::stringEncodingWithString(all);
  ASSERT_TRUE(base128);
  const foundation::Bytes data = {0x00, 0xff, 0x10, 0x80, 0x7f, 0x01, 0x02};
  EXPECT_EQ(base128->decode(base128->encode(data)), data);
}

TEST(StringEncoding, NonAsciiConfigurationCharactersAreIgnored) {
  // A byte above 127 would index past the 128-entry table; it must change nothing.
  auto b64 = QMA_KLVStringEncoding::rfc4648Base64StringEncoding();
  b64->addDecodeSynonyms("A\xc3\xa9\xff");
  b64->ignoreCharacters("\x80\xfe");
  b64->setPaddingChar('\xf0');
  EXPECT_EQ(text(b64->decode("YWJj")), "abc");
  EXPECT_FALSE(b64->decode("YW\xc3\xa9"));
}

TEST(StringEncoding, PaddingFollowsTheBlockLength) {
  auto b32 = QMA_KLVStringEncoding::rfc4648Base32StringEncoding();
  for (size_t n = 1; n <= 12; ++n) {
    const std::string s(n, 'q');
    const std::string e = b32->encodeString(s);
    EXPECT_EQ(e.size() % 8, 0u) << n;
    EXPECT_EQ(text(b32->decode(e)), s);
  }
  b32->setDoPad(false);
  EXPECT_EQ(b32->encodeString("f"), "MY");
  EXPECT_EQ(QMA_KLVStringEncoding::hexStringEncoding()->description(),
            "<Base16 StringEncoder: <30313233 34353637 38394142 43444546>>");
}

}  // namespace
