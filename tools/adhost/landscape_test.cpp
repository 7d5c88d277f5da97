// The phone turned, in the real adhost against adserver: full-screen ads and an expanded
// banner follow the interface into landscape (their page's size and orientation, MRAID's
// sizes, the close button's place, the viewability reports, the screen's picture); a
// creative that forces landscape keeps it in its next document; a transparent interstitial
// closes from its close button; a store page whose load fails gives way to its fallback.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/uikit/image.h"

#include "tools/adhost/adhost_test_support.h"
#include "tools/adhost/command.h"
#include "tools/adserver/ad_server.h"

namespace {

class Landscape : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override { return scenarioFile("landscape.json"); }
  // Until the script's value is `want` (at most 20 s of real time; the hand clock moves a
  // little each try, for the turn's animations); the last value seen.
  std::string until(const std::string& name, const std::string& script, const std::string& want) {
    std::string seen;
    for (int i = 0; i < 400; ++i) {
      seen = js(name, script);
      if (seen == want) return seen;
      if (i < 30) send("clock advance 0.1");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return seen;
  }
  // What the page learns of the screen now (its facts(), landscape.html's and
  // landscape-next.html's), until it starts with `want`.
  std::string facts(const std::string& name, const std::string& want) {
    std::string seen;
    for (int i = 0; i < 400; ++i) {
      seen = js(name, "facts()");
      if (seen.rfind(want, 0) == 0) return want;
      if (i < 30) send("clock advance 0.1");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return seen;
  }
  // The viewability reports' geometry the SDK-core page passed on, as query texts.
  std::string vistraceReports(const std::string& what) {
    std::string all;
    for (int i = 0; i < 400; ++i) {
      all.clear();
      for (const auto& r : server_->requestsForPath("/vistrace")) all += r.query + "\n";
      if (all.find(what) != std::string::npos) return all;
      send("clock advance 0.2");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return all;
  }
  // Pictures of the screen until the colour at a point (in points, on a screen
  // `screenWidth` wide) is `rgb` (at most 30 s of real time; the engine draws when it gets
  // to it); whether it came.
  bool screenShows(double x, double y, std::array<int, 3> rgb, double screenWidth) {
    const auto file = root_ / "shot.png";
    for (int i = 0; i < 300; ++i) {
      expect("snapshot " + file.string(), "ok snapshot screen ");
      std::ifstream in(file, std::ios::binary);
      foundation::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      auto image = uikit::Image::imageWithData(bytes);
      if (image) {
        const double scale = image->pixelWidth() / screenWidth;
        const auto px = static_cast<std::size_t>(x * scale), py = static_cast<std::size_t>(y * scale);
        const std::size_t at = (py * image->pixelWidth() + px) * 4;
        if (at + 2 < image->rgba().size() && std::abs(image->rgba()[at] - rgb[0]) <= 6 &&
            std::abs(image->rgba()[at + 1] - rgb[1]) <= 6 && std::abs(image->rgba()[at + 2] - rgb[2]) <= 6)
          return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  void showInterstitial(const std::string& name, const std::string& unit) {
    expect("interstitial " + name + " unit " + unit, "ok " + name + " QMAInterstitial unit=" + unit);
    expect("load " + name, "ok loading " + name);
    expect("wait " + name + " interstitialDidReceiveAd", "ok " + name + " interstitialDidReceiveAd:");
    expect("present " + name, "ok " + name + " full screen");
    expect("wait " + name + " interstitialWillPresentScreen", "ok " + name + " interstitialWillPresentScreen:");
  }
};

TEST(LandscapeCommands, TheDeviceTurnsToFourOrientationsAndTheStoreTakesAnItemNumber) {
  struct Case {
    const char* line;
    long orientation;  // 0: not a rotate command
    long long item;    // -1: not a store command
    bool fails;
  } cases[] = {
      {"rotate portrait", 1, -1, false},        {"rotate upside-down", 2, -1, false},
      {"rotate landscape-left", 3, -1, false},  {"rotate landscape-right", 4, -1, false},
      {"store fail 284882215", 0, 284882215, true}, {"store load 7", 0, 7, false},
  };
  for (const auto& c : cases) {
    auto parsed = adhost::parseCommand(c.line);
    const auto* command = std::get_if<adhost::Command>(&parsed);
    ASSERT_TRUE(command) << c.line;
    if (c.orientation) {
      EXPECT_EQ(command->verb, adhost::Verb::Rotate) << c.line;
      EXPECT_EQ(command->deviceOrientation, c.orientation) << c.line;
    } else {
      EXPECT_EQ(command->verb, adhost::Verb::StorePage) << c.line;
      EXPECT_EQ(command->storeItem, c.item) << c.line;
      EXPECT_EQ(command->on, c.fails) << c.line;
    }
  }
  for (const char* wrong : {"rotate", "rotate sideways", "rotate portrait now", "rotate face-up", "store fail",
                            "store fail -3", "store fail 12x", "store break 12", "store fail 99999999999999999999"}) {
    auto parsed = adhost::parseCommand(wrong);
    const auto* error = std::get_if<adhost::ParseError>(&parsed);
    ASSERT_TRUE(error) << wrong;
    EXPECT_EQ(error->message.rfind("usage: ", 0), 0u) << wrong << ": " << error->message;
  }
}

TEST_F(Landscape, AnInterstitialTurnsWithTheDevice) {
  showInterstitial("full", "landscape");
  EXPECT_EQ(facts("full", "page 375x667 orientation 0 screen 375x667 max 375x"),
            "page 375x667 orientation 0 screen 375x667 max 375x");
  EXPECT_NE(askUntil("screen", "close-button at 325,0 50x50").find("close-button at 325,0 50x50"), std::string::npos);

  expect("rotate landscape-left", "ok rotated landscape-left: interface landscape-right (3), screen 667x375");
  EXPECT_EQ(facts("full", "page 667x375 orientation 90 screen 667x375 max 667x"),
            "page 667x375 orientation 90 screen 667x375 max 667x");
  const std::string screen = askUntil("screen", "close-button at 617,0 50x50");
  EXPECT_NE(screen.find("ok screen 667x375 status-bar=hidden interface=landscape-right device=landscape-left"),
            std::string::npos)
      << screen;
  EXPECT_NE(screen.find("full screen QMAInterstitialViewController of full"), std::string::npos) << screen;
  EXPECT_NE(screen.find("close-button at 617,0 50x50"), std::string::npos) << screen;
  const std::string reports = vistraceReports("screenOrientation=3");
  EXPECT_NE(reports.find("adFormat=interstitial_mb"), std::string::npos) << reports;
  EXPECT_NE(reports.find("screenOrientation=3"), std::string::npos) << reports;
  const std::string picture = (root_ / "landscape.png").string();
  expect("snapshot " + picture, "ok snapshot screen 1334x750 " + picture);
  // The page fills the landscape screen: its white corner sits at the bottom right of it.
  EXPECT_TRUE(screenShows(640, 350, {255, 255, 255}, 667));
  EXPECT_TRUE(screenShows(300, 200, {0x33, 0x66, 0xcc}, 667));

  // The other way round, then upside down, which a phone's application does not take.
  expect("rotate landscape-right", "ok rotated landscape-right: interface landscape-left (4), screen 667x375");
  EXPECT_EQ(facts("full", "page 667x375 orientation -90 screen 667x375 max 667x"),
            "page 667x375 orientation -90 screen 667x375 max 667x");
  expect("rotate upside-down", "ok rotated upside-down: interface landscape-left (4) stays");
  expect("rotate portrait", "ok rotated portrait: interface portrait (1), screen 375x667");
  EXPECT_EQ(facts("full", "page 375x667 orientation 0 screen 375x667 max 375x"),
            "page 375x667 orientation 0 screen 375x667 max 375x");
  expect("close", "ok closed QMAInterstitialViewController");
  expect("wait full interstitialDidDismissScreen", "ok full interstitialDidDismissScreen:");
}

TEST_F(Landscape, ABannerExpandedInLandscapeFillsTheLandscapeScreen) {
  expect("kvr-banner wide banner at 0,100 unit landscape", "ok wide KVRBannerView");
  expect("load wide", "ok loading");
  expect("wait wide adViewDidReceiveAd", "ok wide adViewDidReceiveAd:");
  EXPECT_EQ(until("wide", "typeof mraid === 'object' ? mraid.getState() : 'no script'", "default"), "default");
  expect("clock advance 1", "ok clock");
  expect("rotate landscape-left", "ok rotated landscape-left: interface landscape-right (3), screen 667x375");
  // In its place the banner keeps its size and hears the screen's and its maximum size.
  EXPECT_NE(until("wide", "facts().replace(/.* screen /, 'screen ')", "screen 667x375 max 667x355 default"), "");
  EXPECT_EQ(js("wide", "facts().replace(/.* screen /, 'screen ')"), "screen 667x375 max 667x355 default");
  // The banner's report once the interface has turned (the one from before says 1).
  const std::string reports = vistraceReports("screenOrientation=3");
  EXPECT_NE(reports.find("adFormat=banner_mb"), std::string::npos) << reports;
  EXPECT_NE(reports.find("screenOrientation=3"), std::string::npos) << reports;

  expect("tap wide at 100,25", "ok tapped wide");
  EXPECT_EQ(facts("wide", "page 667x375 orientation 90 screen 667x375 max 667x"),
            "page 667x375 orientation 90 screen 667x375 max 667x");
  const std::string screen = askUntil("screen", "full screen QMAExpandedAdAppViewController");
  EXPECT_NE(screen.find("ok screen 667x375"), std::string::npos) << screen;
  EXPECT_NE(screen.find("full screen QMAExpandedAdAppViewController"), std::string::npos) << screen;
  const std::string picture = (root_ / "expanded.png").string();
  expect("snapshot " + picture, "ok snapshot screen 1334x750 " + picture);
  expect("close", "ok closed QMAExpandedAdAppViewController");
  EXPECT_EQ(facts("wide", "page 320x50 orientation 90 screen 667x375 max 667x355 default"),
            "page 320x50 orientation 90 screen 667x375 max 667x355 default");
}

// The creative asks for landscape only: the interface turns, and a page the creative goes
// to next reads landscape too.
TEST_F(Landscape, ACreativeThatForcesLandscapeKeepsItInItsNextDocument) {
  showInterstitial("forced", "landscape");
  EXPECT_EQ(facts("forced", "page 375x667 orientation 0 screen 375x667 max 375x"),
            "page 375x667 orientation 0 screen 375x667 max 375x");
  expect("tap forced at 325,637", "ok tapped forced");
  EXPECT_EQ(facts("forced", "page 667x375 orientation -90 screen 667x375 max 667x"),
            "page 667x375 orientation -90 screen 667x375 max 667x");
  EXPECT_NE(send("screen").find("interface=landscape-left device=portrait"), std::string::npos);
  expect("rotate portrait", "ok rotated portrait: interface landscape-left (4) stays");

  expect("tap forced at 50,345", "ok tapped forced");
  EXPECT_EQ(facts("forced", "next page 667x375 orientation -90"), "next page 667x375 orientation -90");
  expect("close", "ok closed QMAInterstitialViewController");
}

TEST_F(Landscape, ATransparentInterstitialClosesFromItsCloseButton) {
  showInterstitial("over", "transparent");
  const std::string screen = askUntil("screen", "close-button");
  expect("clock advance 1", "ok clock");  // the card slides in
  EXPECT_NE(screen.find("full screen QMAInterstitialViewController of over shows \"Over the app\" close-button at 0,0 32x32"),
            std::string::npos)
      << screen;
  expect("close", "ok closed QMAInterstitialViewController");
  expect("clock advance 1", "ok clock");  // the card fades out
  expect("wait over interstitialWillDismissScreen", "ok over interstitialWillDismissScreen:");
  expect("wait over interstitialDidDismissScreen", "ok over interstitialDidDismissScreen:");
  EXPECT_EQ(send("screen").find("full screen"), std::string::npos);
  expect("close", "error: nothing is presented");
}

// The store's page shows at once while it loads; when its load fails it goes and the
// creative's fallback address opens instead.
TEST_F(Landscape, AStorePageThatFailsToLoadGivesWayToItsFallback) {
  expect("store fail 284882215", "ok store page 284882215 fails to load");
  expect("kvr-banner shop mrec unit opener-links", "ok shop KVRBannerView");
  expect("load shop", "ok loading");
  expect("wait shop adViewDidReceiveAd", "ok shop adViewDidReceiveAd:");
  expect("clock advance 1", "ok clock");
  expect("tap shop 2", "ok tapped shop link 2 qomb://opener/open?a=in_app_store");
  const std::string screen = askUntil("screen", "opened https://store.example/app/284882215");
  EXPECT_NE(screen.find("opened https://store.example/app/284882215"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("full screen"), std::string::npos) << screen;

  // Loading again, the page stays.
  expect("store load 284882215", "ok store page 284882215 loads");
  expect("tap shop 2", "ok tapped shop link 2");
  const std::string shown = askUntil("screen", "full screen SKStoreProductViewController");
  EXPECT_NE(shown.find("full screen SKStoreProductViewController"), std::string::npos) << shown;
  expect("close", "ok closed SKStoreProductViewController");
}

}  // namespace
