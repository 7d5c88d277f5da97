#include "platform/crypto/aes256.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace crypto {
namespace {

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

std::optional<Bytes> run(bool encrypt, const std::uint8_t* data, std::size_t size, const Aes256Key& key,
                         const AesIv& iv) {
  if (size > static_cast<std::size_t>(INT32_MAX) - 32) return std::nullopt;
  std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return std::nullopt;
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data(), encrypt ? 1 : 0) != 1) {
    return std::nullopt;
  }
  // Room for one more block than the input, as padding can add a whole block.
  Bytes out(size + 16);
  int written = 0;
  int finalWritten = 0;
  if (EVP_CipherUpdate(ctx.get(), out.data(), &written, data, static_cast<int>(size)) != 1) return std::nullopt;
  if (EVP_CipherFinal_ex(ctx.get(), out.data() + written, &finalWritten) != 1) return std::nullopt;
  out.resize(static_cast<std::size_t>(written + finalWritten));
  return out;
}

}  // namespace

std::optional<Bytes> aes256CbcEncrypt(const std::uint8_t* data, std::size_t size, const Aes256Key& key,
                                      const AesIv& iv) {
  return run(true, data, size, key, iv);
}

std::optional<Bytes> aes256CbcDecrypt(const std::uint8_t* data, std::size_t size, const Aes256Key& key,
                                      const AesIv& iv) {
  return run(false, data, size, key, iv);
}

Aes256Key keyFromString(std::string_view keyString) {
  Aes256Key key{};
  std::copy_n(keyString.begin(), std::min(keyString.size(), key.size()), key.begin());
  return key;
}

}  // namespace crypto
