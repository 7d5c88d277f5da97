// The mediation configuration read from its JSON, the adapter class of a network found by
// name, and the mediation pings expanded from their templates.
#include "ads/mediation/mediation_config.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "ads/mediation/mediation_pings.h"
#include "ads/render/server_constants.h"
#include "ads/services/application.h"
#include "ads/services/logging.h"
#include "ads/services/test_support.h"
#include "platform/foundation/json.h"
#include "platform/foundation/log.h"
#include "tools/adserver/ad_server.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

Dictionary parse(const std::string& json) { return *foundation::jsonParse(json)->asDictionary(); }

struct Mediation : qma_test::DeviceRootTest {
  std::vector<std::string> lines;
  std::mutex mu;
  foundation::LogSink previous;
  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    previous = foundation::setLogSink([this](const std::string& line) {
      std::lock_guard lock(mu);
      lines.push_back(line);
    });
    for (const char* name : {"MedNewAdapter", "MedOldAdapter", "MedOlderAdapter", "MedNotAnAdapter"}) {
      auto cls = runtime::Class::make(name);
      if (!std::string(name).starts_with("MedOld")) cls->addMethod<void()>("getInterstitial", [](const runtime::Id&) {});
      if (std::string(name) != "MedNotAnAdapter") cls->addProtocol(kQMAMAdNetworkAdapterProtocol);
      runtime::objc_registerClassPair(cls);
    }
  }
  void TearDown() override {
    for (const char* name : {"MedNewAdapter", "MedOldAdapter", "MedOlderAdapter", "MedNotAnAdapter"})
      runtime::objc_disposeClassPair(name);
    QMALogQueue()->sync([] {});
    foundation::setLogSink(previous);
    DeviceRootTest::TearDown();
  }
  std::vector<std::string> logged() {
    QMALogQueue()->sync([] {});
    std::lock_guard lock(mu);
    return lines;
  }
};

TEST_F(Mediation, SettingsTakeOnlyValuesOfTheirTypeWithinTheirLimits) {
  struct Row {
    const char* settings;
    double refresh, timeout;
    std::int64_t animation;
  };
  const Row rows[] = {
      {R"({})", 0, 10, 8},
      {R"({"refresh": 29999.5, "ad_network_timeout_millis": 2500, "ad_transition_anim": 0})", 29999.5, 2.5, 0},
      {R"({"refresh": 30000, "ad_transition_anim": 9})", 0, 10, 8},
      {R"({"refresh": "60", "ad_network_timeout_millis": "abc", "ad_transition_anim": -1})", 60, 0, 8},
      // Text reads as its leading number, none being 0.
      {R"({"ad_network_timeout_millis": " 2500 "})", 0, 2.5, 8},
      {R"({"ad_network_timeout_millis": "1500ms"})", 0, 1.5, 8},
      {R"({"ad_network_timeout_millis": ""})", 0, 0, 8},
      {R"({"refresh": [1], "ad_network_timeout_millis": null})", 0, 10, 8},
      // Time-outs that would make no sane timer take the default; 0 is kept.
      {R"({"ad_network_timeout_millis": -2500})", 0, 10, 8},
      {R"({"ad_network_timeout_millis": 1e300})", 0, 10, 8},
      {R"({"ad_network_timeout_millis": 300001})", 0, 10, 8},
      {R"({"ad_network_timeout_millis": "-2500"})", 0, 10, 8},
      {R"({"ad_network_timeout_millis": "1e999"})", 0, 10, 8},
      {R"({"ad_network_timeout_millis": "300001"})", 0, 10, 8},
      {R"({"ad_network_timeout_millis": "0"})", 0, 0, 8},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.settings);
    std::optional<QMARequestError> error;
    auto config = QMAMConfig::initWithAppKeyConfigDictError(
        "unit", parse(std::string(R"({"ad_networks": [], "settings": )") + row.settings + "}"), &error);
    ASSERT_TRUE(config);
    EXPECT_FALSE(error);
    EXPECT_EQ(config->refreshInterval(), row.refresh);
    EXPECT_EQ(config->adNetworkTimeout(), row.timeout);
    EXPECT_EQ(config->bannerAnimationType(), row.animation);
  }
}

TEST_F(Mediation, NetworksNeedAnIDAndAListOfNetworksOrTheWholeConfigurationFails) {
  struct Row {
    const char* json;
    std::optional<long> code;
    std::size_t networks;
    const char* firstID;
  };
  const Row rows[] = {
      {R"({})", 7, 0, ""},
      {R"({"ad_networks": {}})", 7, 0, ""},
      {R"({"ad_networks": ["x", 3, {"id": 12345}]})", std::nullopt, 1, "12345"},
      {R"({"ad_networks": [{"id": true}]})", std::nullopt, 1, "1"},
      {R"({"ad_networks": [{"id": "a"}, {"id": {"no": 1}}]})", 7, 0, ""},
      {R"({"ad_networks": [{"data": {}}]})", 7, 0, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.json);
    std::optional<QMARequestError> error;
    auto config = QMAMConfig::initWithAppKeyConfigDictError("unit", parse(row.json), &error);
    EXPECT_EQ(error ? std::optional<long>(error->code) : std::nullopt, row.code);
    if (row.code) {
      EXPECT_FALSE(config);
      continue;
    }
    ASSERT_TRUE(config);
    ASSERT_EQ(config->adNetworkConfigs().size(), row.networks);
    EXPECT_EQ(config->adNetworkConfigs()[0]->networkID(), std::optional<std::string>(row.firstID));
  }
}

TEST_F(Mediation, TheAdapterIsTheFirstNamedClassOfTheCurrentInterfaceAndProblemsAreOnlyLogged) {
  std::optional<QMARequestError> error;
  auto config = QMAMConfig::initWithAppKeyConfigDictError(
      "unit",
      parse(R"({"ad_type": "interstitial", "ad_networks": [
        {"id": "1", "adapters": ["Missing", "MedOldAdapter", "MedNotAnAdapter", "MedNewAdapter"]},
        {"id": "2", "adapters": ["MedOldAdapter", "MedOlderAdapter"]},
        {"id": "3"}]})"),
      &error);
  ASSERT_TRUE(config);
  EXPECT_FALSE(error);
  EXPECT_TRUE(config->adType()->isInterstitial());
  const auto& n = config->adNetworkConfigs();
  ASSERT_EQ(n.size(), 3u);
  EXPECT_EQ(n[0]->adapterClass()->name(), "MedNewAdapter");
  EXPECT_FALSE(n[1]->adapterClass());
  EXPECT_FALSE(n[2]->adapterClass());
  const auto lines = logged();
  auto has = [&](const std::string& text) {
    for (const auto& l : lines)
      if (l.find(text) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(has("Ad network adapter MedOldAdapter implements an old API. Please update the adapter."));
  // The second network names the old adapter reported already, and one more.
  EXPECT_TRUE(has("Ad network adapter MedOlderAdapter implements an old API. Please update the adapter. No valid "
                  "adapters found for this ad network."));
  EXPECT_TRUE(has("Cannot find an ad network adapter with the name(s): "));
  EXPECT_EQ(QMAMAdNetworkAdapterClasses::availableAdapterNamesInSet({"MedNewAdapter", "MedNotAnAdapter", "Missing"}),
            (std::set<std::string>{"MedNewAdapter"}));
}

// The server decides how many networks and names an answer holds: each name reaches the
// log once, cut to a readable length, and the lines of one answer are bounded.
TEST_F(Mediation, AnAnswersAdapterNamesReachTheLogOnceEachCutAndInBoundedLines) {
  const std::string longName = "Ghost" + std::string(10000, 'x');
  nlohmann::json networks = nlohmann::json::array();
  for (int i = 0; i < 3000; ++i) networks.push_back({{"id", std::to_string(i)}, {"adapters", {longName, "Missing"}}});
  networks.push_back({{"id", "old"}, {"adapters", {"MedOldAdapter"}}});
  networks.push_back({{"id", "old-again"}, {"adapters", {"MedOldAdapter", "MedNewAdapter"}}});
  for (int i = 0; i < 20; ++i) networks.push_back({{"id", "n" + std::to_string(i)}, {"adapters", {"Name" + std::to_string(i)}}});
  std::optional<QMARequestError> error;
  auto config = QMAMConfig::initWithAppKeyConfigDictError(
      "unit", parse(nlohmann::json({{"ad_networks", networks}}).dump()), &error);
  ASSERT_TRUE(config);
  EXPECT_FALSE(error);
  ASSERT_EQ(config->adNetworkConfigs().size(), 3022u);
  EXPECT_EQ(config->adNetworkConfigs()[3001]->adapterClass()->name(), "MedNewAdapter");

  const auto lines = logged();
  std::size_t ghost = 0, old = 0, named = 0, summary = 0;
  for (const auto& line : lines) {
    if (line.find("adapter") != std::string::npos) {
      EXPECT_LT(line.size(), 400u) << line.substr(0, 400);
    }
    if (line.find("Ghost") != std::string::npos) ++ghost;
    if (line.find("MedOldAdapter") != std::string::npos) ++old;
    if (line.find("Cannot find") != std::string::npos || line.find("old API") != std::string::npos) ++named;
    if (line.find("more ad networks of this mediation response have no usable adapter") != std::string::npos) {
      ++summary;
      EXPECT_NE(line.find(" 12 more"), std::string::npos) << line;
    }
  }
  EXPECT_EQ(ghost, 1u);
  EXPECT_EQ(old, 1u);
  EXPECT_EQ(named, QMAMConfig::kMaximumAdapterLogLines);
  EXPECT_EQ(summary, 1u);

  // A network entry alone (no answer around it) still names its adapters, cut.
  std::optional<QMARequestError> alone;
  QMAMAdNetworkConfig::initWithDictionaryError(parse(nlohmann::json({{"id", "1"}, {"adapters", {longName}}}).dump()), &alone);
  ASSERT_TRUE(alone);
  EXPECT_LT(alone->localizedDescription().size(), 400u);
  EXPECT_NE(alone->localizedDescription().find("Ghostxxx"), std::string::npos);
}

TEST_F(Mediation, TheAdaptersSentWithRequestsAreBannerAndInterstitialAdaptersOnly) {
  // A host adapter whose superclass adopts the protocol, a reward-only adapter, a class that
  // is no adapter at all and a name without a class.
  auto base = runtime::Class::make("MedHostAdapterBase");
  base->addProtocol(kQMAMAdNetworkAdapterProtocol);
  runtime::objc_registerClassPair(base);
  runtime::objc_registerClassPair(runtime::Class::make("MedHostAdapter", base));
  auto reward = runtime::Class::make("MedRewardOnlyAdapter");
  reward->addProtocol(kQMAMRewardBasedVideoAdNetworkAdapterProtocol);
  runtime::objc_registerClassPair(reward);
  QMAServerConstants::updateAvailableAdapterNamesWithPotentialAdapterNames(
      "MedHostAdapter, MedRewardOnlyAdapter, MedNotAnAdapter, NoSuchClass");
  const auto names = QMAApplication::sharedInstance()->availableAdapterNames();
  for (const char* name : {"MedHostAdapterBase", "MedHostAdapter", "MedRewardOnlyAdapter"})
    runtime::objc_disposeClassPair(name);
  ASSERT_TRUE(names);
  // The built-in adapters are listed too once they are registered (another test may have).
  std::set<std::string> listed(names->begin(), names->end());
  for (const char* builtIn : {"QMAMAdapterQuillonPelmarkAds", "QMAMAdapterCustomEvents", "QMAMAdapterHTML", "QMAMAdURLAdapter"})
    listed.erase(builtIn);
  EXPECT_EQ(listed, std::set<std::string>{"MedHostAdapter"});
}

TEST_F(Mediation, PingTemplatesExpandEveryMacroInOrderAndLeaveWhatHasNoValue) {
  struct Row {
    const char* templ;
    std::optional<std::string> allocation, qdata, exitCodes, durations;
    bool refresh;
    std::optional<std::string> url;  // none: no URL
  };
  const Row rows[] = {
      {"http://e.test/p?l=@fk_adlocid@&q=@fk_qdata@&n=@fk_adnetid@&r=@fk_adnetrefresh@", "a", "qd", "1,4", "10,20", true,
       "http://e.test/p?l=unit&q=qd&n=net&r=1"},
      {"http://e.test/p?a=@fk_allocid@&aec=@fk_aec@&adt=@fk_adt@&d=@fk_devid@", std::nullopt, std::nullopt, std::nullopt,
       std::nullopt, false, "http://e.test/p?a=@fk_allocid@&aec=@fk_aec@&adt=@fk_adt@&d="},
      {"http://e.test/p?aec=@fk_aec@&adt=@fk_adt@&s=@fk_seqnum@&v=@fk_sdkver@&x=@@fk_qdata@@", "a", "qd", "3,3,4", "5,6,7",
       false, "http://e.test/p?aec=3,3,4&adt=5,6,7&s=9&v=qvra-sdk-i-v7.4.1&x=@@fk_qdata@@"},
      {"http://e.test/p?a=@fk_allocid@&unknown=@fk_other@&sid=@fk_sessid@", "alloc", "", std::nullopt, std::nullopt, false,
       "http://e.test/p?a=alloc&unknown=@fk_other@&sid=sess"},
      {"", "a", "qd", std::nullopt, std::nullopt, false, std::nullopt},
      {"not a url at all", "a", "qd", std::nullopt, std::nullopt, false, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.templ);
    auto url = QMAMUtilities::mediationURLFrom(row.templ, "unit", row.refresh, row.allocation, "net", row.qdata, "sess",
                                               "9", row.exitCodes, row.durations);
    ASSERT_EQ(url.has_value(), row.url.has_value());
    if (url) {
      EXPECT_EQ(url->absoluteString(), *row.url);
    }
  }
}

TEST_F(Mediation, AdTypeNamesAreExactAndAnythingElseIsAnInvalidBanner) {
  EXPECT_TRUE(QMAMConfig::adTypeFromString("interstitial")->isInterstitial());
  EXPECT_TRUE(QMAAdSizeEqualToSize(QMAMConfig::adTypeFromString("mrec")->adSize(), kQMAAdSizeMediumRectangle));
  for (const char* name : {"Interstitial", "", "banner "}) {
    auto type = QMAMConfig::adTypeFromString(std::string(name));
    EXPECT_FALSE(type->isInterstitial()) << name;
    EXPECT_FALSE(type->isValid()) << name;
  }
  EXPECT_FALSE(QMAMConfig::adTypeFromString(std::nullopt)->isValid());
}

TEST_F(Mediation, PingsExpandTheirMacrosAndUseTheDefaultOnlyWithoutAList) {
  adserver::AdServer server;
  ASSERT_TRUE(server.start());
  setenv("WARDVANE_AD_NETWORK_URL", server.baseURL().c_str(), 1);
  const std::string base = server.baseURL();
  QMATrackMediationURLsFromTemplates(foundation::Array{base + "/a?q=@fk_qdata@&n=@fk_adnetid@&r=@fk_adnetrefresh@&x=@@",
                                                       7, base + "/b?loc=@fk_adlocid@&aec=@fk_aec@"},
                                     QMAMUtilities::defaultTemplate(kQMAMClickTemplatePath), "net-9", std::nullopt,
                                     std::nullopt, std::nullopt, true, std::nullopt, std::nullopt);
  QMATrackMediationURLsFromTemplates(foundation::Array{}, QMAMUtilities::defaultTemplate(kQMAMClickTemplatePath),
                                     std::nullopt, std::nullopt, "qd", "unit", false, std::nullopt, std::nullopt);
  QMATrackMediationURLsFromTemplates(std::nullopt, QMAMUtilities::defaultTemplate(kQMAMNoFillTemplatePath), std::nullopt,
                                     std::nullopt, "qd", "unit", false, "5", "3");
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return server.requests().size() >= 3; }));
  for (int i = 0; i < 10; ++i) dispatch::RunLoop::main().runOnce(0.01);
  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_TRUE(server.requestsForPath("/clk").empty());  // an empty list sends nothing
  ASSERT_EQ(server.requestsForPath("/a").size(), 1u);
  EXPECT_EQ(server.requestsForPath("/a")[0].query.rfind("q=&n=net-9&r=1&x=@@", 0), 0u);
  EXPECT_EQ(server.requestsForPath("/b")[0].query, "loc=@fk_adlocid@&aec=@fk_aec@");
  const std::string nofill = server.requestsForPath("/nofill")[0].query;
  EXPECT_EQ(nofill.rfind("ad_loc=unit&qdata=qd&js=qvra-sdk-i-v7.4.1&session_id=", 0), 0u) << nofill;
  EXPECT_NE(nofill.find("&aec=3&adt=5"), std::string::npos) << nofill;
  server.stop();
  unsetenv("WARDVANE_AD_NETWORK_URL");
}

}  // namespace
