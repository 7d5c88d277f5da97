#include "platform/unicode/charset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "Café crème" in Latin-1 and in UTF-8.
const std::string kLatin1 = "Caf\xE9 cr\xE8me";
const std::string kUTF8 = "Caf\xC3\xA9 cr\xC3\xA8me";

TEST(Charset, DocumentsAreReadByWhatTheyDeclare) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string contentType;
    std::string text;
  };
  const Case cases[] = {
      {"UTF-8 by default", kUTF8, "text/html", kUTF8},
      {"the answer's charset", kLatin1, "text/html; charset=iso-8859-1", kUTF8},
      {"quoted, upper case, among other parameters", kLatin1, "text/html;foo=bar; CHARSET=\"Latin1\"", kUTF8},
      {"Latin-1 reads as windows-1252", "\x93quoted\x94 \x80", "text/html; charset=ISO-8859-1",
       "\xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x82\xAC"},
      {"<meta charset>", "<html><head><meta charset=\"iso-8859-1\"></head><body>" + kLatin1, "text/html",
       "<html><head><meta charset=\"iso-8859-1\"></head><body>" + kUTF8},
      {"<meta http-equiv>", "<meta content='text/html; charset=windows-1252' http-equiv=Content-Type>" + kLatin1, "",
       "<meta content='text/html; charset=windows-1252' http-equiv=Content-Type>" + kUTF8},
      {"the answer's charset wins over the meta", "<meta charset=latin1>" + kUTF8, "text/html; charset=utf-8",
       "<meta charset=latin1>" + kUTF8},
      {"a byte order mark wins over both", "\xEF\xBB\xBF<meta charset=latin1>" + kUTF8, "text/html; charset=latin1",
       "<meta charset=latin1>" + kUTF8},
      {"UTF-16 by its mark", std::string("\xFF\xFE" "C\0a\0f\0\xE9\0", 10), "text/html", kUTF8.substr(0, 5)},
      {"UTF-16 by the answer", std::string("C\0a\0f\0\xE9\0", 8), "text/html; charset=utf-16le", kUTF8.substr(0, 5)},
      {"a meta cannot declare UTF-16", "<meta charset=utf-16>" + kUTF8, "text/html", "<meta charset=utf-16>" + kUTF8},
      {"a meta in a comment counts for nothing", "<!-- <meta charset=latin1> -->" + kUTF8, "",
       "<!-- <meta charset=latin1> -->" + kUTF8},
      {"a '>' in another tag's attribute does not end it", "<p title='>'><meta charset=latin1>" + kLatin1, "",
       "<p title='>'><meta charset=latin1>" + kUTF8},
      {"not looked for past the prefix", std::string(1100, ' ') + "<meta charset=latin1>" + kLatin1, "",
       std::string(1100, ' ') + "<meta charset=latin1>Caf\xEF\xBF\xBD cr\xEF\xBF\xBDme"},
      {"only HTML carries a meta", "<meta charset=latin1>" + kLatin1, "application/json",
       "<meta charset=latin1>Caf\xEF\xBF\xBD cr\xEF\xBF\xBDme"},
      {"bad bytes become replacement characters", "ok\xFF\xC3", "text/html", "ok\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"an unknown charset reads as UTF-8", kUTF8, "text/html; charset=no-such-thing", kUTF8},
      {"UTF-7 is never honoured", "+ADw-script+AD4-", "text/html; charset=utf-7", "+ADw-script+AD4-"},
      {"nor a charset that is not ASCII's superset", "<p>", "text/html; charset=ibm-037", "<p>"},
      {"other charsets ICU knows", "\x82\xA0", "text/html; charset=Shift_JIS", "\xE3\x81\x82"},
      {"windows-1251", "\xCF\xF0\xE8", "text/html; charset=windows-1251", "\xD0\x9F\xD1\x80\xD0\xB8"},
      {"empty", "", "text/html; charset=latin1", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(unicode::decodeDocument(c.bytes, c.contentType), c.text) << c.what;
}

TEST(Charset, DeclarationsAreReadAsBrowsersReadThem) {
  EXPECT_EQ(unicode::charsetFromContentType("text/html; charset=UTF-8"), "UTF-8");
  EXPECT_EQ(unicode::charsetFromContentType("text/html; charset = 'koi8-r' ; q=1"), "koi8-r");
  EXPECT_EQ(unicode::charsetFromContentType("text/html"), "");
  EXPECT_EQ(unicode::charsetFromContentType("text/html; charset"), "");
  EXPECT_EQ(unicode::charsetFromHTMLPrefix("<META CHARSET = 'EUC-KR' >"), "EUC-KR");
  EXPECT_EQ(unicode::charsetFromHTMLPrefix("<meta/charset=latin1 />"), "latin1");
  EXPECT_EQ(unicode::charsetFromHTMLPrefix("<metadata charset=latin1>"), "");
  EXPECT_EQ(unicode::charsetFromHTMLPrefix("<meta http-equiv=refresh content='0; charset=latin1'>"), "");
  EXPECT_EQ(unicode::charsetFromHTMLPrefix("<meta name=x><meta charset=nonsense><meta charset=latin1>"), "latin1");
  EXPECT_EQ(unicode::charsetFromHTMLPrefix("<meta charset=\"latin1"), "");
  EXPECT_EQ(unicode::canonicalCharset(" ISO-8859-1 "), "windows-1252");
  EXPECT_EQ(unicode::canonicalCharset("utf8"), "UTF-8");
  EXPECT_EQ(unicode::canonicalCharset("UTF-7"), "");
  EXPECT_EQ(unicode::canonicalCharset("x\"; rm"), "");
  EXPECT_EQ(unicode::canonicalCharset(std::string(100, 'a')), "");

  // What a document is read by, "" meaning it declares nothing a browser honours.
  EXPECT_EQ(unicode::documentCharset("\xEF\xBB\xBFx", "text/html; charset=latin1"), "UTF-8");
  EXPECT_EQ(unicode::documentCharset("\xFF\xFEx", ""), "UTF-16LE");
  EXPECT_EQ(unicode::documentCharset("x", "text/html; charset=latin1"), "windows-1252");
  EXPECT_EQ(unicode::documentCharset("x", "text/html; charset=utf-8"), "UTF-8");
  EXPECT_EQ(unicode::documentCharset("<meta charset=latin1>", ""), "windows-1252");
  EXPECT_EQ(unicode::documentCharset("<meta charset=latin1>", "application/json"), "");
  EXPECT_EQ(unicode::documentCharset("x", "text/html; charset=no-such-thing"), "");
  EXPECT_EQ(unicode::documentCharset("x", "text/plain"), "");
}

// Text longer than one converter buffer comes out whole.
TEST(Charset, LongTextsConvertWhole) {
  std::string latin1, utf8;
  for (int i = 0; i < 20000; ++i) {
    latin1 += kLatin1;
    utf8 += kUTF8;
  }
  EXPECT_EQ(unicode::utf8FromCharset(latin1, "latin1"), utf8);
}

}  // namespace
