#include "hooklib/shared/string_table.h"

#include <gtest/gtest.h>

#include "platform/foundation/base64.h"

namespace wardvane {
namespace {

TEST(StringTable, EntriesDecipherToTheirRoles) {
  EXPECT_EQ(getApplicationStringWithID(kAlertTitleString), "Wardvane");
  EXPECT_EQ(getApplicationStringWithID(kMessagingCenterNameString), "com.brimcote.wardvane.applist");
  EXPECT_EQ(getApplicationStringWithID(kSettingsPathString),
            "/var/mobile/Library/Preferences/com.brimcote.wardvane.plist");
  for (int i = 0; i < kApplicationStringCount; ++i) EXPECT_TRUE(getApplicationStringWithID(i)) << i;
  EXPECT_FALSE(getApplicationStringWithID(-1));
  EXPECT_FALSE(getApplicationStringWithID(kApplicationStringCount));
}

TEST(StringTable, EncodeDecodeRoundTripsIncludingEmptyAndUnicode) {
  for (std::string_view plain : {"", "a", "0123456789abcdef", "Zeitfenster für Spiele ✓"}) {
    auto enc = encodeStringWithKey(plain, kKeyString);
    ASSERT_TRUE(enc);
    EXPECT_EQ(enc->find('\n'), std::string::npos);
    EXPECT_EQ(decodeStringWithKey(*enc, kKeyString), std::string(plain));
  }
  EXPECT_EQ(encodeStringWithKey("", kKeyString), "8OGiCzdWUX4OVjPyaIo+xQ==");
}

TEST(StringTable, CipherSizesAndFailures) {
  Bytes sixteen(16, 'x');
  auto enc = AES256EncryptWithKey(sixteen, kKeyString);
  ASSERT_TRUE(enc);
  EXPECT_EQ(enc->size(), 32u);
  EXPECT_EQ(AES256DecryptWithKey(*enc, kKeyString), sixteen);

  auto title = std::string(applicationStrings()[kAlertTitleString]);
  // Another key does not give the plaintext back (it fails, or gives other bytes).
  EXPECT_NE(decodeStringWithKey(title, "com.tallowby.curfewkeyes"), "Wardvane");
  // Not base64 at all, white space inside, or a truncated ciphertext.
  EXPECT_FALSE(decodeStringWithKey("not base64!", kKeyString));
  EXPECT_FALSE(decodeStringWithKey(title.substr(0, 4) + " " + title.substr(4), kKeyString));
  EXPECT_FALSE(decodeStringWithKey("AAAA", kKeyString));
  // A key string longer than the key refuses rather than being silently cut.
  EXPECT_FALSE(AES256EncryptWithKey(sixteen, std::string(33, 'k')));
}

TEST(StringTable, DecipheredBytesThatAreNotUtf8GiveNoString) {
  auto enc = AES256EncryptWithKey(Bytes{0xC3, 0x28}, kKeyString);
  ASSERT_TRUE(enc);
  EXPECT_FALSE(decodeStringWithKey(foundation::base64Encode(*enc), kKeyString));
}

}  // namespace
}  // namespace wardvane
