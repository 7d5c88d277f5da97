#include "platform/net/url.h"

#include <gtest/gtest.h>

namespace net {
namespace {

TEST(URL, ReadsItsPartsWithoutDecodingThem) {
  struct Case {
    const char* text;
    std::optional<std::string> scheme, host;
    std::optional<int> port;
    std::string path;
    std::optional<std::string> query, fragment;
  };
  const Case cases[] = {
      {"http://h/p?a=1#f", "http", "h", {}, "/p", "a=1", "f"},
      {"https://user:pw@Host.Example:8080/a%2Fb?x=%20", "https", "Host.Example", 8080, "/a%2Fb", "x=%20", {}},
      {"http://h/p?", "http", "h", {}, "/p", "", {}},
      {"http://h/p#", "http", "h", {}, "/p", {}, ""},
      {"http://[::1]:81/", "http", "::1", 81, "/", {}, {}},
      {"http://h", "http", "h", {}, "", {}, {}},
      {"file:///tmp/x", "file", {}, {}, "/tmp/x", {}, {}},
      {"mailto:a@b.c", "mailto", {}, {}, "a@b.c", {}, {}},
      {"a/b?c", {}, {}, {}, "a/b", "c", {}},
      {"qomb://message?x=1", "qomb", "message", {}, "", "x=1", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto url = URL::fromString(c.text);
    ASSERT_TRUE(url);
    EXPECT_EQ(url->absoluteString(), c.text);
    EXPECT_EQ(url->scheme(), c.scheme);
    EXPECT_EQ(url->host(), c.host);
    EXPECT_EQ(url->port(), c.port);
    EXPECT_EQ(url->path(), c.path);
    EXPECT_EQ(url->query(), c.query);
    EXPECT_EQ(url->fragment(), c.fragment);
  }
}

TEST(URL, RefusesTextThatIsNoURL) {
  for (const char* text : {"", "a b", "http://h/%zz", "http://h/%4", "http://h/#a#b", "http://h:8x/",
                           "http://[::1/", "http://h/\xC3\xA9", "http://h/<>", "http://h/\"q\""}) {
    EXPECT_FALSE(URL::fromString(text)) << text;
  }
}

TEST(URL, PathComponentsStartWithTheRootAndAreDecoded) {
  using V = std::vector<std::string>;
  EXPECT_EQ(URL::fromString("http://h/x/y/z")->pathComponents(), (V{"/", "x", "y", "z"}));
  EXPECT_EQ(URL::fromString("http://h/x//y/")->pathComponents(), (V{"/", "x", "y"}));
  EXPECT_EQ(URL::fromString("http://h/a%20b/%FF")->pathComponents(), (V{"/", "a b", "%FF"}));
  EXPECT_EQ(URL::fromString("http://h")->pathComponents(), V{});
}

TEST(URL, ResolvesReferencesLikeABrowser) {
  auto base = URL::fromString("http://a/b/c/d;p?q");
  const std::pair<const char*, const char*> cases[] = {
      {"g", "http://a/b/c/g"},          {"./g", "http://a/b/c/g"},    {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},             {"//g", "http://g"},          {"?y", "http://a/b/c/d;p?y"},
      {"g?y#s", "http://a/b/c/g?y#s"},  {"", "http://a/b/c/d;p?q"},   {"../g", "http://a/b/g"},
      {"../../../g", "http://a/g"},     {"https://x/y/../z", "https://x/z"},
  };
  for (const auto& [ref, expected] : cases) EXPECT_EQ(base->resolve(ref)->absoluteString(), expected) << ref;
  EXPECT_FALSE(base->resolve("not a url"));
}

TEST(PercentEscaping, EscapesAllButUnreservedCharactersAndDecodesOnlyValidUTF8) {
  EXPECT_EQ(percentEscape("a b&c"), "a%20b%26c");
  EXPECT_EQ(percentEscape("!*'();:@&=+$,/?%#[]"), "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D");
  EXPECT_EQ(percentEscape("Az09-_.~"), "Az09-_.~");
  EXPECT_EQ(percentEscape("\xC3\xA9"), "%C3%A9");
  EXPECT_EQ(percentEscape("a/b c", "/"), "a/b%20c");

  EXPECT_EQ(percentUnescape("%2F%c3%a9+x"), "/\xC3\xA9+x");
  for (const char* bad : {"%", "%2", "%zz", "%C3", "%FF", "%ED%A0%80", "%C0%AF"}) EXPECT_FALSE(percentUnescape(bad)) << bad;
}

}  // namespace
}  // namespace net
