#include "platform/uikit/web_view.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "platform/foundation/value.h"

namespace uikit {
namespace {

// A character reference to U+0000 reads as U+FFFD, as in browsers.
void appendHTMLCodePoint(std::string& out, std::uint32_t c) { foundation::appendUTF8(out, c == 0 ? 0xFFFD : c); }

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool isBlock(const std::string& tag) {
  static const char* const kBlocks[] = {"p",  "div", "br", "li", "ul", "ol", "h1", "h2", "h3", "h4", "h5", "h6",
                                        "tr", "table", "section", "article", "header", "footer", "blockquote", "pre",
                                        "title", "hr", "dd", "dt", "nav", "aside", "main", "form"};
  return std::any_of(std::begin(kBlocks), std::end(kBlocks), [&](const char* b) { return tag == b; });
}

// Decodes the character reference that starts at html[i] ('&'); returns the characters consumed.
size_t decodeReference(std::string_view html, size_t i, std::string& out) {
  const size_t semi = html.find(';', i);
  if (semi == std::string_view::npos || semi - i > 10) {
    out.push_back('&');
    return 1;
  }
  const std::string_view name = html.substr(i + 1, semi - i - 1);
  static const std::pair<const char*, std::uint32_t> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0}};
  for (auto [n, c] : kNamed) {
    if (name == n) {
      appendHTMLCodePoint(out, c);
      return semi - i + 1;
    }
  }
  if (name.size() > 1 && name[0] == '#') {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string digits(name.substr(hex ? 2 : 1));
    if (!digits.empty() && digits.size() <= 8 &&
        std::all_of(digits.begin(), digits.end(), [&](unsigned char c) { return hex ? std::isxdigit(c) : std::isdigit(c); })) {
      appendHTMLCodePoint(out, static_cast<std::uint32_t>(std::stoul(digits, nullptr, hex ? 16 : 10)));
      return semi - i + 1;
    }
  }
  out.push_back('&');
  return 1;
}

}  // namespace

std::string WebView::decodeCharacterReferences(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '&') {
      i += decodeReference(text, i, out);
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

std::string WebView::stringByEvaluatingJavaScriptFromString(std::string_view script) {
  if (script == "document.body.innerText") return innerTextOfHTML(html_);
  return {};
}

std::string WebView::innerTextOfHTML(std::string_view html) {
  // Only the body counts when there is one.
  const std::string lowered = lower(html);
  size_t begin = 0, end = html.size();
  if (size_t body = lowered.find("<body"); body != std::string::npos) {
    const size_t open = lowered.find('>', body);
    begin = open == std::string::npos ? html.size() : open + 1;
    if (size_t close = lowered.find("</body", begin); close != std::string::npos) end = close;
  }
  std::string out;
  bool pendingSpace = false;
  auto newline = [&] {
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (!out.empty() && out.back() != '\n') out.push_back('\n');
    pendingSpace = false;
  };
  for (size_t i = begin; i < end;) {
    const char c = html[i];
    if (c == '<') {
      const size_t close = html.find('>', i);
      if (close == std::string_view::npos) break;
      std::string tag = lower(html.substr(i + 1, close - i - 1));
      const bool closing = !tag.empty() && tag[0] == '/';
      if (closing) tag.erase(0, 1);
      tag = tag.substr(0, tag.find_first_of(" \t\r\n/"));
      i = close + 1;
      if (!closing && (tag == "script" || tag == "style")) {
        const size_t skip = lowered.find("</" + tag, i);
        const size_t skipEnd = skip == std::string::npos ? std::string::npos : lowered.find('>', skip);
        i = skipEnd == std::string::npos ? end : skipEnd + 1;
        continue;
      }
      if (isBlock(tag)) newline();
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      pendingSpace = true;
      ++i;
      continue;
    }
    if (pendingSpace && !out.empty() && out.back() != '\n') out.push_back(' ');
    pendingSpace = false;
    if (c == '&') {
      i += decodeReference(html, i, out);
    } else {
      out.push_back(c);
      ++i;
    }
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

}  // namespace uikit
