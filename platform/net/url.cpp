#include "platform/net/url.h"

#include <cctype>
#include <cstdint>

namespace net {

namespace {

bool isUnreserved(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~';
}

bool isURLCharacter(unsigned char c) {
  if (c >= 0x80 || !std::isgraph(c)) return false;
  switch (c) {
    case '"': case '<': case '>': case '\\': case '^': case '`': case '{': case '|': case '}':
      return false;
    default:
      return true;
  }
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string in) {
  std::string out;
  while (!in.empty()) {
    if (in.rfind("../", 0) == 0) {
      in.erase(0, 3);
    } else if (in.rfind("./", 0) == 0) {
      in.erase(0, 2);
    } else if (in.rfind("/./", 0) == 0) {
      in.erase(0, 2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.rfind("/../", 0) == 0 || in == "/..") {
      in = in.size() == 3 ? "/" : in.substr(3);
      auto slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
    } else if (in == "." || in == "..") {
      in.clear();
    } else {
      auto next = in.find('/', 1);
      out += in.substr(0, next);
      in.erase(0, next == std::string::npos ? in.size() : next);
    }
  }
  return out;
}

}  // namespace

std::optional<URL> URL::fromString(std::string_view text) {
  if (text.empty()) return std::nullopt;
  int hashes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!isURLCharacter(c)) return std::nullopt;
    if (c == '#' && ++hashes > 1) return std::nullopt;
    if (c == '%') {
      if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) return std::nullopt;
    }
  }

  URL url;
  url.text_ = std::string(text);
  const std::string& s = url.text_;
  std::size_t pos = 0;

  if (std::isalpha(static_cast<unsigned char>(s[0]))) {
    std::size_t i = 1;
    while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '+' || s[i] == '-' || s[i] == '.'))
      ++i;
    if (i < s.size() && s[i] == ':') {
      url.scheme_ = {0, i, true};
      pos = i + 1;
    }
  }

  if (s.compare(pos, 2, "//") == 0) {
    std::size_t begin = pos + 2;
    std::size_t end = s.find_first_of("/?#", begin);
    if (end == std::string::npos) end = s.size();
    url.authority_ = {begin, end, true};
    std::size_t hostBegin = begin;
    auto at = s.rfind('@', end - 1);
    if (at != std::string::npos && at >= begin && end > begin) hostBegin = at + 1;
    std::size_t hostEnd;
    std::size_t portColon = std::string::npos;
    if (hostBegin < end && s[hostBegin] == '[') {
      auto close = s.find(']', hostBegin);
      if (close == std::string::npos || close >= end) return std::nullopt;
      url.host_ = {hostBegin + 1, close, close > hostBegin + 1};
      hostEnd = close + 1;
      if (hostEnd < end) {
        if (s[hostEnd] != ':') return std::nullopt;
        portColon = hostEnd;
      }
    } else {
      auto colon = s.find(':', hostBegin);
      hostEnd = (colon == std::string::npos || colon >= end) ? end : colon;
      if (hostEnd < end) portColon = hostEnd;
      url.host_ = {hostBegin, hostEnd, hostEnd > hostBegin};
    }
    if (portColon != std::string::npos) {
      for (std::size_t i = portColon + 1; i < end; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return std::nullopt;
      if (end - portColon - 1 > 5) return std::nullopt;
      url.port_ = {portColon + 1, end, end > portColon + 1};
    }
    pos = end;
  }

  std::size_t pathEnd = s.find_first_of("?#", pos);
  if (pathEnd == std::string::npos) pathEnd = s.size();
  url.path_ = {pos, pathEnd, true};
  pos = pathEnd;
  if (pos < s.size() && s[pos] == '?') {
    std::size_t qEnd = s.find('#', pos);
    if (qEnd == std::string::npos) qEnd = s.size();
    url.query_ = {pos + 1, qEnd, true};
    pos = qEnd;
  }
  if (pos < s.size() && s[pos] == '#') url.fragment_ = {pos + 1, s.size(), true};
  return url;
}

std::optional<std::string> URL::scheme() const {
  if (!scheme_.present) return std::nullopt;
  return part(scheme_);
}

std::optional<std::string> URL::host() const {
  if (!host_.present) return std::nullopt;
  return part(host_);
}

std::optional<int> URL::port() const {
  if (!port_.present) return std::nullopt;
  return std::stoi(part(port_));
}

std::string URL::path() const { return part(path_); }

std::optional<std::string> URL::query() const {
  if (!query_.present) return std::nullopt;
  return part(query_);
}

std::optional<std::string> URL::fragment() const {
  if (!fragment_.present) return std::nullopt;
  return part(fragment_);
}

std::vector<std::string> URL::pathComponents() const {
  std::vector<std::string> out;
  std::string p = path();
  if (p.empty()) return out;
  if (p[0] == '/') out.push_back("/");
  std::size_t pos = 0;
  while (pos <= p.size()) {
    auto next = p.find('/', pos);
    if (next == std::string::npos) next = p.size();
    if (next > pos) {
      auto raw = p.substr(pos, next - pos);
      out.push_back(percentUnescape(raw).value_or(raw));
    }
    pos = next + 1;
  }
  return out;
}

bool URL::isHTTP() const {
  auto s = scheme();
  if (!s) return false;
  std::string lower;
  for (char c : *s) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "http" || lower == "https";
}

std::optional<URL> URL::resolve(std::string_view reference) const {
  std::optional<URL> ref;
  if (reference.empty()) {
    ref = URL();  // the empty reference: this URL without its fragment
    ref->path_.present = true;
  } else {
    ref = fromString(reference);
  }
  if (!ref) return std::nullopt;
  auto base = *this;
  std::string scheme, authority, path, query;
  bool hasAuthority = false, hasQuery = false;
  if (ref->scheme_.present) {
    scheme = ref->part(ref->scheme_);
    hasAuthority = ref->authority_.present;
    authority = ref->part(ref->authority_);
    path = removeDotSegments(ref->path());
    hasQuery = ref->query_.present;
    query = ref->part(ref->query_);
  } else {
    if (!base.scheme_.present) return std::nullopt;
    scheme = base.part(base.scheme_);
    if (ref->authority_.present) {
      hasAuthority = true;
      authority = ref->part(ref->authority_);
      path = removeDotSegments(ref->path());
      hasQuery = ref->query_.present;
      query = ref->part(ref->query_);
    } else {
      hasAuthority = base.authority_.present;
      authority = base.part(base.authority_);
      if (ref->path().empty()) {
        path = base.path();
        hasQuery = ref->query_.present || base.query_.present;
        query = ref->query_.present ? ref->part(ref->query_) : base.part(base.query_);
      } else {
        if (ref->path()[0] == '/') {
          path = removeDotSegments(ref->path());
        } else {
          std::string merged;
          if (hasAuthority && base.path().empty()) {
            merged = "/" + ref->path();
          } else {
            auto bp = base.path();
            auto slash = bp.rfind('/');
            merged = (slash == std::string::npos ? std::string() : bp.substr(0, slash + 1)) + ref->path();
          }
          path = removeDotSegments(merged);
        }
        hasQuery = ref->query_.present;
        query = ref->part(ref->query_);
      }
    }
  }
  std::string out = scheme + ":";
  if (hasAuthority) out += "//" + authority;
  out += path;
  if (hasQuery) out += "?" + query;
  if (ref->fragment_.present) out += "#" + ref->part(ref->fragment_);
  return fromString(out);
}

std::string percentEscape(std::string_view text, std::string_view keep) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if ((c < 0x80 && isUnreserved(c)) || (c != 0 && keep.find(ch) != std::string_view::npos)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::optional<std::string> percentUnescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (!isValidUTF8(out)) return std::nullopt;
  return out;
}

bool isValidUTF8(std::string_view bytes) {
  std::size_t i = 0, n = bytes.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len;
    std::uint32_t cp;
    if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
    else return false;
    if (i + len > n) return false;
    for (int k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(bytes[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

}  // namespace net
