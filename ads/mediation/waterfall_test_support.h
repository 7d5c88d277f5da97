#pragma once
// The waterfall tests' fixture: the formats' fixture with the test adapter classes
// registered and mediation installed, and scenarios that answer every ad request with a
// mediation configuration.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "ads/mediation/ad_manager.h"
#include "ads/mediation/test_adapters.h"
#include "ads/slots/format_test_support.h"

namespace waterfall_test {

using formats_test::FormatFixture;
using mediation_test::kFillAdapter;
using mediation_test::kNoFillAdapter;
using mediation_test::kSilentAdapter;
using mediation_test::kTwiceAdapter;
using mediation_test::TestAdapter;
using nlohmann::json;

// The value of `key` in a ping's query, as sent (not unescaped); "(absent)" without it.
inline std::string queryValue(const std::string& query, const std::string& key) {
  const auto at = ("&" + query).find("&" + key + "=");
  if (at == std::string::npos) return "(absent)";
  const auto start = at + key.size() + 1;
  return query.substr(start, query.find('&', start) - start);
}

inline json networkEntry(const std::string& id, const char* adapter, json data = json::object()) {
  return {{"id", id}, {"data", std::move(data)}, {"adapters", json::array({"NoSuchAdapter", adapter})}};
}

inline json waterfallScenario(const json& config) {
  return {{"ads", {{"m", {{"response_type", "mediation"}, {"body", config.dump()}}}}}, {"default_ad", "m"}};
}

inline json configFor(const std::string& adType, json networks, json settings = json::object()) {
  return {{"ad_type", adType}, {"qdata", "qd"}, {"settings", std::move(settings)}, {"ad_networks", std::move(networks)}};
}

struct Waterfall : FormatFixture {
  void SetUp() override {
    mediation_test::registerTestAdapters();
    QMAMAdManager::install();
    FormatFixture::SetUp();
  }
  void TearDown() override {
    FormatFixture::TearDown();
    QMASlot::setMediationManagerFactory(nullptr);
    mediation_test::unregisterTestAdapters();
  }
  static std::shared_ptr<QMAMAdManager> managerOf(const std::shared_ptr<QMASlot>& slot) {
    return std::dynamic_pointer_cast<QMAMAdManager>(slot->mediationManager());
  }
  static std::shared_ptr<TestAdapter> adapter(std::size_t i) {
    return i < TestAdapter::live().size() ? TestAdapter::live()[i].lock() : nullptr;
  }
  static std::optional<std::string> askedNetwork(const std::shared_ptr<QMAMAdManager>& manager) {
    const auto& c = manager->requestingConnector();
    return c ? c->networkConfig()->networkID() : std::nullopt;
  }
  // The query of the first ping to `path`, once it arrived.
  std::string ping(const std::string& path, std::size_t n = 1) {
    EXPECT_TRUE(pump([&] { return server->requestsForPath(path).size() >= n; })) << path;
    const auto pings = server->requestsForPath(path);
    return pings.size() >= n ? pings[n - 1].query : "";
  }
  static std::string valueIn(const std::string& query, const std::string& key) { return queryValue(query, key); }
};

}  // namespace waterfall_test
