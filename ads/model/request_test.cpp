#include "ads/model/request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "ads/model/kvr_request.h"
#include "ads/model/search_request.h"
#include "ads/model/test_support.h"
#include "ads/services/device.h"
#include "ads/services/logging.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/format.h"
#include "platform/foundation/log.h"
#include "platform/system/device_facts.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

// The request's own part of its parameters: the device and network keys, which the
// device facts own, are taken out.
Dictionary ownParameters(QMARequest& request) {
  Dictionary p = request.parameters();
  for (const auto& [key, value] : QMADevice::sharedInstance()->parameters()) p.erase(key);
  for (const char* key : {"net", "net_last", "adapters"}) p.erase(key);
  return p;
}

std::shared_ptr<QMAExtras> extrasWith(Dictionary parameters) {
  auto extras = QMAExtras::init();
  extras->setAdditionalParameters(std::move(parameters));
  return extras;
}

struct Requests : model_test::ModelTest {
  std::string zone;
  void SetUp() override {
    ModelTest::SetUp();
    zone = foundation::Calendar::localTimeZoneName();
  }
  void TearDown() override {
    foundation::Calendar::setLocalTimeZone(zone);
    QMARequest::setRequestSignalSource(nullptr);
    system_facts::resetDeviceFacts();
    ModelTest::TearDown();
  }
};

TEST_F(Requests, TheParameterDictionaryOfRepresentativeRequests) {
  const std::string js = "qvra-sdk-i-v7.4.1";
  const std::string deviceID = QMADevice::sharedInstance()->deviceIdentifier();
  struct Case {
    const char* name;
    std::function<void(QMARequest&)> fill;
    Dictionary expected;
  };
  const Case cases[] = {
      {"fresh", [](QMARequest&) {}, {{"js", js}}},
      {"every targeting field",
       [](QMARequest& r) {
         r.setGender(QMAGenderFemale);
         r.setBirthdayWithMonthDayYear(5, 1, 1990);
         r.setKeywords(std::vector<std::string>{"sailing", "boats"});
         r.tagForChildDirectedTreatment(false);
         r.setContentURL(" \n http://news.example/story \t");
         r.setRequestAgent("CoolMediation");
         r.setLocationWithLatitudeLongitudeAccuracy(47.5, 8.25, 10);
         r.registerAdNetworkExtras(extrasWith({{"color_bg", "ffffff"}}));
         r.setCorrelationID(77);
       },
       {{"js", js},
        {"cust_gender", "2"},
        {"cust_age", "19900501"},
        {"kw", Array{"sailing", "boats"}},
        {"tag_for_child_directed_treatment", "0"},
        {"url", "http://news.example/story"},
        {"request_agent", "CoolMediation"},
        {"uule", *QMALocation::initWithLatitudeLongitudeAccuracy(47.5, 8.25, 10)->dictionaryRepresentation()},
        {"extras", Dictionary{{"color_bg", "ffffff"}}},
        {"correlation_id", 77}}},
      {"no gender and a blank content URL send nothing",
       [](QMARequest& r) {
         r.setGender(3);
         r.setContentURL(" \u00a0\n");
         r.tagForChildDirectedTreatment(true);
       },
       {{"js", js}, {"tag_for_child_directed_treatment", "1"}}},
      {"extras marked for one use are sent while they are registered",
       [](QMARequest& r) {
         r.registerAdNetworkExtras(extrasWith({{"_useOnce", true}, {"k", "v"}}));
       },
       {{"js", js}, {"extras", Dictionary{{"_useOnce", true}, {"k", "v"}}}}},
      {"a test device among other entries",
       [&](QMARequest& r) {
         r.setTestDevices(Array{"", 7, deviceID});
       },
       {{"js", js}, {"adtest", "on"}}},
      {"no test device",
       [](QMARequest& r) {
         r.setTestDevices(Array{"", 7, "someone-else"});
       },
       {{"js", js}}},
      {"native formats with a response type",
       [](QMARequest& r) {
         r.setFormatParameters(
             Array{Dictionary{{"format", 1}}, Dictionary{{"format", 3}, {"custom_template_ids", Array{"t1", "t2"}}}});
         r.setResponseType(3);
       },
       {{"js", js}, {"native_templates", "1,3"}, {"native_custom_templates", "t1,t2"}, {"native_version", 3}}},
      {"native formats without a response type",
       [](QMARequest& r) {
         r.setFormatParameters(
             Array{Dictionary{{"format", 1}}, Dictionary{{"format", 3}, {"custom_template_ids", Array{"t1", "t2"}}}});
       },
       {{"js", js}, {"native_custom_templates", "t1,t2"}}},
      {"untyped format entries count as absent",
       [](QMARequest& r) {
         r.setFormatParameters(Array{"x", Dictionary{{"format", "2"}, {"custom_template_ids", Array{5, Value()}}},
                                     Dictionary{{"format", 2}, {"custom_template_ids", "t9"}}});
         r.setResponseType(2);
       },
       {{"js", js}, {"native_templates", "2"}, {"native_version", 2}}},
      {"additional parameters replace everything before them",
       [](QMARequest& r) {
         r.setGender(QMAGenderMale);
         r.addAdditionalParametersFromDictionary({{"js", "custom"}, {"cust_gender", "9"}});
         r.addAdditionalParametersFromDictionary({{"js", "later"}});
       },
       {{"js", "later"}, {"cust_gender", "9"}}},
  };
  for (const auto& c : cases) {
    auto request = QMARequest::request();
    c.fill(*request);
    EXPECT_EQ(Value(ownParameters(*request)), Value(c.expected)) << c.name;
  }
}

TEST_F(Requests, ExtrasMarkedForOneUseAreGoneAfterTheirFirstRead) {
  auto request = QMARequest::request();
  request->registerAdNetworkExtras(extrasWith({{"_useOnce", true}, {"_ad", "preset"}}));
  auto first = request->networkExtrasAdditionalParameters();
  EXPECT_EQ(Value(*first), Value(Dictionary{{"_useOnce", true}, {"_ad", "preset"}}));
  EXPECT_FALSE(request->adNetworkExtrasFor<QMAExtras>());
  EXPECT_FALSE(request->networkExtrasAdditionalParameters());
  EXPECT_FALSE(request->parameters().contains("extras"));

  for (Value keep : {Value(false), Value(0), Value("1")}) {
    auto r = QMARequest::request();
    r->registerAdNetworkExtras(extrasWith({{"_useOnce", keep}}));
    r->networkExtrasAdditionalParameters();
    EXPECT_TRUE(r->adNetworkExtrasFor<QMAExtras>()) << foundation::description(keep);
  }
}

TEST_F(Requests, ExtrasAreStoredByClassAndNoneIsRefusedWithAMessage) {
  std::vector<std::string> lines;
  std::mutex mu;
  auto previous = foundation::setLogSink([&](const std::string& l) {
    std::lock_guard lock(mu);
    lines.push_back(l);
  });
  auto request = QMARequest::request();
  auto first = extrasWith({{"a", 1}});
  auto second = extrasWith({{"b", 2}});
  request->registerAdNetworkExtras(first);
  request->registerAdNetworkExtras(second);
  EXPECT_EQ(request->adNetworkExtrasFor("QMAExtras"), second);
  request->registerAdNetworkExtras(nullptr);
  EXPECT_EQ(request->adNetworkExtrasFor("QMAExtras"), second);
  request->removeAdNetworkExtrasFor("QMAExtras");
  EXPECT_FALSE(request->adNetworkExtrasFor("QMAExtras"));
  QMALogQueue()->sync([] {});
  foundation::setLogSink(previous);
  EXPECT_EQ(lines, std::vector<std::string>{"<Quillon> Must specify extras for registerAdNetworkExtras:."});
}

TEST_F(Requests, ACopyIsIndependentAndKeepsItsClass) {
  auto request = KVRRequest::request();
  auto extras = extrasWith({{"k", "v"}});
  request->registerAdNetworkExtras(extras);
  request->setKeywords(std::vector<std::string>{"a"});
  request->setPublisherProvidedID("user-9");
  request->setCustomTargeting(Dictionary{{"section", "sports"}});
  request->setCategoryExclusions(std::vector<std::string>{"alcohol"});
  request->setLocationWithDescription("Zurich");

  auto copy = std::dynamic_pointer_cast<KVRRequest>(request->copy());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->className(), "KVRRequest");
  EXPECT_EQ(Value(copy->parameters()), Value(request->parameters()));
  EXPECT_EQ(copy->adNetworkExtrasFor<QMAExtras>(), extras);  // the extras object is shared
  EXPECT_NE(copy->location(), request->location());

  copy->registerAdNetworkExtras(extrasWith({{"other", 1}}));
  copy->addAdditionalParametersFromDictionary({{"x", 1}});
  copy->setKeywords(std::nullopt);
  EXPECT_EQ(request->adNetworkExtrasFor<QMAExtras>(), extras);
  EXPECT_TRUE(request->additionalParameters().empty());
  EXPECT_TRUE(request->keywords());

  auto search = QMASearchRequest::request();
  search->setQuery("shoes");
  search->setBorderType(QMASearchBorderTypeDotted);
  auto searchCopy = std::dynamic_pointer_cast<QMASearchRequest>(search->copy());
  ASSERT_TRUE(searchCopy);
  EXPECT_EQ(Value(searchCopy->searchParameters()), Value(search->searchParameters()));
}

TEST_F(Requests, TheBirthdayIsAGregorianDateInAnyZoneAndLocale) {
  // Far-apart zones and a device set to another calendar: the server always reads the
  // same Gregorian date in ASCII digits.
  system_facts::setLocaleIdentifier("th_TH@calendar=buddhist");
  for (const char* zone : {"UTC", "Pacific/Kiritimati", "Pacific/Pago_Pago", "Asia/Tokyo"}) {
    foundation::Calendar::setLocalTimeZone(zone);
    auto request = QMARequest::request();
    request->setBirthdayWithMonthDayYear(5, 1, 1990);
    EXPECT_EQ(request->birthdayString(), "19900501") << zone;
    request->setBirthdayWithMonthDayYear(12, 31, 1969);
    EXPECT_EQ(request->birthdayString(), "19691231") << zone;
  }
  EXPECT_FALSE(QMARequest::request()->birthdayString());
}

TEST_F(Requests, TheDescriptionListsWhatIsSet) {
  foundation::Calendar::setLocalTimeZone("UTC");
  auto request = QMARequest::request();
  const std::string prefix =
      "<QMARequest " + foundation::stringWithFormat("%p", static_cast<const void*>(request.get())) + ": ";
  EXPECT_EQ(request->description(), prefix + ">");
  request->setGender(QMAGenderMale);
  request->setBirthdayWithMonthDayYear(5, 1, 1990);
  request->setLocationWithDescription("Zurich");
  EXPECT_EQ(request->description(), prefix + "\ngender:Male\nbirthday:1990-05-01 00:00:00 +0000\nlocation:Zurich>");
  request->setGender(7);
  EXPECT_EQ(request->description().find("gender"), std::string::npos);
}

struct FakeSignalSource : QMARequestSignalSource {
  std::optional<std::string> answer;
  std::vector<std::string> setUps;
  std::atomic<int> asked{0};
  std::atomic<bool> onlyOnMain{true};
  void setUpWithSDKVersion(const std::string& version) override {
    if (!dispatch::isMainThread()) onlyOnMain = false;
    setUps.push_back(version);
  }
  std::optional<std::string> requestSignal() override {
    if (!dispatch::isMainThread()) onlyOnMain = false;
    ++asked;
    return answer;
  }
};

TEST_F(Requests, TheRequestSignalIsOnePairAfterAOneTimeSetUp) {
  auto source = std::make_shared<FakeSignalSource>();
  QMARequest::setRequestSignalSource(source);
  const std::pair<std::optional<std::string>, std::optional<std::pair<std::string, std::string>>> cases[] = {
      {"sig=abc", std::make_pair("sig", "abc")},
      {"sig=abc=def", std::make_pair("sig", "abc")},
      {"=abc", std::nullopt},
      {"sig=", std::nullopt},
      {"sigabc", std::nullopt},
      {std::nullopt, std::nullopt},
  };
  for (const auto& [answer, pair] : cases) {
    source->answer = answer;
    Dictionary p = ownParameters(*QMARequest::request());
    p.erase("js");
    Dictionary expected;
    if (pair) expected[pair->first] = pair->second;
    EXPECT_EQ(Value(p), Value(expected)) << answer.value_or("<failure>");
  }
  EXPECT_EQ(source->setUps, std::vector<std::string>{"qvra-sdk-i-v7.4.1"});
}

TEST_F(Requests, ParametersBuiltOffTheMainThreadAskTheSignalOnIt) {
  auto source = std::make_shared<FakeSignalSource>();
  source->answer = "sig=1";
  QMARequest::setRequestSignalSource(source);
  auto request = QMARequest::request();
  std::atomic<bool> done{false};
  Dictionary p;
  std::thread worker([&] {
    p = request->parameters();
    done = true;
  });
  EXPECT_TRUE(dispatch::RunLoop::main().runUntil([&] { return done.load(); }, 10));
  worker.join();
  EXPECT_EQ(p.at("sig"), Value("1"));
  EXPECT_EQ(source->asked, 1);
  EXPECT_TRUE(source->onlyOnMain);
}

TEST_F(Requests, VersionTextsAndRequestTypes) {
  EXPECT_EQ(QMARequest::sdkVersion(), "qvra-sdk-i-v7.4.1");
  EXPECT_EQ(QMARequest::sdkVersionIdentifiers(), "-rc.1");
  EXPECT_EQ(QMARequest::sdkVersionMetadata(), "+8714");
  EXPECT_EQ(QMARequest::extendedSDKVersionNumber(), "qvra-sdk-i-v7.4.1-rc.1+8714");
  const std::pair<const char*, long> types[] = {{"pelmark", 2}, {"vcz", 3}, {"lumoria", 1},
                                                {"Pelmark", 0}, {"", 0},    {"pelmark ", 0}};
  for (const auto& [text, type] : types) EXPECT_EQ(QMARequest::requestTypeFromString(text), type) << text;
  EXPECT_STREQ(kQMASimulatorID, "Simulator");
  EXPECT_STREQ(kKVRSimulatorID, "Simulator");
}

// ---- publisher edition

TEST_F(Requests, PublisherEditionKeysComeAfterTheBaseAndOnlyWhenThereIsSomethingToSend) {
  const std::string js = "qvra-sdk-i-v7.4.1";
  struct Case {
    const char* name;
    std::function<void(KVRRequest&)> fill;
    Dictionary expected;
  };
  const Case cases[] = {
      {"blank ID and empty lists",
       [](KVRRequest& r) {
         r.setPublisherProvidedID(" \t\n");
         r.setCustomTargeting(Dictionary{});
         r.setCategoryExclusions(std::vector<std::string>{});
       },
       {{"js", js}}},
      {"trimmed ID and both lists",
       [](KVRRequest& r) {
         r.setPublisherProvidedID("  user-9 \n");
         r.setCustomTargeting(Dictionary{{"section", "sports"}});
         r.setCategoryExclusions(std::vector<std::string>{"alcohol", "games"});
       },
       {{"js", js},
        {"ppid", "user-9"},
        {"custom_targeting", Dictionary{{"section", "sports"}}},
        {"category_exclusions", Array{"alcohol", "games"}}}},
      {"they replace additional parameters of the same name",
       [](KVRRequest& r) {
         r.addAdditionalParametersFromDictionary({{"ppid", "from-host"}, {"other", "x"}});
         r.setPublisherProvidedID("user-9");
       },
       {{"js", js}, {"ppid", "user-9"}, {"other", "x"}}},
  };
  for (const auto& c : cases) {
    auto request = KVRRequest::request();
    c.fill(*request);
    EXPECT_EQ(Value(ownParameters(*request)), Value(c.expected)) << c.name;
  }
}

TEST_F(Requests, TheCorrelatorDrawsNonZeroIDsThatChangeOnUpdate) {
  std::mutex mu;
  std::vector<std::uint64_t> draws;
  auto drawFrom = [&](std::vector<std::uint64_t> values) {
    std::lock_guard lock(mu);
    draws = std::move(values);
  };
  auto draw = [&]() -> std::uint64_t {
    std::lock_guard lock(mu);
    if (draws.empty()) return 0;
    auto v = draws.front();
    draws.erase(draws.begin());
    return v;
  };

  drawFrom({0, 0, 41});
  auto correlator = KVRRequestPrivate::init(draw);
  EXPECT_EQ(correlator->queue()->label(), "com.quillon.pelmark.kvr-request");
  EXPECT_EQ(correlator->correlationID(), 41u);

  drawFrom({41, 0, 41, 42});
  correlator->updateCorrelationID();
  EXPECT_EQ(correlator->correlationID(), 42u);  // a read after the update sees it

  drawFrom({42, 42, 0, 42, 0, 7});
  correlator->updateCorrelationID();
  EXPECT_EQ(correlator->correlationID(), 0u);  // five draws without a new one

  drawFrom({0, 0, 0, 0, 0, 9});
  EXPECT_EQ(KVRRequestPrivate::init(draw)->correlationID(), 0u);

  auto shared = KVRRequestPrivate::sharedInstance();
  std::uint64_t before = shared->correlationID();
  EXPECT_EQ(shared->correlationID(), before);
  KVRRequest::updateCorrelator();
  std::uint64_t after = shared->correlationID();
  EXPECT_NE(after, before);
  EXPECT_LT(after, 4294967295u);
}

// ---- search

TEST_F(Requests, SearchStylingGoesIntoOneNestedDictionary) {
  auto fresh = QMASearchRequest::request();
  EXPECT_EQ(Value(fresh->parameters().at("search")), Value(Dictionary{{"headersize", "0"}, {"bthick", "0"}}));

  auto styled = QMASearchRequest::request();
  styled->setQuery("running shoes");
  styled->setBackgroundColor(QMAColor::colorWithRedGreenBlueAlpha(1, 1, 1, 1));
  styled->setHeaderColor(QMAColor::colorWithWhiteAlpha(0.5, 1));
  styled->setDescriptionTextColor(QMAColor::patternColor());
  styled->setFontFamily("Georgia");
  styled->setHeaderTextSize(18);
  styled->setBorderType(QMASearchBorderTypeSolid);
  styled->setBorderThickness(2);
  styled->setCustomChannels("ch1");
  styled->setCallButtonColor(QMASearchCallButtonDark);
  styled->addAdditionalParametersFromDictionary({{"search", "from-host"}});
  EXPECT_EQ(Value(styled->parameters().at("search")), Value(Dictionary{{"q", "running shoes"},
                                                                       {"bgcolor", "#ffffff"},
                                                                       {"hcolor", "#7f7f7f"},
                                                                       {"dcolor", "#000000"},
                                                                       {"font", "Georgia"},
                                                                       {"headersize", "18"},
                                                                       {"btype", "solid"},
                                                                       {"bthick", "2"},
                                                                       {"channel", "ch1"},
                                                                       {"callbuttoncolor", "dark"}}));

  auto outOfRange = QMASearchRequest::request();
  outOfRange->setBorderType(4);
  outOfRange->setCallButtonColor(3);
  EXPECT_EQ(Value(outOfRange->searchParameters()), Value(Dictionary{{"headersize", "0"}, {"bthick", "0"}}));
}

TEST_F(Requests, ColourTextsStayTwoHexDigitsPerComponent) {
  const std::pair<QMAColor, const char*> cases[] = {
      {QMAColor::colorWithRedGreenBlueAlpha(1, 1, 1, 1), "#ffffff"},
      {QMAColor::colorWithRedGreenBlueAlpha(1, 0.5, 0, 0.2), "#ff7f00"},
      {QMAColor::colorWithWhiteAlpha(0.5, 1), "#7f7f7f"},
      {QMAColor::patternColor(), "#000000"},
      {QMAColor::fromColor(uikit::Color::blackColor()), "#000000"},
      // Extended-range components are held to what two digits can say.
      {QMAColor::colorWithRedGreenBlueAlpha(1.2, -0.5, 0.25, 1), "#ff003f"},
      {QMAColor::colorWithWhiteAlpha(-3, 1), "#000000"},
      {QMAColor::colorWithRedGreenBlueAlpha(std::nan(""), 2, 1e300, 1), "#00ffff"},
      {QMAColor{QMAColor::Space::RGB, {1}}, "#000000"},
  };
  for (const auto& [color, text] : cases) EXPECT_EQ(QMAColorText(color), text) << text;
}

TEST_F(Requests, AGradientNeedsBothColoursAndASolidBackgroundClearsIt) {
  auto r = QMASearchRequest::request();
  auto red = QMAColor::colorWithRedGreenBlueAlpha(1, 0, 0, 1);
  auto blue = QMAColor::colorWithRedGreenBlueAlpha(0, 0, 1, 1);
  r->setBackgroundSolid(red);
  r->setBackgroundGradientFromToColor(blue, std::nullopt);
  EXPECT_EQ(r->backgroundColor(), red);
  EXPECT_FALSE(r->gradientFrom());
  r->setBackgroundGradientFromToColor(blue, red);
  EXPECT_FALSE(r->backgroundColor());
  EXPECT_EQ(r->gradientFrom(), blue);
  EXPECT_EQ(r->gradientTo(), red);
  r->setBackgroundSolid(blue);
  EXPECT_FALSE(r->gradientFrom());
  EXPECT_FALSE(r->gradientTo());
}

}  // namespace
