#include "hooklib/shared/string_table.h"

#include "platform/crypto/aes256.h"
#include "platform/foundation/base64.h"

namespace wardvane {
namespace {

// Plaintexts: 0 "Wardvane" (alert title), 1 the messaging-centre name, 3 the settings
// path on the phone; the rest are kept for the table's shape.
constexpr std::array<std::string_view, kApplicationStringCount> kStored = {
    "DQ79bhEiEaipE+IwrSx5UQ==",
    "LuQDTtE70YJt70jpsc/62P+I4HWjkhA9LjA7wn4vRSE=",
    "LuQDTtE70YJt70jpsc/62LH5jlfcDz/plLO9Db8YsKs=",
    "dTJi7QMGyd0bmRmJPP/6fFN/Tc00QvycLxJ5GrjQ4Vq506dELef0xOUfRY6ZCJ2T9DJcnMrTpujB4HUzpq5g5w==",
    "LuQDTtE70YJt70jpsc/62FfUY3NRk0jcXSFKyUvOotYyGH5vPGRi3CxjBZjwEBxn",
    "VYUixUK+8bJbfAUI84ePea0e/ID0JXLWqtJegwXRz+g=",
    "lxNap+/oFNbk0zLQasi0/9Gywemz4JkKHP4SUHLETA0=",
    "WV+TR9nnneG7glQh1DoSufbexalsO6CEjEx7qbl45GXD2f83GETyjBMNQFTTBVirzlLzAwczBCel8kANKWqk9Q==",
    "cZBiQZKv3HprubTG1T8E0tuXN7coyhAkujLsrqjOjME=",
};

std::optional<crypto::Aes256Key> keyFor(std::string_view key) {
  if (key.size() > crypto::Aes256Key{}.size()) return std::nullopt;
  return crypto::keyFromString(key);
}

// The platform's string-from-data conversion refuses malformed UTF-8.
bool isValidUtf8(const Bytes& b) {
  std::size_t i = 0;
  while (i < b.size()) {
    unsigned c = b[i];
    std::size_t more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
    if (more == 4 || (more == 1 && c < 0xC2) || i + more >= b.size() + (more == 0)) return false;
    for (std::size_t k = 1; k <= more; ++k) {
      if ((b[i + k] & 0xC0) != 0x80) return false;
    }
    i += more + 1;
  }
  return true;
}

}  // namespace

const std::array<std::string_view, kApplicationStringCount>& applicationStrings() { return kStored; }

std::optional<Bytes> AES256EncryptWithKey(const Bytes& data, std::string_view key) {
  auto k = keyFor(key);
  if (!k) return std::nullopt;
  return crypto::aes256CbcEncrypt(data.data(), data.size(), *k);
}

std::optional<Bytes> AES256DecryptWithKey(const Bytes& data, std::string_view key) {
  auto k = keyFor(key);
  if (!k) return std::nullopt;
  return crypto::aes256CbcDecrypt(data.data(), data.size(), *k);
}

std::optional<std::string> decodeStringWithKey(std::string_view base64Text, std::string_view key) {
  auto cipher = foundation::base64Decode(base64Text);
  if (!cipher) return std::nullopt;
  auto plain = AES256DecryptWithKey(*cipher, key);
  if (!plain || !isValidUtf8(*plain)) return std::nullopt;
  return std::string(plain->begin(), plain->end());
}

std::optional<std::string> encodeStringWithKey(std::string_view plaintext, std::string_view key) {
  auto cipher = AES256EncryptWithKey(Bytes(plaintext.begin(), plaintext.end()), key);
  if (!cipher) return std::nullopt;
  return foundation::base64Encode(*cipher);
}

std::optional<std::string> getApplicationStringWithID(int index) {
  if (index < 0 || index >= kApplicationStringCount) return std::nullopt;
  return decodeStringWithKey(kStored[static_cast<std::size_t>(index)], kKeyString);
}

}  // namespace wardvane
