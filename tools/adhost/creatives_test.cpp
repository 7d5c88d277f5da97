// The test creatives of adserver (tools/adserver/creatives/) shown in the real adhost, each in
// a publisher-edition medium rectangle: every one reaches its working state (its app event,
// its beacon at the server) and draws what it should where it should, read from the pixels
// of a snapshot. The click creative is pressed by a finger and its listeners answer.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/uikit/image.h"
#include "tools/adhost/adhost_test_support.h"
#include "tools/adserver/ad_server.h"
#include "tools/testsupport/driven_process.h"

namespace {

using adhost_test::Colour;
using adhost_test::colourAt;
using adhost_test::near;

// A point of the 300 x 250 ad (in points) and the colour the creative draws there.
struct Spot {
  double x, y;
  Colour colour;
};

constexpr Colour kReady{0, 160, 80};

struct Creative {
  const char* unit;
  std::vector<Spot> spots;
};
void PrintTo(const Creative& creative, std::ostream* out) { *out << creative.unit; }

// What each creative draws once it works (docs/adserver.md, "Test creatives"), away from
// edges and text.
const Creative kCreatives[] = {
    {"dom", {{20, 30, {48, 96, 255}}, {60, 30, {255, 144, 0}}, {100, 30, {128, 0, 192}}, {250, 200, kReady}}},
    {"docwrite", {{30, 30, {224, 64, 128}}, {90, 30, {96, 192, 32}}, {150, 30, {32, 128, 160}}, {250, 200, kReady}}},
    {"image", {{24, 24, {230, 30, 30}}, {72, 24, {30, 200, 60}}, {24, 72, {40, 70, 220}}, {72, 72, {250, 200, 20}},
               {250, 200, kReady}}},
    {"layout", {{30, 40, {200, 40, 40}}, {150, 40, {40, 160, 200}}, {260, 40, {120, 80, 20}}, {100, 120, {250, 120, 180}},
                {270, 120, {250, 120, 180}}, {250, 200, kReady}}},
    {"frames", {{180, 120, {230, 90, 0}}, {20, 120, kReady}, {250, 200, kReady}}},
    {"canvas", {{5, 5, {20, 30, 60}}, {80, 80, {20, 30, 60}}, {150, 50, {255, 204, 0}}, {25, 135, {90, 200, 120}},
                {130, 130, kReady}, {250, 200, kReady}}},
    {"modern", {{50, 35, {10, 120, 60}}, {150, 35, {160, 20, 90}}, {250, 35, {0, 0, 0}}, {250, 200, kReady}}},
    {"dollar", {{30, 30, {255, 110, 0}}, {90, 30, {255, 110, 0}}, {150, 30, kReady}, {30, 85, {0, 90, 200}},
                {250, 200, kReady}}},
};

class CreativesTest : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override { return scenarioFile("creatives.json"); }
  // The query of the first request to `path`, once it came (at most 30 s of real I/O);
  // "<none>" when none did.
  std::string beacon(const std::string& path) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && server_->requestsForPath(path).empty())
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto requests = server_->requestsForPath(path);
    return requests.empty() ? "<none>" : requests.front().query;
  }
  // Shows the creative of `unit` as the medium rectangle `name` and waits until it says it
  // works.
  void show(const std::string& name, const std::string& unit) {
    expect("kvr-banner " + name + " mrec unit " + unit, "ok " + name + " KVRBannerView");
    expect("load " + name, "ok loading");
    expect("wait " + name + " adViewDidReceiveAd", "ok " + name + " adViewDidReceiveAd:");
    // The creative's app event may have come before the ad's arrival was heard, or comes now.
    const std::string ready = name + " adView:didReceiveAppEvent:withInfo: name=" + unit + " info=ready";
    if (send("events " + name).find(ready) == std::string::npos) {
      const std::string answer = send("wait " + name + " adView:didReceiveAppEvent:withInfo:");
      EXPECT_EQ(answer, "ok " + ready) << "the creative's own account: " << beacon("/beacon/" + unit)
                                       << "\n  log: " << send("log");
    }
    EXPECT_EQ(beacon("/beacon/" + unit), "state=ready");
  }
  // A snapshot of the ad `name`, decoded.
  std::shared_ptr<uikit::Image> snapshot(const std::string& name) {
    const auto file = root_ / (name + "-" + std::to_string(shots_++) + ".png");
    expect("snapshot " + name + " " + file.string(), "ok snapshot " + name + " ");
    std::ifstream in(file, std::ios::binary);
    foundation::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return uikit::Image::imageWithData(bytes);
  }
  static std::string text(const Colour& c) {
    return std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]);
  }
  void expectSpots(const uikit::Image& image, const std::string& unit, const std::vector<Spot>& spots) {
    ASSERT_EQ(image.pixelWidth() * 250, image.pixelHeight() * 300) << "a 300 x 250 ad";
    for (const auto& spot : spots) {
      const Colour seen = colourAt(image, spot.x, spot.y, 300.0);
      EXPECT_TRUE(near(seen, spot.colour)) << unit << " at " << spot.x << "," << spot.y << ": " << text(seen)
                                           << ", not " << text(spot.colour);
    }
  }

  int shots_ = 0;
};

class EachCreative : public CreativesTest, public ::testing::WithParamInterface<Creative> {};

TEST_P(EachCreative, ReachesItsWorkingStateAndDrawsWhatItShould) {
  const Creative& creative = GetParam();
  show("ad", creative.unit);
  auto image = snapshot("ad");
  ASSERT_TRUE(image);
  expectSpots(*image, creative.unit, creative.spots);
}

INSTANTIATE_TEST_SUITE_P(Creatives, EachCreative, ::testing::ValuesIn(kCreatives),
                         [](const ::testing::TestParamInfo<Creative>& row) { return std::string(row.param.unit); });

TEST_F(CreativesTest, AFingerOnTheClickCreativeRunsItsHandlersAndOpensItsLandingPage) {
  show("ad", "click");
  auto before = snapshot("ad");
  ASSERT_TRUE(before);
  expectSpots(*before, "click", {{10, 10, kReady}, {150, 200, {240, 192, 0}}});
  EXPECT_TRUE(server_->requestsForPath("/beacon/click/pressed").empty());

  expect("clock advance 1", "ok clock");  // a click counts once the ad has been shown a moment
  expect("tap ad at 150,125", "ok tapped ad at 150,125");
  // The inline handler, then the listener, each once, for a trusted press in the ad's middle.
  EXPECT_EQ(beacon("/beacon/click/pressed"), "heard=inline%3Aclick%2Clistener%3Acta&trusted=true&x=150&y=125");
  expect("wait ad adViewWillLeaveApplication", "ok ad adViewWillLeaveApplication:");
  EXPECT_NE(beacon("/ping/creative-click"), "<none>");
  auto after = snapshot("ad");
  ASSERT_TRUE(after);
  expectSpots(*after, "click", {{150, 200, {0, 80, 208}}});
}

}  // namespace
