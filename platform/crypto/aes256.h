#pragma once
// AES-256-CBC with PKCS#7 padding over OpenSSL, and MD5.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace crypto {

using foundation::Bytes;

// 32 raw key bytes and a 16-byte initialisation vector.
using Aes256Key = std::array<std::uint8_t, 32>;
using AesIv = std::array<std::uint8_t, 16>;

// Nullopt on any failure (for decryption: input not a whole number of blocks, or bad
// padding, which is what a wrong key almost always gives).
std::optional<Bytes> aes256CbcEncrypt(const std::uint8_t* data, std::size_t size, const Aes256Key& key,
                                      const AesIv& iv = {});
std::optional<Bytes> aes256CbcDecrypt(const std::uint8_t* data, std::size_t size, const Aes256Key& key,
                                      const AesIv& iv = {});

// The key of a key string: its UTF-8 bytes in a zero-filled buffer, cut at 32 bytes.
Aes256Key keyFromString(std::string_view keyString);

}  // namespace crypto
