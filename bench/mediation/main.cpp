// A mediation waterfall over ten networks in which the first nine fail at once and the
// tenth fills, from the response's body to the slot told it has an ad, next to the bare
// cost of reading the same configuration from its JSON. The waterfall's own work (a
// connector, an adapter and a time-out per network, the exit codes) should cost at most
// twice the parsing: target ratio at most 3.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ads/mediation/ad_manager.h"
#include "bench/options/options.h"
#include "ads/mediation/test_adapters.h"
#include "ads/slots/slot.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/bundle.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Owner : QMASlotDelegate, QMASlotAdEventDelegate, QMAAdMediationDelegate {
  int finished = 0;
  QMASlotOwnerFormat slotOwnerFormat() const override { return QMASlotOwnerFormat::Banner; }
  void slotFinishedLoadingAdContent(QMASlot&) override { ++finished; }
  void slotDidFailToLoadAdContentWithError(QMASlot&, const QMARequestError&) override {}
  std::string connectorClassForAd(const std::shared_ptr<QMAAd>&) override { return QMAMAdNetworkConnectorBanner::kClassName; }
};

// Ten networks with credentials and templates as a server sends them; nine fail, one fills.
// The ping templates expand to nothing, so no ping leaves the machine.
std::string configuration() {
  std::string networks;
  for (int i = 0; i < 10; ++i) {
    if (i) networks += ",";
    networks += R"({"id": ")" + std::to_string(1000 + i) + R"(", "allocation_id": "alloc-)" + std::to_string(i) +
                R"(", "data": {"pubid": "pub-)" + std::to_string(i) +
                R"(", "app_id": "ca-app-0000000000", "fennik_share_location": "1"}, "extras": {"k": "v"},)" +
                R"( "imp_urls": [""], "clickurl": [""], "adapters": ["NoSuchAdapter", ")" +
                (i < 9 ? mediation_test::kNoFillAdapter : mediation_test::kFillAdapter) + R"("]})";
  }
  return R"({"ad_type": "banner", "qdata": "q-0123456789abcdef", "settings": {"refresh": 60,)"
         R"( "ad_network_timeout_millis": 5000, "imp_urls": [""], "click_urls": [""], "nofill_urls": [""]},)"
         R"( "ad_networks": [)" +
         networks + "]}";
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  bench::parseOptionsOrExit(argc, argv, {}, 0, "bench_mediation");
  // The statistics the waterfall keeps are written through to the preferences file; a
  // memory file system keeps the disk out of the figure.
  char root[] = "/dev/shm/wv-bench-mediation-XXXXXX";
  if (!mkdtemp(root)) return 1;
  setenv("WARDVANE_DEVICE_ROOT", root, 1);
  setenv("WARDVANE_AD_NETWORK_URL", "http://127.0.0.1:9", 1);
  foundation::Bundle::main().setBundleIdentifier("com.example.bench");
  dispatch::RunLoop::main();
  mediation_test::registerTestAdapters();
  QMAMAdManager::install();

  auto owner = std::make_shared<Owner>();
  auto slot = QMASlot::initWithFrame({{0, 0}, {320, 50}});
  slot->setSlotDelegate(owner);
  slot->setAdEventDelegate(owner);
  slot->setAdUnitID("bench-unit");
  slot->setAdType(QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner));
  auto ad = QMAAd::init();
  ad->setMediationDelegate(owner);
  slot->setAd(ad);
  auto manager = std::dynamic_pointer_cast<QMAMAdManager>(slot->mediationManager());
  const std::string body = configuration();

  constexpr int kRounds = 15;
  constexpr int kPerRound = 50;
  // With the slot's statistics (each adapter timing is written through to the preferences
  // file, as on a device) and without them (the mediation's own work).
  const auto stats = slot->slotStats();
  std::vector<double> parse, waterfall, bare;
  for (int round = 0; round < kRounds; ++round) {
    auto start = Clock::now();
    for (int i = 0; i < kPerRound; ++i) {
      std::optional<QMARequestError> error;
      auto config = manager->configurationWithAppKeyBodyError("bench-unit", body, &error);
      if (!config) return 2;
    }
    parse.push_back(std::chrono::duration<double>(Clock::now() - start).count() / kPerRound);

    const int before = owner->finished;
    start = Clock::now();
    for (int i = 0; i < kPerRound; ++i) {
      std::optional<QMARequestError> error;
      auto config = manager->configurationWithAppKeyBodyError("bench-unit", body, &error);
      manager->cancel();
      manager->mediateForAdTypeConfig(slot->adType(), config);
    }
    waterfall.push_back(std::chrono::duration<double>(Clock::now() - start).count() / kPerRound);
    slot->setSlotStats(nullptr);
    start = Clock::now();
    for (int i = 0; i < kPerRound; ++i) {
      std::optional<QMARequestError> error;
      auto config = manager->configurationWithAppKeyBodyError("bench-unit", body, &error);
      manager->cancel();
      manager->mediateForAdTypeConfig(slot->adType(), config);
    }
    bare.push_back(std::chrono::duration<double>(Clock::now() - start).count() / kPerRound);
    slot->setSlotStats(stats);
    if (owner->finished - before != 2 * kPerRound) {
      std::fprintf(stderr, "waterfalls ended without the tenth network's ad: %d of %d\n", owner->finished - before, kPerRound);
      return 3;
    }
    dispatch::RunLoop::main().drain();
  }
  const double p = median(parse);
  const double w = median(waterfall);
  std::printf("parse configuration (10 networks): %.1f us\n", p * 1e6);
  std::printf("waterfall, 9 fail at once, 10th fills (parse included): %.1f us\n", w * 1e6);
  const double b = median(bare);
  std::printf("the same without slot statistics: %.1f us\n", b * 1e6);
  std::printf("ratio waterfall / parse: %.2f (target <= 3)\n", w / p);
  std::printf("ratio without slot statistics: %.2f\n", b / p);
  manager->cancel();
  dispatch::RunLoop::main().drain();
  std::filesystem::remove_all(root);
  return 0;
}
