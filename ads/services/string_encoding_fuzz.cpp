// Decodes arbitrary text with the ready-made encodings; whatever decodes must encode
// back to text that decodes to the same bytes.
#include <cstdlib>

#include "ads/services/string_encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  static const std::shared_ptr<QMA_KLVStringEncoding> encodings[] = {
      QMA_KLVStringEncoding::binaryStringEncoding(),
      QMA_KLVStringEncoding::hexStringEncoding(),
      QMA_KLVStringEncoding::rfc4648Base32StringEncoding(),
      QMA_KLVStringEncoding::rfc4648Base32HexStringEncoding(),
      QMA_KLVStringEncoding::crockfordBase32StringEncoding(),
      QMA_KLVStringEncoding::rfc4648Base64StringEncoding(),
      QMA_KLVStringEncoding::rfc4648Base64WebsafeStringEncoding(),
  };
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& e : encodings) {
    auto bytes = e->decode(text);
    if (!bytes) continue;
    auto again = e->decode(e->encode(*bytes));
    if (!again || *again != *bytes) std::abort();
  }
  // The same text as an alphabet and as configuration must never misbehave.
  if (auto custom = QMA_KLVStringEncoding::stringEncodingWithString(text)) {
    custom->addDecodeSynonyms(text);
    custom->ignoreCharacters(text.substr(size / 2));
    (void)custom->decode(text);
  }
  return 0;
}
