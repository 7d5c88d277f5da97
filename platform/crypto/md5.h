#pragma once
// MD5 digests (OpenSSL's libcrypto underneath).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace crypto {

using MD5Digest = std::array<std::uint8_t, 16>;

MD5Digest md5(const void* data, std::size_t size);
inline MD5Digest md5(std::string_view bytes) { return md5(bytes.data(), bytes.size()); }
// 32 lower-case hexadecimal digits, two per byte in order.
std::string md5Hex(const void* data, std::size_t size);
inline std::string md5Hex(std::string_view bytes) { return md5Hex(bytes.data(), bytes.size()); }

}  // namespace crypto
