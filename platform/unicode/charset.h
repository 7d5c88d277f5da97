#pragma once
// Text of documents as the network hands it over, in whatever charset its answer or the
// document itself declares, turned into the UTF-8 the rest of the code keeps, as a
// browser reads it: a byte order mark first, then the Content-Type's charset, then (for
// HTML) a <meta> in the document's first bytes, else UTF-8. Bytes that are not valid in
// that charset become U+FFFD; a document is never refused for its bytes.
//
// Threads: any; nothing is shared but ICU's converters, opened per call.

#include <cstddef>
#include <string>
#include <string_view>

namespace unicode {

// How far into a document a <meta> declaring its charset is looked for (as browsers do).
inline constexpr std::size_t kCharsetPrescanBytes = 1024;

// The charset parameter of a Content-Type ("text/html; charset=\"ISO-8859-1\"" gives
// "ISO-8859-1"), or "" when it names none.
std::string charsetFromContentType(std::string_view contentType);

// The charset an HTML document declares in its first kCharsetPrescanBytes by
// <meta charset> or <meta http-equiv="Content-Type" content="...; charset=...">, or "".
std::string charsetFromHTMLPrefix(std::string_view html);

// The converter name for a charset label as pages write it ("latin1", "UTF8",
// "iso-8859-1"), or "" for a label no browser decodes by (unknown, or one such as UTF-7
// that browsers refuse to honour). Latin-1 and ASCII read as windows-1252, as browsers do.
std::string canonicalCharset(std::string_view label);

// `bytes` in `charset` (a label) to UTF-8; an unknown label reads as UTF-8.
std::string utf8FromCharset(std::string_view bytes, std::string_view charset);

// The converter a document is read by: its byte order mark's, its Content-Type's charset
// or, when it is HTML (or untyped), its own <meta>'s; "" when it declares none a browser
// honours, so it reads as UTF-8.
std::string documentCharset(std::string_view bytes, std::string_view contentType);

// A document's bytes to UTF-8 by the charset documentCharset finds; UTF-8 otherwise. A byte
// order mark is left out.
std::string decodeDocument(std::string_view bytes, std::string_view contentType);

}  // namespace unicode
