#include "platform/foundation/user_defaults.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "platform/foundation/bundle.h"
#include "platform/foundation/property_list.h"

namespace foundation {
namespace {

// Each test gets a device root of its own, so parallel test processes never share files.
struct FreshDeviceRoot : ::testing::Test {
  std::string root;
  void SetUp() override {
    char tmpl[] = "/tmp/wv-defaults-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("WARDVANE_DEVICE_ROOT", root.c_str(), 1);
    Bundle::main().setBundleIdentifier("com.example.host");
    UserDefaults::resetStandardUserDefaults();
  }
  void TearDown() override {
    UserDefaults::resetStandardUserDefaults();
    std::filesystem::remove_all(root);
  }
};

TEST_F(FreshDeviceRoot, ValuesSurviveARelaunchAndLiveInTheDomainsPreferencesFile) {
  auto d = UserDefaults::standardUserDefaults();
  d->setObjectForKey(Value(Dictionary{{"a", Value(1)}}), "quillon_stats_unit");
  d->setObjectForKey(Value(Array{Value("x"), Value("y")}), "list");
  d->setObjectForKey(Value("gone"), "removed");
  d->removeObjectForKey("removed");
  EXPECT_EQ(d->filePath(), root + "/var/mobile/Library/Preferences/com.example.host.plist");

  UserDefaults::resetStandardUserDefaults();  // a new launch reads the file
  auto again = UserDefaults::standardUserDefaults();
  ASSERT_NE(again.get(), d.get());
  EXPECT_EQ(again->dictionaryForKey("quillon_stats_unit"), (Dictionary{{"a", Value(1)}}));
  EXPECT_EQ(again->arrayForKey("list")->size(), 2u);
  EXPECT_TRUE(again->objectForKey("removed").isNull());
  auto onDisk = readDictionaryFile(again->filePath());
  ASSERT_TRUE(onDisk);
  EXPECT_EQ(onDisk->count("list"), 1u);
  // Preferences are the owner's alone, and so is the folder made for them.
  struct stat st{};
  ASSERT_EQ(::stat(again->filePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((root + "/var/mobile/Library/Preferences").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(FreshDeviceRoot, AProgramCanKeepItsStandardDefaultsOutOfTheFileItsIdentifierNames) {
  UserDefaults::setStandardUserDefaultsDomain("com.example.host.app");
  auto d = UserDefaults::standardUserDefaults();
  d->setObjectForKey(Value("kept"), "/quillon/ads/use_https");
  EXPECT_EQ(d->filePath(), root + "/var/mobile/Library/Preferences/com.example.host.app.plist");
  EXPECT_FALSE(std::filesystem::exists(root + "/var/mobile/Library/Preferences/com.example.host.plist"));
  UserDefaults::setStandardUserDefaultsDomain(std::nullopt);
  EXPECT_EQ(UserDefaults::standardUserDefaults()->domain(), "com.example.host");
}

TEST_F(FreshDeviceRoot, TypedReadsConvertLikeThePlatform) {
  auto d = UserDefaults::standardUserDefaults();
  struct Case {
    Value stored;
    long long integer;
    double real;
    bool flag;
  } cases[] = {
      {Value(), 0, 0, false},         {Value(7), 7, 7, true},          {Value(2.5), 2, 2.5, true},
      {Value("12abc"), 12, 12, true}, {Value("abc"), 0, 0, false},     {Value("YES"), 0, 0, true},
      {Value(true), 1, 1, true},      {Value(Array{}), 0, 0, false},
  };
  for (const auto& c : cases) {
    d->setObjectForKey(c.stored, "k");
    EXPECT_EQ(d->integerForKey("k"), c.integer);
    EXPECT_DOUBLE_EQ(d->doubleForKey("k"), c.real);
    EXPECT_EQ(d->boolForKey("k"), c.flag);
  }
  d->setObjectForKey(Value("text"), "s");
  EXPECT_FALSE(d->arrayForKey("s"));
  EXPECT_FALSE(d->dictionaryForKey("s"));
}

TEST_F(FreshDeviceRoot, ReadsFallBackToTheGlobalDomainThenTheRegisteredDefaults) {
  UserDefaults::globalDefaults()->setObjectForKey(Value(Array{Value("en-GB"), Value("fr")}), "AppleLanguages");
  auto d = UserDefaults::standardUserDefaults();
  d->registerDefaults({{"AppleLanguages", Value(Array{})}, {"only-registered", Value(3)}});
  EXPECT_EQ(d->arrayForKey("AppleLanguages")->front(), Value("en-GB"));
  EXPECT_EQ(d->integerForKey("only-registered"), 3);
  d->setObjectForKey(Value(Array{Value("de")}), "AppleLanguages");  // the app's own domain wins
  EXPECT_EQ(d->arrayForKey("AppleLanguages")->front(), Value("de"));
  EXPECT_TRUE(d->synchronize());
}

TEST_F(FreshDeviceRoot, WritersOnManyThreadsLoseNothing) {
  auto d = UserDefaults::standardUserDefaults();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) d->setObjectForKey(Value(i), "t" + std::to_string(t) + "-" + std::to_string(i));
    });
  for (auto& t : threads) t.join();
  UserDefaults::resetStandardUserDefaults();
  EXPECT_EQ(UserDefaults::standardUserDefaults()->persistentDomain().size(), 100u);
}

}  // namespace
}  // namespace foundation
