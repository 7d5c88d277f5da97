#pragma once
// URL helpers of the ad component: escaping query values, adding and reading query
// parameters (a click URL's "&adurl=" destination always stays last), comparing hosts
// and schemes, and building requests that carry the component's user agent.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/net/http.h"
#include "platform/net/url.h"

// Empty link anchors of the three helper groups.
void QMALinkCategoryNSStringURLEncoding();
void QMALinkCategoryNSURLUtilities();
void QMALinkCategoryNSURLRequestUtilities();

// Every character percent-escaped (UTF-8, upper-case hexadecimal) except ASCII letters,
// digits, "-", "_", "." and "~"; an existing "%" is escaped again.
std::string qma_stringByEscapingAsURLParameter(std::string_view text);

// Query parameters in the order they are to be written.
using QMAQueryParameters = std::vector<std::pair<std::string, foundation::Value>>;

// Appends each key unescaped and, when its value's escaped text is not empty, "=" and that
// text. The parameters go into the query even when the URL has a fragment (which stays at
// the end) or a bare "?"; an "&adurl=" tail is put back after them. Nullopt when the
// result is no URL.
std::optional<net::URL> qma_appendQueryParameters(const net::URL& url, const QMAQueryParameters& parameters);
// The same in the dictionary's own (key) order.
std::optional<net::URL> qma_appendQueryParameters(const net::URL& url, const foundation::Dictionary& parameters);
// A missing value counts as the empty string.
std::optional<net::URL> qma_appendQueryValueForKey(const net::URL& url, const std::optional<std::string>& value,
                                                   const std::string& key);

// The raw value of the first "key=value" piece of the query whose key matches exactly;
// pieces with no "=" or more than one never match.
std::optional<std::string> qma_parameterValueForKey(const net::URL& url, std::string_view key);
// Every "key=value" piece between "&" and ";", both sides unescaped (a pair that does not
// unescape is skipped); a later key replaces an earlier one. String values.
foundation::Dictionary qma_dictionaryFromQueryParametersAndConvertKeysToLowercase(const net::URL& url,
                                                                                   bool convertKeysToLowercase);
// The third and fourth path components ("/" counts as the first) joined by "/".
std::optional<std::string> qma_impressionTicket(const net::URL& url);
std::string qma_absoluteStringWithoutFragmentComponent(const net::URL& url);
// A URL without host (or scheme) never matches.
bool qma_isHostEqualToStringCaseSensitive(const net::URL& url, std::string_view host, bool caseSensitive);
bool qma_isSchemeEqualToStringCaseSensitive(const net::URL& url, std::string_view scheme, bool caseSensitive);
