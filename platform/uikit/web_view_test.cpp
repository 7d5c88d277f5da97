#include "platform/uikit/web_view.h"

#include <gtest/gtest.h>

#include "platform/uikit/text_view.h"

namespace uikit {
namespace {

TEST(WebViewText, InnerTextOfTheBody) {
  struct Case {
    const char* html;
    const char* text;
  };
  const Case cases[] = {
      {"<html><head><title>T</title></head><body><p>Hello <b>big</b>\n  world</p><p>Second</p></body></html>",
       "Hello big world\nSecond"},
      {"plain <i>text</i>", "plain text"},
      {"<body>a<br>b<script>var x = '<p>no</p>';</script><style>p{}</style> c</body>", "a\nb c"},
      {"<body>fish &amp; chips &lt;3 &#x6771;&#20140; &bogus; &</body>", "fish & chips <3 \xe6\x9d\xb1\xe4\xba\xac &bogus; &"},
      {"<body><div>unclosed <", "unclosed"},
      {"<body>x<script>never closed</script", "x"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(WebView::innerTextOfHTML(c.html), c.text) << c.html;

  WebView web;
  web.loadHTMLString("<body><h1>News</h1>of the day</body>");
  EXPECT_EQ(web.stringByEvaluatingJavaScriptFromString("document.body.innerText"), "News\nof the day");
  EXPECT_EQ(web.stringByEvaluatingJavaScriptFromString("document.title"), "");
}

TEST(WebViewText, TextViewsHoldTheirText) {
  auto text = std::make_shared<TextView>(Rect{0, 0, 100, 40});
  text->setText("one\ntwo");
  EXPECT_EQ(text->text(), "one\ntwo");
  EXPECT_EQ(text->className(), "TextView");
}

}  // namespace
}  // namespace uikit
