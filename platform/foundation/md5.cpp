#include "platform/foundation/md5.h"

#include <openssl/evp.h>

namespace foundation {

MD5Digest md5(const void* data, std::size_t size) {
  MD5Digest out{};
  unsigned int len = 0;
  EVP_Digest(data, size, out.data(), &len, EVP_md5(), nullptr);
  return out;
}

std::string md5Hex(std::string_view bytes) {
  static const char* hex = "0123456789abcdef";
  std::string s;
  for (auto b : md5(bytes)) {
    s.push_back(hex[b >> 4]);
    s.push_back(hex[b & 15]);
  }
  return s;
}

}  // namespace foundation
