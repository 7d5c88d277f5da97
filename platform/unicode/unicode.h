#pragma once
// The Unicode services text handling needs, over ICU: UTF-8 and UTF-16 conversion,
// locale-aware lower-casing and general categories.

#include <string>
#include <string_view>

namespace unicode {

// UTF-8 to UTF-16; ill-formed bytes become U+FFFD.
std::u16string utf16FromUTF8(std::string_view utf8);
// `bytes` in the charset ICU names `converterName` ("windows-1252", "Shift_JIS") to
// UTF-16, into `out` (replaced); ill-formed bytes become U+FFFD. False when ICU has no
// such converter.
bool utf16FromCharset(std::string_view bytes, const char* converterName, std::u16string& out);
// UTF-16 to UTF-8, appended to `out`; a lone surrogate becomes U+FFFD.
void appendUTF8FromUTF16(std::u16string_view utf16, std::string& out);
// Full lower-casing under the given locale ("en_US"), into `out` (replaced).
void lowercase(std::u16string_view text, const char* locale, std::u16string& out);
// Letters, marks and digits: general categories L*, M* and N*.
bool isAlphanumeric(char32_t c);

}  // namespace unicode
