#pragma once
// URLs as the platform's URL class sees them: the string kept exactly as given, with
// its parts (scheme, authority, path, query, fragment) read from it without decoding,
// and percent escaping of UTF-8 text.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace net {

class URL {
 public:
  // Nullopt unless the text is a URL reference: only characters a URL may hold,
  // every "%" followed by two hexadecimal digits, at most one "#", a numeric port.
  // Relative references ("a/b?c") are URLs too; they just have no scheme or host.
  static std::optional<URL> fromString(std::string_view text);

  const std::string& absoluteString() const { return text_; }
  // Lower-case forms are the caller's business: these are the text as written.
  std::optional<std::string> scheme() const;
  // The host without the brackets of an IPv6 literal and still percent-encoded;
  // nullopt when the URL has no authority or an empty host.
  std::optional<std::string> host() const;
  std::optional<int> port() const;
  std::string path() const;
  // Nullopt when there is no "?"; an empty string for a bare "?".
  std::optional<std::string> query() const;
  // Nullopt when there is no "#"; an empty string for a bare "#".
  std::optional<std::string> fragment() const;
  // "/" first for an absolute path, then each segment percent-decoded (kept raw when
  // it does not decode); empty segments and a trailing "/" are dropped.
  std::vector<std::string> pathComponents() const;
  bool isHTTP() const;  // scheme http or https, any case

  // RFC 3986 resolution of a reference (a redirect's Location) against this URL.
  std::optional<URL> resolve(std::string_view reference) const;

  friend bool operator==(const URL& a, const URL& b) { return a.text_ == b.text_; }

 private:
  struct Span {
    std::size_t begin = 0, end = 0;
    bool present = false;
  };
  std::string text_;
  Span scheme_, authority_, host_, port_, path_, query_, fragment_;

  std::string part(const Span& s) const { return text_.substr(s.begin, s.end - s.begin); }
};

// Percent-escapes every byte except ASCII letters, digits, "-", "_", ".", "~" and the
// characters of `keep`, in upper-case hexadecimal.
std::string percentEscape(std::string_view text, std::string_view keep = {});
// Decodes "%XX" escapes. Nullopt when an escape is malformed or the decoded bytes are
// not valid UTF-8.
std::optional<std::string> percentUnescape(std::string_view text);
bool isValidUTF8(std::string_view bytes);

}  // namespace net
