#include "ads/render/qomb.h"

#include <gtest/gtest.h>

#include "platform/dispatch/run_loop.h"

namespace {

struct Case {
  const char* url;
  std::optional<std::string> name;  // nullopt: no message
  foundation::Dictionary parameters;
};

TEST(QMANotification, ParsesMessageURLs) {
  const Case cases[] = {
      {"QOMB://any/close", "close", {}},
      {"Qomb://x/close#frag", "close", {}},
      {"qomb:///close", "close", {}},
      {"qomb://any", std::nullopt, {}},
      {"qomb://any/", std::nullopt, {}},
      {"qomb://x/a/b", "a/b", {}},
      {"qomb://x/sp%20ace", "sp ace", {}},
      {"http://x/close", std::nullopt, {}},
      {"qomb://h/log?string=a%20b&x", "log", {{"string", "a b"}}},
      {"qomb://h/m?a=1;b=2", "m", {{"a", "1"}, {"b", "2"}}},
      {"qomb://h/m?a=1&a=2", "m", {{"a", "2"}}},
      {"qomb://h/m?a=b=c", "m", {}},
      {"qomb://h/m?q=a+b", "m", {{"q", "a+b"}}},
      {"qomb://h/m?bad=%E2%28&good=%E2%80%A8", "m", {{"good", "\u2028"}}},
      {"qomb://h/m?=v&k=", "m", {{"", "v"}, {"k", ""}}},
      {"qomb://h/open?U=x", "open", {{"U", "x"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    auto url = net::URL::fromString(c.url);
    ASSERT_TRUE(url);
    auto note = QMANotification::initWithNotificationURL(url);
    if (!c.name) {
      EXPECT_EQ(note, nullptr);
      continue;
    }
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->name(), *c.name);
    EXPECT_EQ(note->parameters(), c.parameters);
  }
  EXPECT_FALSE(QMANotification::isNotificationURL(std::nullopt));
  EXPECT_EQ(QMANotification::initWithNameParameters("", std::nullopt), nullptr);
  auto note = QMANotification::initWithNameParameters("n", std::nullopt);
  EXPECT_TRUE(note->parameters().empty());
  EXPECT_NE(note->description().find("> name:n parameters:{}"), std::string::npos);
}

struct Recording : QMAQOMBHandler {
  std::vector<std::string> seen;
  bool hadAdView = true;
  const QMAActionBlockDictionary* actionBlockDictionary() const override {
    static const QMAActionBlockDictionary table = {{"close", [](QMAQOMBHandler& h, const QMAQOMBArguments& a) {
                                                      auto& self = static_cast<Recording&>(h);
                                                      self.seen.push_back(a.note->name());
                                                      self.hadAdView = a.adView != nullptr;
                                                    }}};
    return &table;
  }
};

TEST(QMAQOMBHandler, ClaimsExactlyTheNamesOfItsTable) {
  auto handler = std::make_shared<Recording>();
  auto base = std::make_shared<QMAQOMBHandler>();
  auto request = [](const char* u) { return net::URLRequest(*net::URL::fromString(u)); };
  EXPECT_TRUE(handler->handleRequestAdView(request("qomb://x/close"), nullptr));
  EXPECT_FALSE(handler->hadAdView);
  EXPECT_FALSE(handler->handleRequestAdView(request("qomb://x/Close"), nullptr));
  EXPECT_FALSE(handler->handleRequestAdView(request("https://x/close"), nullptr));
  EXPECT_FALSE(base->handleRequestAdView(request("qomb://x/close"), nullptr));
  EXPECT_EQ(handler->seen, std::vector<std::string>{"close"});
}

TEST(QMAPostNotification, DelayedPostArrivesOnTheMainThreadNeverBeforeTheCallerReturns) {
  foundation::NotificationCenter center;
  auto object = std::make_shared<int>(1);
  std::vector<foundation::Dictionary> received;
  auto token = center.addObserverForName("nativeAdPreProcess", object.get(), nullptr,
                                         [&](const foundation::Notification& n) { received.push_back(n.userInfo); });
  qma_postNotificationFromURLObjectWithDelay(center, net::URL::fromString("qomb://x/nativeAdPreProcess?a=1"), object, -5);
  qma_postNotificationFromURLObjectWithDelay(center, net::URL::fromString("qomb://x/"), object, 0);
  EXPECT_TRUE(received.empty());
  dispatch::RunLoop::main().runUntil([&] { return !received.empty(); }, 5);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], (foundation::Dictionary{{"a", "1"}}));
  center.removeObserver(token);
}

}  // namespace
