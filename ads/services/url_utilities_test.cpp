#include "ads/services/url_utilities.h"

#include <gtest/gtest.h>

#include "ads/services/device.h"

namespace {

net::URL url(const char* text) { return *net::URL::fromString(text); }

TEST(URLUtilities, AppendsParametersToTheQueryKeepingAClickDestinationLast) {
  struct Case {
    const char* base;
    QMAQueryParameters parameters;
    const char* expected;
  };
  const Case cases[] = {
      {"http://h/p", {{"k", "v"}}, "http://h/p?k=v"},
      {"http://h/p?a=1", {{"k", "v"}}, "http://h/p?a=1&k=v"},
      {"http://h/c?a=1&adurl=http://x/y?z=1", {{"k", "v"}, {"j", 2}}, "http://h/c?a=1&k=v&j=2&adurl=http://x/y?z=1"},
      {"http://h/p", {{"empty", ""}, {"k", "a b&c"}}, "http://h/p?empty&k=a%20b%26c"},
      {"http://h/p", {{"k", "!*'();:@&=+$,/?%#[]"}},
       "http://h/p?k=%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D"},
      // The query ends before a fragment, and a bare "?" takes the first pair directly.
      {"http://h/p?a=1#frag", {{"k", "v"}}, "http://h/p?a=1&k=v#frag"},
      {"http://h/p#", {{"k", "v"}}, "http://h/p?k=v#"},
      {"http://h/p?", {{"k", "v"}, {"j", "w"}}, "http://h/p?k=v&j=w"},
  };
  for (const auto& c : cases) {
    auto result = qma_appendQueryParameters(url(c.base), c.parameters);
    ASSERT_TRUE(result) << c.base;
    EXPECT_EQ(result->absoluteString(), c.expected);
  }
  EXPECT_EQ(qma_appendQueryValueForKey(url("http://h/p"), std::nullopt, "k")->absoluteString(), "http://h/p?k");
  // Keys go in unescaped: one that no URL may hold makes no URL.
  EXPECT_FALSE(qma_appendQueryValueForKey(url("http://h/p"), "v", "a key"));
}

TEST(URLUtilities, ReadsParametersRawOrUnescapedIntoADictionary) {
  auto u = url("http://h/p?a=1&a=2&only&x=1=2&e=%2F");
  EXPECT_EQ(qma_parameterValueForKey(u, "a"), "1");
  EXPECT_EQ(qma_parameterValueForKey(u, "e"), "%2F");
  EXPECT_FALSE(qma_parameterValueForKey(u, "only"));
  EXPECT_FALSE(qma_parameterValueForKey(u, "x"));
  EXPECT_FALSE(qma_parameterValueForKey(u, "A"));
  EXPECT_FALSE(qma_parameterValueForKey(url("http://h/p"), "a"));

  auto d = qma_dictionaryFromQueryParametersAndConvertKeysToLowercase(url("http://h/?A=1;b=%2F&c=%FF&d=2&d=3&e"), true);
  EXPECT_EQ(d, (foundation::Dictionary{{"a", "1"}, {"b", "/"}, {"d", "3"}}));
  auto kept = qma_dictionaryFromQueryParametersAndConvertKeysToLowercase(url("http://h/?A=1"), false);
  EXPECT_EQ(kept, (foundation::Dictionary{{"A", "1"}}));
  EXPECT_TRUE(qma_dictionaryFromQueryParametersAndConvertKeysToLowercase(url("http://h/p"), true).empty());
}

TEST(URLUtilities, TicketsFragmentsHostsAndSchemes) {
  EXPECT_FALSE(qma_impressionTicket(url("http://h/x/y")));
  EXPECT_EQ(qma_impressionTicket(url("http://h/x/y/z/w")), "y/z");

  EXPECT_EQ(qma_absoluteStringWithoutFragmentComponent(url("http://h/p?q#frag")), "http://h/p?q");
  EXPECT_EQ(qma_absoluteStringWithoutFragmentComponent(url("http://h/p#")), "http://h/p");
  EXPECT_EQ(qma_absoluteStringWithoutFragmentComponent(url("http://h/p")), "http://h/p");

  EXPECT_TRUE(qma_isHostEqualToStringCaseSensitive(url("http://Ads.Example/"), "ads.example", false));
  EXPECT_FALSE(qma_isHostEqualToStringCaseSensitive(url("http://Ads.Example/"), "ads.example", true));
  EXPECT_FALSE(qma_isHostEqualToStringCaseSensitive(url("mailto:x@y"), "", false));
  EXPECT_TRUE(qma_isSchemeEqualToStringCaseSensitive(url("QOMB://x"), "qomb", false));
  EXPECT_FALSE(qma_isSchemeEqualToStringCaseSensitive(url("QOMB://x"), "qomb", true));
  EXPECT_FALSE(qma_isSchemeEqualToStringCaseSensitive(url("//x/y"), "", false));
}

TEST(URLUtilities, BuildsRequestsWithTheDeviceUserAgentAndABodyOnlyWithItsType) {
  EXPECT_FALSE(qma_requestForURLDataHeadersType(std::nullopt, std::nullopt, std::nullopt, std::nullopt));
  // The shared device may already carry a user agent from an earlier test in this
  // process, and an empty one never clears it; the caller's header stands only without one.
  auto device = QMADevice::sharedInstance();
  device->setUserAgentString(std::nullopt);
  const std::string expectedAgent = device->userAgentString().value_or("given");
  auto plain = qma_requestForURLDataHeadersType(url("http://h/p"), std::nullopt,
                                                net::HTTPHeaders{{"User-Agent", "given"}, {"X-A", "1"}}, std::nullopt);
  EXPECT_EQ(plain->method, "GET");
  EXPECT_EQ(plain->headers.get("User-Agent"), expectedAgent);
  EXPECT_EQ(plain->timeoutInterval, 60);

  device->setUserAgentString("Mozilla/5.0 (test)");
  foundation::Bytes body{'{', '"', 0xC3, 0xA9, '"', '}'};
  auto post = qma_requestForURLDataHeadersType(url("http://h/p"), body, net::HTTPHeaders{{"User-Agent", "given"}},
                                               "application/json");
  EXPECT_EQ(post->method, "POST");
  EXPECT_EQ(post->body, body);
  EXPECT_EQ(post->headers.get("Content-Length"), "6");
  EXPECT_EQ(post->headers.get("Content-Type"), "application/json");
  EXPECT_EQ(post->headers.get("User-Agent"), "Mozilla/5.0 (test)");

  auto dataOnly = qma_requestForURLDataHeadersType(url("http://h/p"), body, std::nullopt, std::nullopt);
  EXPECT_EQ(dataOnly->method, "GET");
  EXPECT_FALSE(dataOnly->body);
  device->setUserAgentString(std::nullopt);
}

}  // namespace
