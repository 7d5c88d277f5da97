#include "platform/crypto/md5.h"

#include <openssl/evp.h>

namespace crypto {

MD5Digest md5(const void* data, std::size_t size) {
  MD5Digest digest{};
  unsigned int len = 0;
  EVP_Digest(data, size, digest.data(), &len, EVP_md5(), nullptr);
  return digest;
}

std::string md5Hex(const void* data, std::size_t size) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (auto b : md5(data, size)) {
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  return out;
}

}  // namespace crypto
