#include "ads/services/string_encoding.h"

#include <bit>
#include <cstdio>
#include <numeric>

namespace {

bool isAscii(unsigned char c) { return c < 128; }

std::shared_ptr<QMA_KLVStringEncoding> padded(std::shared_ptr<QMA_KLVStringEncoding> e) {
  e->setPaddingChar('=');
  e->setDoPad(true);
  return e;
}

bool isValidUtf8(const foundation::Bytes& b) {
  size_t i = 0;
  const size_t n = b.size();
  while (i < n) {
    const unsigned char c = b[i];
    size_t extra;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= n) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((b[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b[i + k] & 0x3F);
    }
    static constexpr std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

}  // namespace

std::shared_ptr<QMA_KLVStringEncoding> QMA_KLVStringEncoding::stringEncodingWithString(std::string_view alphabet) {
  for (unsigned char c : alphabet) {
    if (!isAscii(c)) return nullptr;
  }
  const size_t length = alphabet.size();
  if (length < 2 || length > 128 || !std::has_single_bit(length)) return nullptr;
  std::shared_ptr<QMA_KLVStringEncoding> e(new QMA_KLVStringEncoding());
  e->charMapData_ = std::string(alphabet);
  e->reverseCharMap_.fill(kUnknown);
  for (size_t i = 0; i < length; ++i) {
    auto& slot = e->reverseCharMap_[static_cast<unsigned char>(alphabet[i])];
    if (slot != kUnknown) return nullptr;
    slot = static_cast<std::int32_t>(i);
  }
  e->shift_ = std::countr_zero(length);
  e->mask_ = (1 << e->shift_) - 1;
  e->padLen_ = std::lcm(8, e->shift_) / e->shift_;
  return e;
}

std::shared_ptr<QMA_KLVStringEncoding> QMA_KLVStringEncoding::binaryStringEncoding() {
  return stringEncodingWithString("01");
}

std::shared_ptr<QMA_KLVStringEncoding> QMA_KLVStringEncoding::hexStringEncoding() {
  auto e = stringEncodingWithString("0123456789ABCDEF");
  e->addDecodeSynonyms("AaBbCcDdEeFf");
  return e;
}

std::shared_ptr<QMA_KLVStringEncoding> QMA_KLVStringEncoding::rfc4648Base32StringEncoding() {
  return padded(stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567"));
}

std::shared_ptr<QMA_KLVStringEncoding> QMA_KLVStringEncoding::rfc4648Base32HexStringEncoding() {
  return padded(stringEncodingWithString("0123456789ABCDEFGHIJKLMNOPQRSTUV"));
}

std::shared_ptr<QMA_KLVStringEncoding> QMA_KLVStringEncoding::crockfordBase32StringEncoding() {
  auto e = stringEncodingWithString("0123456789ABCDEFGHJKMNPQRSTVWXYZ");
  e->addDecodeSynonyms("0oO1iIlLAaBbCcDdEeFfGgHhJjKkMmNnPpQqRrSsTtVvWwXxYyZz");
  return e;
}

std::shared_ptr<QMA_KLVStringEncoding> QMA_KLVStringEncoding::rfc4648Base64StringEncoding() {
  return padded(stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"));
}

std::shared_ptr<QMA_KLVStringEncoding> QMA_KLVStringEncoding::rfc4648Base64WebsafeStringEncoding() {
  return padded(stringEncodingWithString("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"));
}

// The three configuration calls only ever touch the 128 ASCII entries: a character
// outside ASCII cannot occur in decodable text, so it is skipped rather than allowed to
// index past the table.
void QMA_KLVStringEncoding::addDecodeSynonyms(std::string_view synonyms) {
  std::int32_t current = kUnknown;
  for (unsigned char c : synonyms) {
    if (!isAscii(c)) continue;
    auto& slot = reverseCharMap_[c];
    if (slot != kUnknown) {
      current = slot;
    } else {
      slot = current;
    }
  }
}

void QMA_KLVStringEncoding::ignoreCharacters(std::string_view characters) {
  for (unsigned char c : characters) {
    if (isAscii(c)) reverseCharMap_[c] = kIgnored;
  }
}

void QMA_KLVStringEncoding::setPaddingChar(char c) {
  paddingChar_ = c;
  if (isAscii(static_cast<unsigned char>(c))) reverseCharMap_[static_cast<unsigned char>(c)] = kPadding;
}

std::string QMA_KLVStringEncoding::encode(const foundation::Bytes& data) const {
  return encode(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

std::string QMA_KLVStringEncoding::encode(std::string_view bytes) const {
  if (bytes.empty()) return {};
  const size_t length = bytes.size();
  size_t outLength = (length * 8 + static_cast<size_t>(shift_) - 1) / static_cast<size_t>(shift_);
  if (doPad_) outLength = (outLength + static_cast<size_t>(padLen_) - 1) / padLen_ * padLen_;
  std::string out;
  out.reserve(outLength);

  std::uint32_t buffer = static_cast<unsigned char>(bytes[0]);
  int bitsLeft = 8;
  size_t next = 1;
  while (bitsLeft > 0 || next < length) {
    if (bitsLeft < shift_) {
      if (next < length) {
        buffer = (buffer << 8) | static_cast<unsigned char>(bytes[next++]);
        bitsLeft += 8;
      } else {
        const int pad = shift_ - bitsLeft;
        buffer <<= pad;
        bitsLeft += pad;
      }
    }
    const int index = static_cast<int>(buffer >> (bitsLeft - shift_)) & mask_;
    bitsLeft -= shift_;
    buffer &= (bitsLeft > 0) ? ((1u << bitsLeft) - 1) : 0u;
    out.push_back(charMapData_[static_cast<size_t>(index)]);
  }
  if (doPad_) out.resize(outLength, paddingChar_);
  return out;
}

std::optional<foundation::Bytes> QMA_KLVStringEncoding::decode(std::string_view text) const {
  foundation::Bytes out;
  out.reserve(text.size() * static_cast<size_t>(shift_) / 8 + 1);
  std::uint32_t buffer = 0;
  int bits = 0;
  bool sawPadding = false;
  for (unsigned char c : text) {
    if (!isAscii(c)) return std::nullopt;
    const std::int32_t value = reverseCharMap_[c];
    if (value == kIgnored) continue;
    if (value == kUnknown) return std::nullopt;
    if (value == kPadding) {
      sawPadding = true;
      continue;
    }
    if (sawPadding) return std::nullopt;
    buffer = (buffer << shift_) | (static_cast<std::uint32_t>(value) & static_cast<std::uint32_t>(mask_));
    bits += shift_;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>(buffer >> bits));
      buffer &= (1u << bits) - 1;
    }
  }
  if (bits > 0 && buffer != 0) return std::nullopt;
  return out;
}

std::optional<std::string> QMA_KLVStringEncoding::stringByDecoding(std::string_view text) const {
  auto bytes = decode(text);
  if (!bytes || !isValidUtf8(*bytes)) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

std::string QMA_KLVStringEncoding::description() const {
  // The alphabet in the platform's data notation: hexadecimal, four bytes per group.
  std::string data = "<";
  for (size_t i = 0; i < charMapData_.size(); ++i) {
    if (i > 0 && i % 4 == 0) data += ' ';
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(charMapData_[i]));
    data += hex;
  }
  data += '>';
  return "<Base" + std::to_string(1 << shift_) + " StringEncoder: " + data + ">";
}
