#pragma once
// Bytes to text and back in any base that is a power of two from 2 to 128, driven by an
// alphabet: binary, hexadecimal, the RFC 4648 base32/base64 families and Crockford's
// base32. An encoding is configured once (synonyms, ignored characters, padding) and is
// then read-only, so one instance may be shared between threads.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

class QMA_KLVStringEncoding {
 public:
  // Nil (null) for an alphabet that is not ASCII, whose length is not a power of two
  // between 2 and 128, or that repeats a character.
  static std::shared_ptr<QMA_KLVStringEncoding> stringEncodingWithString(std::string_view alphabet);

  static std::shared_ptr<QMA_KLVStringEncoding> binaryStringEncoding();
  static std::shared_ptr<QMA_KLVStringEncoding> hexStringEncoding();
  static std::shared_ptr<QMA_KLVStringEncoding> rfc4648Base32StringEncoding();
  static std::shared_ptr<QMA_KLVStringEncoding> rfc4648Base32HexStringEncoding();
  static std::shared_ptr<QMA_KLVStringEncoding> crockfordBase32StringEncoding();
  static std::shared_ptr<QMA_KLVStringEncoding> rfc4648Base64StringEncoding();
  static std::shared_ptr<QMA_KLVStringEncoding> rfc4648Base64WebsafeStringEncoding();

  // Extra characters accepted when decoding: a character already known makes its value
  // current, an unknown one takes the current value ("AaBb": a decodes as A, b as B).
  void addDecodeSynonyms(std::string_view synonyms);
  // Characters skipped when decoding.
  void ignoreCharacters(std::string_view characters);
  bool doPad() const { return doPad_; }
  void setDoPad(bool doPad) { doPad_ = doPad; }
  void setPaddingChar(char c);

  std::string encode(const foundation::Bytes& data) const;
  std::string encode(std::string_view bytes) const;
  // The UTF-8 bytes of `text`, encoded.
  std::string encodeString(std::string_view text) const { return encode(text); }
  // Nullopt for text that is not ASCII, holds a character outside the alphabet, has a
  // value after padding, or ends with non-zero leftover bits.
  std::optional<foundation::Bytes> decode(std::string_view text) const;
  // The decoded bytes as UTF-8 text; nullopt when they are not UTF-8.
  std::optional<std::string> stringByDecoding(std::string_view text) const;

  std::string description() const;

 private:
  QMA_KLVStringEncoding() = default;

  // Reverse-map markers for characters that carry no value.
  static constexpr std::int32_t kUnknown = -1;
  static constexpr std::int32_t kPadding = -2;
  static constexpr std::int32_t kIgnored = -3;

  std::string charMapData_;
  std::array<std::int32_t, 128> reverseCharMap_{};
  int shift_ = 0;
  int mask_ = 0;
  bool doPad_ = false;
  char paddingChar_ = 0;
  int padLen_ = 0;
};
