#include "ads/services/url_utilities.h"

#include <cctype>

#include "platform/foundation/format.h"

void QMALinkCategoryNSStringURLEncoding() {}
void QMALinkCategoryNSURLUtilities() {}
void QMALinkCategoryNSURLRequestUtilities() {}

namespace {

std::vector<std::string_view> split(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || separators.find(text[i]) != std::string_view::npos) {
      pieces.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return pieces;
}

std::string lowercase(std::string_view text) {
  std::string out(text);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool equalMaybeIgnoringCase(std::string_view a, std::string_view b, bool caseSensitive) {
  return caseSensitive ? a == b : lowercase(a) == lowercase(b);
}

}  // namespace

std::string qma_stringByEscapingAsURLParameter(std::string_view text) { return net::percentEscape(text); }

std::optional<net::URL> qma_appendQueryParameters(const net::URL& url, const QMAQueryParameters& parameters) {
  std::string head = url.absoluteString();
  std::string fragmentTail;
  if (auto fragment = url.fragment()) {
    fragmentTail = head.substr(head.size() - fragment->size() - 1);
    head.resize(head.size() - fragmentTail.size());
  }
  auto query = url.query();
  const char* separator = query && !query->empty() ? "&" : query ? "" : "?";

  std::string tail;
  if (auto cut = head.find("&adurl="); cut != std::string::npos) {
    tail = head.substr(cut);
    head.resize(cut);
  }
  for (const auto& [key, value] : parameters) {
    head += separator;
    separator = "&";
    head += key;
    auto escaped = qma_stringByEscapingAsURLParameter(foundation::description(value));
    if (!escaped.empty()) {
      head += '=';
      head += escaped;
    }
  }
  return net::URL::fromString(head + tail + fragmentTail);
}

std::optional<net::URL> qma_appendQueryParameters(const net::URL& url, const foundation::Dictionary& parameters) {
  return qma_appendQueryParameters(url, QMAQueryParameters(parameters.begin(), parameters.end()));
}

std::optional<net::URL> qma_appendQueryValueForKey(const net::URL& url, const std::optional<std::string>& value,
                                                   const std::string& key) {
  return qma_appendQueryParameters(url, QMAQueryParameters{{key, value.value_or("")}});
}

std::optional<std::string> qma_parameterValueForKey(const net::URL& url, std::string_view key) {
  auto query = url.query();
  if (!query) return std::nullopt;
  for (auto piece : split(*query, "&")) {
    auto parts = split(piece, "=");
    if (parts.size() == 2 && parts[0] == key) return std::string(parts[1]);
  }
  return std::nullopt;
}

foundation::Dictionary qma_dictionaryFromQueryParametersAndConvertKeysToLowercase(const net::URL& url,
                                                                                   bool convertKeysToLowercase) {
  foundation::Dictionary out;
  auto query = url.query();
  if (!query) return out;
  for (auto piece : split(*query, "&;")) {
    auto parts = split(piece, "=");
    if (parts.size() != 2) continue;
    auto key = net::percentUnescape(parts[0]);
    auto value = net::percentUnescape(parts[1]);
    if (!key || !value) continue;
    out[convertKeysToLowercase ? lowercase(*key) : *key] = std::move(*value);
  }
  return out;
}

std::optional<std::string> qma_impressionTicket(const net::URL& url) {
  auto components = url.pathComponents();
  if (components.size() < 4) return std::nullopt;
  return components[2] + "/" + components[3];
}

std::string qma_absoluteStringWithoutFragmentComponent(const net::URL& url) {
  const std::string& text = url.absoluteString();
  auto fragment = url.fragment();
  if (!fragment) return text;
  return text.substr(0, text.size() - fragment->size() - 1);
}

bool qma_isHostEqualToStringCaseSensitive(const net::URL& url, std::string_view host, bool caseSensitive) {
  auto own = url.host();
  return own && equalMaybeIgnoringCase(*own, host, caseSensitive);
}

bool qma_isSchemeEqualToStringCaseSensitive(const net::URL& url, std::string_view scheme, bool caseSensitive) {
  auto own = url.scheme();
  return own && equalMaybeIgnoringCase(*own, scheme, caseSensitive);
}
