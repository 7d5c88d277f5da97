#include "ads/services/token_dispenser.h"

#include <gtest/gtest.h>

#include <mutex>

#include "ads/services/string_encoding.h"
#include "ads/services/test_support.h"
#include "platform/system/device_facts.h"
#include "platform/net/ad_network.h"
#include "platform/net/test_server.h"
#include "platform/net/url.h"

namespace {

using runtime::Class;
using runtime::Id;

void setTracking(bool on) {
  auto facts = system_facts::device();
  facts.advertisingTrackingEnabled = on;
  system_facts::setDevice(facts);
}

std::string idTokenWith(const std::string& claims) {
  auto websafe = QMA_KLVStringEncoding::rfc4648Base64WebsafeStringEncoding();
  websafe->setDoPad(false);
  return "eyJhbGciOiJSUzI1NiJ9." + websafe->encodeString(claims) + ".c2lnbmF0dXJl";
}

// A stand-in of the optional sign-in library, with its key-value observation.
struct SignInLibrary {
  std::optional<std::string> clientID = "app-client";
  std::optional<std::string> idToken = idTokenWith(R"({"iss":"https://issuer","sub":"user-1"})");
  std::optional<std::string> refreshToken = "refresh-1";
  bool signedIn = true;
  Id signIn, user, auth;
  std::map<std::int64_t, std::function<void()>> observers;
  std::int64_t nextObservation = 1;

  void install() {
    auto authClass = Class::make("RZIAuthentication");
    authClass->addMethod<std::optional<std::string>()>("idToken", [this](const Id&) { return idToken; });
    authClass->addMethod<std::optional<std::string>()>("refreshToken", [this](const Id&) { return refreshToken; });
    runtime::objc_registerClassPair(authClass);
    auth = std::make_shared<runtime::Object>(authClass);

    auto userClass = Class::make("RZIQuillonUser");
    userClass->addMethod<Id()>("authentication", [this](const Id&) { return auth; });
    runtime::objc_registerClassPair(userClass);
    user = std::make_shared<runtime::Object>(userClass);

    auto signInClass = Class::make("RZISignIn");
    signInClass->addClassMethod<Id()>("sharedInstance", [this] { return signIn; });
    signInClass->addClassMethod<bool()>("supportsCurrentUserKVO", [] { return true; });
    signInClass->addMethod<std::optional<std::string>()>("clientID", [this](const Id&) { return clientID; });
    signInClass->addMethod<Id()>("currentUser", [this](const Id&) { return signedIn ? user : nullptr; });
    signInClass->addMethod<std::int64_t(std::string, std::function<void()>)>(
        "addObserverForKeyPath", [this](const Id&, std::string, std::function<void()> f) {
          observers[nextObservation] = std::move(f);
          return nextObservation++;
        });
    signInClass->addMethod<void(std::int64_t)>("removeObserverForKeyPath",
                                               [this](const Id&, std::int64_t token) { observers.erase(token); });
    runtime::objc_registerClassPair(signInClass);
    signIn = std::make_shared<runtime::Object>(signInClass);
    QMAForgetRZISignInLookup();
  }
  void changed() {
    for (auto& [token, f] : observers) f();
  }
  ~SignInLibrary() {
    for (auto name : {"RZISignIn", "RZIQuillonUser", "RZIAuthentication"}) runtime::objc_disposeClassPair(name);
    QMAForgetRZISignInLookup();
  }
};

class SignedInAds : public qma_test::DeviceRootTest {
 protected:
  void SetUp() override {
    DeviceRootTest::SetUp();
    foundation::UserDefaults::standardUserDefaults()->setObjectForKey(foundation::Value(true), QMATokenDispenser::kEnableKey);
    setTracking(true);
    library.install();
  }
  void TearDown() override {
    unsetenv(net::kAdNetworkURLVariable);
    DeviceRootTest::TearDown();
  }
  SignInLibrary library;
};

TEST_F(SignedInAds, TheUserComesFromTheSignInLibrary) {
  auto user = QMASignedInUser::init();
  ASSERT_TRUE(user);
  EXPECT_EQ(user->issuer(), "https://issuer");
  EXPECT_EQ(user->userID(), "user-1");
  EXPECT_EQ(user->applicationID(), "app-client");
  EXPECT_EQ(user->refreshToken(), "refresh-1");
  QMASignedInUser sameOtherToken("https://issuer", "user-1", "x", "other");
  EXPECT_TRUE(user->isEqual(sameOtherToken));
  EXPECT_EQ(user->hash(), sameOtherToken.hash());

  struct Case {
    const char* why;
    std::function<void(SignInLibrary&)> change;
  };
  const Case cases[] = {
      {"two parts", [](SignInLibrary& l) { l.idToken = "a.b"; }},
      {"four parts", [](SignInLibrary& l) { l.idToken = *l.idToken + ".d"; }},
      {"no sub", [](SignInLibrary& l) { l.idToken = idTokenWith(R"({"iss":"https://issuer"})"); }},
      {"not json", [](SignInLibrary& l) { l.idToken = idTokenWith("nope"); }},
      {"not base64", [](SignInLibrary& l) { l.idToken = "a.***.c"; }},
      {"no id token", [](SignInLibrary& l) { l.idToken.reset(); }},
      {"no refresh token", [](SignInLibrary& l) { l.refreshToken.reset(); }},
      {"no client id", [](SignInLibrary& l) { l.clientID.reset(); }},
      {"signed out", [](SignInLibrary& l) { l.signedIn = false; }},
      {"tracking limited", [](SignInLibrary&) { setTracking(false); }},
      {"server switch off", [](SignInLibrary&) { foundation::UserDefaults::standardUserDefaults()->removeObjectForKey(QMATokenDispenser::kEnableKey); }},
  };
  for (const auto& c : cases) {
    const auto savedIdToken = library.idToken, savedRefreshToken = library.refreshToken;
    c.change(library);
    EXPECT_FALSE(QMASignedInUser::init()) << c.why;
    library.idToken = savedIdToken;
    library.refreshToken = savedRefreshToken;
    library.clientID = "app-client";
    library.signedIn = true;
    setTracking(true);
    foundation::UserDefaults::standardUserDefaults()->setObjectForKey(foundation::Value(true), QMATokenDispenser::kEnableKey);
    ASSERT_TRUE(QMASignedInUser::init()) << "restored after " << c.why;
  }
}

// The token endpoint on 127.0.0.1: answers with the next scripted body.
struct TokenEndpoint {
  std::mutex lock;
  std::vector<std::string> bodies;  // requests received
  std::vector<std::string> contentTypes;
  std::string answer = R"({"access_token":"tok-1","expires_in":3600})";
  net::testing::TestServer server;  // after what its handler touches, so it stops first
  TokenEndpoint() {
    server.server().Post("/oauth2/v3/token", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard l(lock);
      bodies.push_back(req.body);
      contentTypes.push_back(req.get_header_value("Content-Type"));
      res.set_content(answer, "application/json");
    });
    server.start();
    setenv(net::kAdNetworkURLVariable, server.url().c_str(), 1);
  }
  std::size_t requests() {
    std::lock_guard l(lock);
    return bodies.size();
  }
  void setAnswer(std::string a) {
    std::lock_guard l(lock);
    answer = std::move(a);
  }
};

// Waits (real time, bounded) until the dispenser holds a token for the user.
std::optional<QMATokenCacheEntry> waitForEntry(QMATokenDispenser& d, const QMASignedInUser& user,
                                               const std::string& token) {
  std::optional<QMATokenCacheEntry> entry;
  dispatch::RunLoop::main().runUntil(
      [&] {
        entry = d.cacheEntryForUser(user);
        return entry && entry->token == token;
      },
      3.0);
  return entry;
}

TEST_F(SignedInAds, TokensAreFetchedCachedAndRenewedOnTheHandDrivenClock) {
  TokenEndpoint endpoint;
  auto dispenser = QMATokenDispenser::create();
  auto user = dispenser->currentUser();
  ASSERT_TRUE(user);
  auto entry = waitForEntry(*dispenser, *user, "tok-1");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->lifespanInSeconds, 3600);
  {
    std::lock_guard l(endpoint.lock);
    ASSERT_EQ(endpoint.bodies.size(), 1u);
    EXPECT_EQ(endpoint.bodies[0], "client_id=app-client&grant_type=refresh_token&refresh_token=refresh-1&scope=" +
                                      net::percentEscape(QMATokenDispenser::displayAdsScope()));
    EXPECT_EQ(endpoint.contentTypes[0], "application/x-www-form-urlencoded");
  }
  EXPECT_EQ(dispenser->token(), "tok-1");
  ASSERT_TRUE(dispenser->refreshTimer()) << "a cached token always has a refresh schedule";
  EXPECT_DOUBLE_EQ(dispenser->refreshTimer()->timeInterval(), 2592);
  EXPECT_DOUBLE_EQ(dispenser->refreshTimer()->tolerance(), 648);

  // A shorter token sets the schedule: 1800 s gives ticks every 1296 s, tolerance 324 s.
  endpoint.setAnswer(R"({"access_token":"tok-2","expires_in":1800})");
  dispenser->refreshToken("tok-1");
  ASSERT_TRUE(waitForEntry(*dispenser, *user, "tok-2"));
  EXPECT_EQ(dispenser->minLifespan(), 1800);
  ASSERT_TRUE(dispenser->refreshTimer());
  EXPECT_DOUBLE_EQ(dispenser->refreshTimer()->timeInterval(), 1296);
  EXPECT_DOUBLE_EQ(dispenser->refreshTimer()->tolerance(), 324);

  // The timer renews a token that expires within 0.9 x the minimum lifespan.
  endpoint.setAnswer(R"({"access_token":"tok-3","expires_in":"7200"})");
  foundation::Clock::advance(1296);
  drainMain();
  auto renewed = waitForEntry(*dispenser, *user, "tok-3");
  ASSERT_TRUE(renewed);
  EXPECT_EQ(renewed->lifespanInSeconds, 7200) << "a numeric text counts";
  EXPECT_EQ(endpoint.requests(), 3u);

  // A token never handed out changes nothing.
  dispenser->refreshToken("never-seen");
  EXPECT_EQ(dispenser->token(), "tok-3");
  EXPECT_EQ(endpoint.requests(), 3u);
}

TEST_F(SignedInAds, ShortLifespansAndErrorAnswers) {
  TokenEndpoint endpoint;
  endpoint.setAnswer(R"({"access_token":"short","expires_in":30})");
  auto dispenser = QMATokenDispenser::create();
  auto user = dispenser->currentUser();
  auto entry = waitForEntry(*dispenser, *user, "short");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->lifespanInSeconds, 60) << "raised to the minimum constant";
  EXPECT_EQ(entry->expiration.timeIntervalSince1970, foundation::Clock::now() + 60);

  // An error answer leaves the user without a token, so the next call asks again.
  endpoint.setAnswer(R"({"error":"invalid_grant"})");
  dispenser->refreshToken("short");
  ASSERT_TRUE(dispatch::RunLoop::main().runUntil(
      [&] { return endpoint.requests() >= 2 && !dispenser->cacheEntryForUser(*user); }, 30.0));
  EXPECT_EQ(dispenser->token(), std::nullopt);
  ASSERT_TRUE(dispatch::RunLoop::main().runUntil([&] { return endpoint.requests() >= 3; }, 30.0));
  EXPECT_EQ(endpoint.requests(), 3u);
}

TEST_F(SignedInAds, SigningOutDropsTheUsersTokens) {
  TokenEndpoint endpoint;
  auto dispenser = QMATokenDispenser::create();
  auto user = dispenser->currentUser();
  ASSERT_TRUE(waitForEntry(*dispenser, *user, "tok-1"));
  EXPECT_EQ(library.observers.size(), 2u) << "currentUser and clientID are observed";

  library.signedIn = false;
  library.changed();
  EXPECT_EQ(dispenser->currentUser(), nullptr);
  EXPECT_EQ(dispenser->token(), std::nullopt);
  EXPECT_FALSE(dispenser->cacheEntryForUser(*user));
  EXPECT_FALSE(dispenser->refreshTimer()) << "nothing left to renew";
  foundation::Clock::advance(10000);
  drainMain();
  dispenser->token();
  EXPECT_EQ(endpoint.requests(), 1u) << "a signed-out user's refresh token is not used again";

  dispenser.reset();
  EXPECT_TRUE(library.observers.empty()) << "observations end with the dispenser";
}

TEST_F(SignedInAds, RenewalsForgetTheTokenTheyReplaceAndUseTheLatestSignIn) {
  TokenEndpoint endpoint;
  auto dispenser = QMATokenDispenser::create();
  auto user = dispenser->currentUser();
  ASSERT_TRUE(waitForEntry(*dispenser, *user, "tok-1"));

  // The same person signs in again and the library hands out a new refresh token.
  library.refreshToken = "refresh-2";
  library.changed();
  EXPECT_EQ(dispenser->currentUser()->refreshToken(), "refresh-2");
  EXPECT_EQ(dispenser->token(), "tok-1") << "the token in hand is still theirs";

  endpoint.setAnswer(R"({"access_token":"tok-2","expires_in":3600})");
  dispenser->refreshToken("tok-1");
  ASSERT_TRUE(waitForEntry(*dispenser, *user, "tok-2"));
  {
    std::lock_guard l(endpoint.lock);
    ASSERT_EQ(endpoint.bodies.size(), 2u);
    EXPECT_NE(endpoint.bodies[1].find("refresh_token=refresh-2"), std::string::npos) << endpoint.bodies[1];
  }

  // Renewed by the refresh timer: the renewal uses the new sign-in, and a late stale
  // report of the token it replaced changes nothing.
  endpoint.setAnswer(R"({"access_token":"tok-3","expires_in":3600})");
  foundation::Clock::advance(2592);
  drainMain();
  ASSERT_TRUE(waitForEntry(*dispenser, *user, "tok-3"));
  dispenser->refreshToken("tok-2");
  EXPECT_EQ(dispenser->token(), "tok-3");
  std::lock_guard l(endpoint.lock);
  ASSERT_EQ(endpoint.bodies.size(), 3u);
  EXPECT_NE(endpoint.bodies[2].find("refresh_token=refresh-2"), std::string::npos) << endpoint.bodies[2];
}

}  // namespace
