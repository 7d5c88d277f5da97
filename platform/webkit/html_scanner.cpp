#include "platform/webkit/html_scanner.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "platform/uikit/web_view.h"

namespace webkit {
namespace {

char lowerChar(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = lowerChar(c);
  return out;
}

// Position of `needle` (lower case) in `hay` from `from`, ignoring case; npos if none.
std::size_t findNoCase(std::string_view hay, std::string_view needle, std::size_t from) {
  if (needle.empty() || hay.size() < needle.size()) return std::string_view::npos;
  for (std::size_t i = from; i + needle.size() <= hay.size(); ++i) {
    if (lowerChar(hay[i]) != needle[0]) continue;
    std::size_t k = 1;
    while (k < needle.size() && lowerChar(hay[i + k]) == needle[k]) ++k;
    if (k == needle.size()) return i;
  }
  return std::string_view::npos;
}

struct Tag {
  std::string name;  // lower case, "/name" for an end tag
  std::vector<std::pair<std::string, std::string>> attributes;
  std::size_t end = 0;  // index just past ">"
};

// Reads the tag starting at html[pos] == '<'. Nullopt when it is no tag (text "<").
std::optional<Tag> readTag(std::string_view html, std::size_t pos) {
  std::size_t i = pos + 1;
  Tag tag;
  bool closing = false;
  if (i < html.size() && html[i] == '/') {
    closing = true;
    ++i;
  }
  const std::size_t nameStart = i;
  while (i < html.size() && (std::isalnum(static_cast<unsigned char>(html[i])) || html[i] == '-')) ++i;
  if (i == nameStart) return std::nullopt;
  tag.name = (closing ? "/" : "") + lower(html.substr(nameStart, i - nameStart));
  while (i < html.size()) {
    while (i < html.size() && (std::isspace(static_cast<unsigned char>(html[i])) || html[i] == '/')) ++i;
    if (i >= html.size()) break;
    if (html[i] == '>') {
      tag.end = i + 1;
      return tag;
    }
    const std::size_t attrStart = i;
    while (i < html.size() && !std::isspace(static_cast<unsigned char>(html[i])) && html[i] != '=' &&
           html[i] != '>' && html[i] != '/')
      ++i;
    std::string name = lower(html.substr(attrStart, i - attrStart));
    while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i]))) ++i;
    std::string value;
    if (i < html.size() && html[i] == '=') {
      ++i;
      while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i]))) ++i;
      if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
        const char quote = html[i++];
        const std::size_t close = html.find(quote, i);
        if (close == std::string_view::npos) {
          i = html.size();
          break;
        }
        value = decodeHTMLEntities(html.substr(i, close - i));
        i = close + 1;
      } else {
        const std::size_t valueStart = i;
        while (i < html.size() && !std::isspace(static_cast<unsigned char>(html[i])) && html[i] != '>') ++i;
        value = decodeHTMLEntities(html.substr(valueStart, i - valueStart));
      }
    }
    if (!name.empty()) tag.attributes.emplace_back(std::move(name), std::move(value));
    if (i == attrStart) ++i;  // never stall on a stray character
  }
  tag.end = html.size();
  return tag;
}

const std::string* attribute(const Tag& tag, std::string_view name) {
  for (const auto& [k, v] : tag.attributes)
    if (k == name) return &v;
  return nullptr;
}

bool isScriptType(const std::string* type) {
  if (!type) return true;
  const std::string t = lower(*type);
  return t.empty() || t == "text/javascript" || t == "application/javascript" || t == "application/ecmascript" ||
         t == "text/ecmascript";
}

}  // namespace

std::string decodeHTMLEntities(std::string_view text) { return uikit::WebView::decodeCharacterReferences(text); }

HTMLDocumentParts scanHTML(std::string_view html, std::size_t maxScripts) {
  HTMLDocumentParts parts;
  std::optional<std::size_t> bodyStart, bodyEnd, headEnd;
  HTMLForm* openForm = nullptr;
  std::size_t i = 0;
  while (i < html.size()) {
    const std::size_t lt = html.find('<', i);
    if (lt == std::string_view::npos) break;
    if (html.substr(lt, 4) == "<!--") {
      const std::size_t close = html.find("-->", lt + 4);
      i = close == std::string_view::npos ? html.size() : close + 3;
      continue;
    }
    if (lt + 1 < html.size() && (html[lt + 1] == '!' || html[lt + 1] == '?')) {
      const std::size_t close = html.find('>', lt);
      i = close == std::string_view::npos ? html.size() : close + 1;
      continue;
    }
    auto tag = readTag(html, lt);
    if (!tag) {
      i = lt + 1;
      continue;
    }
    i = std::max(tag->end, lt + 1);
    const std::string& name = tag->name;
    if (name == "script" || name == "style" || name == "title" || name == "textarea") {
      // Raw text up to the matching end tag.
      const std::size_t close = findNoCase(html, "</" + name, i);
      const std::size_t textEnd = close == std::string_view::npos ? html.size() : close;
      const std::string_view text = html.substr(i, textEnd - i);
      if (name == "script" && isScriptType(attribute(*tag, "type"))) {
        if (parts.scripts.size() >= maxScripts) {
          ++parts.skippedScripts;
        } else {
          HTMLScript script;
          if (const auto* src = attribute(*tag, "src")) script.src = *src;
          else script.text = std::string(text);
          parts.scripts.push_back(std::move(script));
        }
      } else if (name == "title" && parts.title.empty()) {
        parts.title = decodeHTMLEntities(text);
      }
      if (close == std::string_view::npos) {
        i = html.size();
      } else {
        const std::size_t gt = html.find('>', close);
        i = gt == std::string_view::npos ? html.size() : gt + 1;
      }
      continue;
    }
    if (name == "body" && !bodyStart) bodyStart = i;
    else if (name == "/body" && bodyStart && !bodyEnd) bodyEnd = lt;
    else if (name == "/head" && !headEnd) headEnd = i;
    else if (name == "a") {
      if (const auto* href = attribute(*tag, "href")) parts.links.push_back(*href);
    } else if (name == "form") {
      HTMLForm form;
      if (const auto* action = attribute(*tag, "action")) form.action = *action;
      const auto* method = attribute(*tag, "method");
      form.method = method ? lower(*method) : "get";
      parts.forms.push_back(std::move(form));
      openForm = &parts.forms.back();
    } else if (name == "/form") {
      openForm = nullptr;
    } else if (name == "input" && openForm) {
      const auto* fieldName = attribute(*tag, "name");
      const auto* value = attribute(*tag, "value");
      if (fieldName) openForm->fields.emplace_back(*fieldName, value ? *value : "");
    }
  }
  if (bodyStart) {
    const std::size_t end = bodyEnd.value_or(html.size());
    parts.bodyHTML = std::string(html.substr(*bodyStart, end > *bodyStart ? end - *bodyStart : 0));
  } else {
    // No body tag: what follows the head is the body, without the document's own tags.
    std::string_view rest = html.substr(headEnd.value_or(0));
    std::string body;
    std::size_t k = 0;
    while (k < rest.size()) {
      const std::size_t lt = rest.find('<', k);
      if (lt == std::string_view::npos) {
        body.append(rest.substr(k));
        break;
      }
      body.append(rest.substr(k, lt - k));
      auto tag = rest.substr(lt, 2) == "<!" ? std::nullopt : readTag(rest, lt);
      if (rest.substr(lt, 2) == "<!") {
        const std::size_t gt = rest.find('>', lt);
        k = gt == std::string_view::npos ? rest.size() : gt + 1;
        continue;
      }
      if (tag && (tag->name == "html" || tag->name == "/html" || tag->name == "head" || tag->name == "/head")) {
        k = std::max(tag->end, lt + 1);
        continue;
      }
      body.push_back('<');
      k = lt + 1;
    }
    parts.bodyHTML = std::move(body);
  }
  return parts;
}

}  // namespace webkit
