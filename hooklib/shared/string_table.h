#pragma once
// The table of nine enciphered strings and the AES-256 data cipher behind it. Both
// deliverables hold the same table and key, so they find the same settings file and the
// same messaging centre.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace wardvane {

using foundation::Bytes;

// The built-in key string; its UTF-8 bytes, zero-filled to 32, are the AES-256 key.
inline constexpr std::string_view kKeyString = "com.tallowby.curfewkeyed";

// Roles of the table's entries (the others are kept but unused).
enum StringID : int {
  kAlertTitleString = 0,
  kMessagingCenterNameString = 1,
  kSettingsPathString = 3,
};
inline constexpr int kApplicationStringCount = 9;

// The stored entries, base64 of the ciphertext, in stored order.
const std::array<std::string_view, kApplicationStringCount>& applicationStrings();

// AES-256-CBC, PKCS#7, zero IV, key from the key string. Nullopt on failure, and for a
// key string longer than the 32-byte key.
std::optional<Bytes> AES256EncryptWithKey(const Bytes& data, std::string_view key);
std::optional<Bytes> AES256DecryptWithKey(const Bytes& data, std::string_view key);

// Strict base64 -> decipher -> UTF-8. Nullopt when any step fails.
std::optional<std::string> decodeStringWithKey(std::string_view base64Text, std::string_view key);
// UTF-8 -> encipher -> base64 without line breaks: how the table's entries were made.
std::optional<std::string> encodeStringWithKey(std::string_view plaintext, std::string_view key);

// Entry `index` deciphered with the built-in key; nullopt outside 0..8 or on failure.
// Deciphered anew at every call.
std::optional<std::string> getApplicationStringWithID(int index);

}  // namespace wardvane
