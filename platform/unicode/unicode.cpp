#include "platform/unicode/unicode.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <cstdint>

namespace unicode {

std::u16string utf16FromUTF8(std::string_view utf8) {
  std::u16string out(utf8.size(), u'\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &length, utf8.data(),
                       static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &err);
  if (U_FAILURE(err)) return {};
  out.resize(static_cast<size_t>(length));
  return out;
}

void appendUTF8FromUTF16(std::u16string_view s, std::string& out) {
  for (size_t i = 0; i < s.size(); ++i) {
    std::uint32_t c = s[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    }
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void lowercase(std::u16string_view in, const char* locale, std::u16string& out) {
  out.resize(in.size() + 8);
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode err = U_ZERO_ERROR;
    const int32_t length =
        u_strToLower(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                     reinterpret_cast<const UChar*>(in.data()), static_cast<int32_t>(in.size()), locale, &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
      out.resize(static_cast<size_t>(length));
      continue;
    }
    if (U_FAILURE(err)) break;
    out.resize(static_cast<size_t>(length));
    return;
  }
  out.assign(in);
}

bool isAlphanumeric(char32_t c) {
  return (U_GET_GC_MASK(static_cast<UChar32>(c)) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

}  // namespace unicode
