#include "ads/services/utilities.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ads/services/test_support.h"
#include "platform/foundation/notification_center.h"

using foundation::Dictionary;
using foundation::Value;

TEST(QMARunOnMainThread, RunsAtOnceOnMainAndLaterFromOtherThreads) {
  bool ran = false;
  QMARunOnMainThread([&] { ran = true; });
  EXPECT_TRUE(ran);

  std::atomic<bool> ranOnMain{false}, returned{false};
  std::thread([&] {
    QMARunOnMainThread([&] { ranOnMain = dispatch::isMainThread() && returned.load(); });
    returned = true;
  }).join();
  EXPECT_FALSE(ranOnMain);
  dispatch::RunLoop::main().drain();
  EXPECT_TRUE(ranOnMain);
}

TEST(QMAWeakReference, EqualByIdentityAlsoAfterTheObjectIsGoneButNeverForANewObjectAtTheSameAddress) {
  auto object = std::make_shared<int>(1);
  auto a = QMAWeakReference::initWithObject(object);
  auto b = QMAWeakReference::initWithObject(object);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, *b);
  EXPECT_EQ(a->hash(), b->hash());
  QMAWeakReference::Set set{*a, *b};
  EXPECT_EQ(set.size(), 1u);
  EXPECT_TRUE(QMAWeakReference::setContainsObject(set, object));
  EXPECT_FALSE(QMAWeakReference::initWithObject(nullptr));

  const void* address = object.get();
  object.reset();
  EXPECT_EQ(a->weakObject(), nullptr);
  EXPECT_EQ(*a, *b);
  EXPECT_NE(a->description().find("weakObject:(null)"), std::string::npos);

  // A new object may reuse the freed address; it must not count as the dead one.
  for (int i = 0; i < 64; ++i) {
    auto fresh = std::make_shared<int>(2);
    if (fresh.get() == address) {
      EXPECT_FALSE(QMAWeakReference::setContainsObject(set, fresh));
      break;
    }
  }
}

struct CacheSetTest : qma_test::DeviceRootTest {};

TEST_F(CacheSetTest, HoldsAtMostItsCapacityHandsObjectsOutOnceAndEmptiesOnMemoryWarnings) {
  auto set = QMACacheSet::initWithMaxCapacity(2);
  auto a = std::make_shared<int>(1), b = std::make_shared<int>(2), c = std::make_shared<int>(3);
  set->addObject(a);
  set->addObject(a);
  set->addObject(b);
  set->addObject(c);
  EXPECT_EQ(set->count(), 2u);
  auto taken = set->anyObject();
  EXPECT_TRUE(taken == a || taken == b);
  EXPECT_EQ(set->count(), 1u);

  set->addObject(c);
  EXPECT_EQ(set->count(), 2u);
  foundation::NotificationCenter::defaultCenter().postNotificationName(
      "UIApplicationDidReceiveMemoryWarningNotification");
  drainMain();
  EXPECT_EQ(set->count(), 0u);
  EXPECT_EQ(set->anyObject(), nullptr);

  auto none = QMACacheSet::initWithMaxCapacity(0);
  none->addObject(a);
  EXPECT_EQ(none->count(), 0u);
}

TEST(QMASession, UniqueIDIsDecimalAndDiffersBetweenSessions) {
  QMASession a, b;
  EXPECT_FALSE(a.uniqueID().empty());
  EXPECT_EQ(a.uniqueID().find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(std::to_string(std::stoull(a.uniqueID())), a.uniqueID());
  EXPECT_NE(a.uniqueID(), b.uniqueID());
}

TEST(InternalErrors, DomainCodesAndUserInfo) {
  auto e = qma_errorWithCodeDescription(2, "Internal error.");
  EXPECT_EQ(e.domain, "com.quillon.ads.private");
  EXPECT_EQ(e.localizedDescription(), "Internal error.");
  EXPECT_EQ(e.localizedFailureReason(), "Internal error.");
  EXPECT_TRUE(qma_errorWithCodeDescription(3, std::nullopt).userInfo.empty());
  EXPECT_EQ(qma_localizedDescriptionForErrorCode(1), "File could not be read.");
  EXPECT_EQ(qma_localizedDescriptionForErrorCode(3), "Invalid argument.");
  EXPECT_EQ(qma_localizedDescriptionForErrorCode(4), std::nullopt);
}

TEST(JSONHelpers, DecodeValidateAndMakeSafe) {
  Dictionary d{{"n", Value(1)}, {"s", Value("x")}};
  EXPECT_EQ(qma_objectForKeyIfIsKindOfClass(d, "n", QMAValueClass::String), nullptr);
  EXPECT_EQ(*qma_objectForKeyIfIsKindOfClass(d, "n", QMAValueClass::Number), Value(1));

  EXPECT_EQ(qma_decodedJSONObjectError("42"), Value(42));
  EXPECT_EQ(qma_decodedJSONObjectError("\"text\""), Value("text"));
  foundation::Error err;
  EXPECT_FALSE(qma_decodedJSONObjectError("{\"a\":1", &err));
  EXPECT_FALSE(err.domain.empty());

  EXPECT_EQ(qma_JSONStringPretty(d, false), "{\"n\":1,\"s\":\"x\"}");
  EXPECT_NE(qma_JSONStringPretty(d, true)->find('\n'), std::string::npos);
  foundation::Error invalid;
  EXPECT_FALSE(qma_JSONStringPretty({{"when", Value(foundation::Date{0})}}, false, &invalid));
  EXPECT_EQ(invalid.code, 2);
  EXPECT_EQ(invalid.localizedDescription(), "Invalid JSON object.");

  Dictionary nested{{"plain", Value(1)},
                    {"inner", Value(Dictionary{{"deep", Value(Dictionary{{"data", Value(foundation::Bytes{1, 2})}})}})},
                    {"list", Value(foundation::Array{Value(1), Value(foundation::Date{0})})}};
  auto safe = qma_JSONSafeDictionary(nested);
  EXPECT_TRUE(QMAIsValidJSONObject(Value(safe)));
  EXPECT_EQ(safe.at("plain"), Value(1));
  EXPECT_EQ(*safe.at("inner").get("deep")->get("data"), Value("<0102>"));
  EXPECT_TRUE(safe.at("list").asString());  // the whole list becomes its description
  EXPECT_EQ(qma_JSONSafeDictionary(d), d);
}

TEST(TextHelpers, NumberTextsDigestsAndURLStrings) {
  struct {
    double in;
    const char* out;
  } doubles[] = {{1.5, "1.5"}, {2.0, "2"}, {10.0, "10"}, {0.25, "0.25"}, {-0.0, "-0"}, {3.14, "3.14"}, {100.0, "100"}, {320.0, "320"}};
  for (auto c : doubles) EXPECT_EQ(QMAStringFromDouble(c.in), c.out) << c.in;
  EXPECT_EQ(QMAStringFromBOOL(true), "1");
  EXPECT_EQ(QMAStringFromBOOL(false), "0");

  EXPECT_EQ(qma_MD5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(qma_MD5Data("abc")->size(), 16u);
  EXPECT_EQ(qma_MD5String("\xff\xfe"), std::nullopt);  // not UTF-8

  EXPECT_TRUE(qma_isEquivalentToURLString("http://a/b/", "http://a/b"));
  EXPECT_FALSE(qma_isEquivalentToURLString("http://a/b//", "http://a/b"));
  EXPECT_EQ(qma_stripTrailingSlash(""), "");
}

TEST(TemplateMacros, FillReplacesMacrosKeepsEscapedSignsAndDropsUnfilledMacros) {
  struct {
    const char* templ;
    std::vector<std::pair<std::string, std::string>> values;
    const char* out;
  } cases[] = {
      {"a=@v@&b=@@word@@&c=@missing@", {{"v", "1"}}, "a=1&b=@word@&c="},
      {"@v@@v@", {{"v", "x"}}, "x"},  // "@@" between two macros is an escaped sign, not two closers
      {"mail@@host/@v@", {{"v", "p@q"}}, "mail@host/p@q"},  // a value's own "@" stays literal
      {"@@@v@@@", {{"v", "x"}}, "@x@"},
      {"$@v@\\", {{"v", "$1\\"}}, "$$1\\\\"},
      {"no macros", {}, "no macros"},
  };
  for (const auto& c : cases) EXPECT_EQ(QMAFillTemplate(c.templ, c.values), c.out) << c.templ;

  std::string s = "@k@";
  qma_replaceAtQuotedKeywordPatternWithString(s, std::nullopt, "x");
  qma_replaceAtQuotedKeywordPatternWithString(s, "k", std::nullopt);
  EXPECT_EQ(s, "@k@");
  EXPECT_EQ(qma_escapeAts("a@b"), "a@@b");
}

TEST(OrientationMasks, WordsAndBits) {
  EXPECT_EQ(QMAInterfaceOrientationMaskFromString("any"), 30u);
  EXPECT_EQ(QMAInterfaceOrientationMaskFromString("portrait"), 6u);
  EXPECT_EQ(QMAInterfaceOrientationMaskFromString("landscape"), 24u);
  EXPECT_EQ(QMAInterfaceOrientationMaskFromString("Portrait"), 0u);
  EXPECT_EQ(QMAInterfaceOrientationMaskFromString(""), 0u);
  EXPECT_EQ(QMAInterfaceOrientationMaskFromString(std::nullopt), 0u);
  EXPECT_TRUE(QMAOrientationMaskContainsOrientation(24, QMAInterfaceOrientationLandscapeLeft));
  EXPECT_FALSE(QMAOrientationMaskContainsOrientation(24, QMAInterfaceOrientationPortrait));
}
