#include "platform/unicode/charset.h"

#include <algorithm>
#include <cctype>

#include "platform/unicode/unicode.h"

namespace unicode {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string lowerASCII(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The value after "charset" in a meta's content text ("text/html; charset=latin1"), as
// browsers read it: the first "charset", then "=", then a quoted or bare value.
std::string charsetInMetaContent(std::string_view content) {
  const std::string lower = lowerASCII(content);
  std::size_t at = 0;
  for (;;) {
    at = lower.find("charset", at);
    if (at == std::string::npos) return "";
    std::size_t i = at + 7;
    while (i < lower.size() && isSpace(lower[i])) ++i;
    if (i >= lower.size() || lower[i] != '=') {
      at = i;
      continue;
    }
    ++i;
    while (i < lower.size() && isSpace(lower[i])) ++i;
    if (i >= lower.size()) return "";
    if (lower[i] == '"' || lower[i] == '\'') {
      const char quote = lower[i];
      const std::size_t end = lower.find(quote, i + 1);
      if (end == std::string::npos) return "";
      return std::string(trimmed(std::string_view(lower).substr(i + 1, end - i - 1)));
    }
    std::size_t end = i;
    while (end < lower.size() && !isSpace(lower[end]) && lower[end] != ';') ++end;
    return lower.substr(i, end - i);
  }
}

// One attribute of a tag at `i` (just past the tag name or the previous attribute), as
// the prescan reads it; false at the tag's end.
bool nextAttribute(std::string_view s, std::size_t& i, std::string& name, std::string& value) {
  name.clear();
  value.clear();
  while (i < s.size() && (isSpace(s[i]) || s[i] == '/')) ++i;
  if (i >= s.size() || s[i] == '>') return false;
  while (i < s.size() && !isSpace(s[i]) && s[i] != '=' && s[i] != '>' && s[i] != '/') {
    name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(s[i]))));
    ++i;
  }
  while (i < s.size() && isSpace(s[i])) ++i;
  if (i >= s.size() || s[i] != '=') return true;
  ++i;
  while (i < s.size() && isSpace(s[i])) ++i;
  if (i >= s.size()) return true;
  if (s[i] == '"' || s[i] == '\'') {
    const char quote = s[i++];
    while (i < s.size() && s[i] != quote) value.push_back(s[i++]);
    if (i >= s.size()) {
      // Cut off inside the value (the prefix ended): an attribute not read whole counts
      // for nothing.
      name.clear();
      return false;
    }
    ++i;
    return true;
  }
  while (i < s.size() && !isSpace(s[i]) && s[i] != '>') value.push_back(s[i++]);
  return true;
}

struct Label {
  const char* label;
  const char* converter;
};

// Labels browsers give another meaning than ICU would, or that ICU does not know.
constexpr Label kLabels[] = {
    {"utf-8", "UTF-8"},
    {"utf8", "UTF-8"},
    {"unicode-1-1-utf-8", "UTF-8"},
    {"unicode11utf8", "UTF-8"},
    {"unicode20utf8", "UTF-8"},
    {"x-unicode20utf8", "UTF-8"},
    {"ansi_x3.4-1968", "windows-1252"},
    {"ascii", "windows-1252"},
    {"us-ascii", "windows-1252"},
    {"cp1252", "windows-1252"},
    {"cp819", "windows-1252"},
    {"csisolatin1", "windows-1252"},
    {"ibm819", "windows-1252"},
    {"iso-8859-1", "windows-1252"},
    {"iso-ir-100", "windows-1252"},
    {"iso8859-1", "windows-1252"},
    {"iso88591", "windows-1252"},
    {"iso_8859-1", "windows-1252"},
    {"iso_8859-1:1987", "windows-1252"},
    {"l1", "windows-1252"},
    {"latin1", "windows-1252"},
    {"windows-1252", "windows-1252"},
    {"x-cp1252", "windows-1252"},
    {"iso-8859-9", "windows-1254"},
    {"latin5", "windows-1254"},
    {"l5", "windows-1254"},
    {"iso-8859-11", "windows-874"},
    {"tis-620", "windows-874"},
    {"gb2312", "GBK"},
    {"gbk", "GBK"},
    {"x-gbk", "GBK"},
    {"chinese", "GBK"},
    {"utf-16", "UTF-16LE"},
    {"utf-16le", "UTF-16LE"},
    {"utf-16be", "UTF-16BE"},
};

// Labels no browser decodes by: script could hide in them past filters that read UTF-8.
constexpr const char* kRefused[] = {"utf-7",    "utf7",     "unicode-1-1-utf-7", "csunicode11utf7", "scsu",
                                    "bocu-1",   "imap-mailbox-name", "utf-32",   "utf-32le", "utf-32be",
                                    "utf32",    "cesu-8",   "x-user-defined"};

bool isUTF16(const std::string& converter) { return converter == "UTF-16LE" || converter == "UTF-16BE"; }

// A charset that writes ASCII as ASCII: the only kind a document can name in its own
// bytes, and the only kind besides UTF-16 browsers take from an answer.
bool isASCIICompatible(const char* converter) {
  constexpr std::u16string_view kProbe = u"<meta charset=\"x\"> Az09";
  std::u16string decoded;
  return utf16FromCharset("<meta charset=\"x\"> Az09", converter, decoded) && decoded == kProbe;
}

std::string convert(std::string_view bytes, const std::string& converter) {
  std::string out;
  std::u16string wide;
  if (converter.empty() || converter == "UTF-8" || !utf16FromCharset(bytes, converter.c_str(), wide)) {
    wide = utf16FromUTF8(bytes);
    if (wide.empty() && !bytes.empty()) {
      // Over ICU's 32-bit counts: the bytes as they are, the engine replaces what is bad.
      return std::string(bytes);
    }
  }
  out.reserve(wide.size() + wide.size() / 2);
  appendUTF8FromUTF16(wide, out);
  return out;
}

}  // namespace

std::string charsetFromContentType(std::string_view contentType) {
  const auto semicolon = contentType.find(';');
  if (semicolon == std::string_view::npos) return "";
  std::string_view params = contentType.substr(semicolon + 1);
  while (!params.empty()) {
    const auto end = params.find(';');
    std::string_view param = trimmed(params.substr(0, end));
    params = end == std::string_view::npos ? std::string_view() : params.substr(end + 1);
    const auto eq = param.find('=');
    if (eq == std::string_view::npos) continue;
    if (lowerASCII(trimmed(param.substr(0, eq))) != "charset") continue;
    std::string_view value = trimmed(param.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return std::string(trimmed(value));
  }
  return "";
}

std::string charsetFromHTMLPrefix(std::string_view html) {
  const std::string_view s = html.substr(0, std::min(html.size(), kCharsetPrescanBytes));
  std::size_t i = 0;
  std::string name, value;
  while (i < s.size()) {
    if (s[i] != '<') {
      ++i;
      continue;
    }
    if (s.compare(i, 4, "<!--") == 0) {
      const auto end = s.find("-->", i + 4);
      if (end == std::string_view::npos) return "";
      i = end + 3;
      continue;
    }
    const bool meta = i + 6 <= s.size() && lowerASCII(s.substr(i + 1, 4)) == "meta" &&
                      (isSpace(s[i + 5]) || s[i + 5] == '/');
    if (meta) {
      i += 5;
      bool httpEquivContentType = false;
      std::string content, charset;
      while (nextAttribute(s, i, name, value)) {
        if (name == "http-equiv") httpEquivContentType = lowerASCII(trimmed(value)) == "content-type";
        else if (name == "content" && content.empty()) content = value;
        else if (name == "charset" && charset.empty()) charset = std::string(trimmed(value));
      }
      if (i >= s.size()) return "";  // the tag runs past the prefix: not read whole
      if (charset.empty() && httpEquivContentType) charset = charsetInMetaContent(content);
      if (!charset.empty()) {
        // A document cannot tell in its own bytes that it is UTF-16: read as UTF-8.
        const std::string converter = canonicalCharset(charset);
        if (isUTF16(converter)) return "utf-8";
        if (!converter.empty()) return charset;
      }
      continue;
    }
    const bool tag = i + 1 < s.size() && (std::isalpha(static_cast<unsigned char>(s[i + 1])) || s[i + 1] == '/');
    if (tag) {
      // Another tag: past its name and attributes, so a ">" in a quoted value does not end it.
      i += s[i + 1] == '/' ? 2 : 1;
      while (i < s.size() && !isSpace(s[i]) && s[i] != '>') ++i;
      while (nextAttribute(s, i, name, value)) {
      }
      continue;
    }
    if (i + 1 < s.size() && (s[i + 1] == '!' || s[i + 1] == '?')) {
      const auto end = s.find('>', i + 2);
      if (end == std::string_view::npos) return "";
      i = end + 1;
      continue;
    }
    ++i;
  }
  return "";
}

std::string canonicalCharset(std::string_view label) {
  const std::string lower = lowerASCII(trimmed(label));
  if (lower.empty() || lower.size() > 64) return "";
  for (const char* refused : kRefused)
    if (lower == refused) return "";
  for (const auto& known : kLabels)
    if (lower == known.label) return known.converter;
  // Any other charset ICU knows (Shift_JIS, EUC-KR, KOI8-R, windows-1251, ...), checked by
  // opening it.
  for (char c : lower)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.' && c != ':') return "";
  if (!isASCIICompatible(lower.c_str())) return "";
  return lower;
}

std::string utf8FromCharset(std::string_view bytes, std::string_view charset) {
  return convert(bytes, canonicalCharset(charset));
}

std::string documentCharset(std::string_view bytes, std::string_view contentType) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return "UTF-8";
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFE\xFF") == 0) return "UTF-16BE";
  if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) return "UTF-16LE";
  std::string converter = canonicalCharset(charsetFromContentType(contentType));
  if (converter.empty()) {
    const std::string mime = lowerASCII(trimmed(contentType.substr(0, contentType.find(';'))));
    if (mime.empty() || mime == "text/html" || mime == "application/xhtml+xml")
      converter = canonicalCharset(charsetFromHTMLPrefix(bytes));
  }
  return converter;
}

std::string decodeDocument(std::string_view bytes, std::string_view contentType) {
  const std::string converter = documentCharset(bytes, contentType);
  // The byte order mark that named the charset is no part of the text.
  if (converter == "UTF-8" && bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
    return convert(bytes.substr(3), converter);
  if (isUTF16(converter) && bytes.size() >= 2 &&
      (bytes.compare(0, 2, "\xFE\xFF") == 0 || bytes.compare(0, 2, "\xFF\xFE") == 0))
    return convert(bytes.substr(2), converter);
  return convert(bytes, converter);
}

}  // namespace unicode
