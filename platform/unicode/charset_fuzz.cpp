// Any bytes under any declared charset decode to well-formed UTF-8 without reading outside
// them; a charset sniffed from a document's prefix is one the decoder knows. The first
// byte picks the Content-Type from a few, so labels of every kind are tried.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/unicode/charset.h"
#include "platform/unicode/unicode.h"

namespace {

bool wellFormed(std::string_view text) {
  std::string again;
  unicode::appendUTF8FromUTF16(unicode::utf16FromUTF8(text), again);
  return again == text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kTypes[] = {"",
                                       "text/html",
                                       "text/html; charset=iso-8859-1",
                                       "text/html; charset=utf-16be",
                                       "text/html; charset=Shift_JIS",
                                       "text/html; charset=gbk",
                                       "text/html; charset=utf-7",
                                       "application/json; charset=utf-8"};
  if (size == 0) return 0;
  const std::string_view type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  if (!wellFormed(unicode::decodeDocument(bytes, type))) std::abort();
  // The charset a document is read by is one the decoder names as itself.
  const std::string charset = unicode::documentCharset(bytes, type);
  if (!charset.empty() && unicode::canonicalCharset(charset) != charset) std::abort();
  const std::string sniffed = unicode::charsetFromHTMLPrefix(bytes);
  if (!sniffed.empty() && unicode::canonicalCharset(sniffed).empty()) std::abort();
  // The bytes as a Content-Type of their own.
  (void)unicode::utf8FromCharset(bytes, unicode::charsetFromContentType(bytes));
  return 0;
}
