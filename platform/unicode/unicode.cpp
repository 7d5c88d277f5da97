#include "platform/unicode/unicode.h"

#include <dlfcn.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <type_traits>

namespace unicode {
namespace {

#define WV_UNICODE_STRING(x) #x
#define WV_UNICODE_NAME(x) WV_UNICODE_STRING(x)

// ICU is loaded the first time text is handled, not when the program starts: a program
// that never handles text (the restriction programs carry the ad component, which does)
// pays nothing for it. Its entry points carry the version in their names, as the headers
// rename them.
struct ICU {
  decltype(&::u_strFromUTF8WithSub) strFromUTF8WithSub = nullptr;
  decltype(&::u_strToLower) strToLower = nullptr;
  decltype(&::u_charType) charType = nullptr;
  decltype(&::ucnv_open) converterOpen = nullptr;
  decltype(&::ucnv_close) converterClose = nullptr;
  decltype(&::ucnv_toUnicode) converterToUnicode = nullptr;
};

const ICU& icu() {
  static ICU loaded;
  static std::once_flag once;
  std::call_once(once, [] {
    const char* name = "libicuuc.so." WV_UNICODE_NAME(U_ICU_VERSION_MAJOR_NUM);
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    auto resolve = [&](auto& entry, const char* symbol) {
      entry = library ? reinterpret_cast<std::remove_reference_t<decltype(entry)>>(dlsym(library, symbol)) : nullptr;
      if (!entry) {
        std::fprintf(stderr, "unicode: cannot load %s from %s: %s\n", symbol, name, dlerror());
        std::abort();
      }
    };
    resolve(loaded.strFromUTF8WithSub, WV_UNICODE_NAME(u_strFromUTF8WithSub));
    resolve(loaded.strToLower, WV_UNICODE_NAME(u_strToLower));
    resolve(loaded.charType, WV_UNICODE_NAME(u_charType));
    resolve(loaded.converterOpen, WV_UNICODE_NAME(ucnv_open));
    resolve(loaded.converterClose, WV_UNICODE_NAME(ucnv_close));
    resolve(loaded.converterToUnicode, WV_UNICODE_NAME(ucnv_toUnicode));
  });
  return loaded;
}

}  // namespace

std::u16string utf16FromUTF8(std::string_view utf8) {
  std::u16string out(utf8.size(), u'\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t length = 0;
  icu().strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &length, utf8.data(),
                       static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &err);
  if (U_FAILURE(err)) return {};
  out.resize(static_cast<size_t>(length));
  return out;
}

bool utf16FromCharset(std::string_view bytes, const char* converterName, std::u16string& out) {
  out.clear();
  UErrorCode err = U_ZERO_ERROR;
  UConverter* converter = icu().converterOpen(converterName, &err);
  if (U_FAILURE(err) || !converter) return false;
  // In pieces through a fixed buffer: no input is too long for ICU's 32-bit counts. ICU's
  // default for bytes it cannot map is the replacement character.
  const char* source = bytes.data();
  const char* const sourceLimit = bytes.data() + bytes.size();
  UChar buffer[4096];
  for (;;) {
    UChar* target = buffer;
    err = U_ZERO_ERROR;
    icu().converterToUnicode(converter, &target, buffer + 4096, &source, sourceLimit, nullptr, true, &err);
    out.append(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(target - buffer));
    if (err == U_BUFFER_OVERFLOW_ERROR) continue;
    break;
  }
  icu().converterClose(converter);
  return true;
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
        icu().strToLower(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
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
  const std::int8_t type = icu().charType(static_cast<UChar32>(c));
  return (U_MASK(type) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

}  // namespace unicode
