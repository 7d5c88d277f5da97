// MRAID creatives of adserver in the real adhost on the engine: each banner gets our script
// through the script interceptor and speaks MRAID to the ad component, which carries out
// what it asks. What the creative heard is read from its page; what the user sees from
// snapshots of the screen.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/uikit/image.h"
#include "tools/adhost/adhost_test_support.h"
#include "tools/adserver/ad_server.h"
#include "tools/testsupport/driven_process.h"

namespace {

using Colour = std::array<int, 3>;

class MRAIDHost : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override { return scenarioFile("mraid.json"); }
  // The value of script in the page of `name`.
  std::string js(const std::string& name, const std::string& script) {
    const std::string answer = send("js " + name + " " + script);
    const std::string head = "ok " + name + " js ";
    EXPECT_EQ(answer.rfind(head, 0), 0u) << answer;
    return answer.rfind(head, 0) == 0 ? answer.substr(head.size()) : answer;
  }
  // Until the script's value is `want` (at most 20 s of real time: the page's own timers
  // and the engine run on real time); the last value seen.
  std::string until(const std::string& name, const std::string& script, const std::string& want) {
    std::string seen;
    for (int i = 0; i < 400; ++i) {
      seen = js(name, script);
      if (seen == want) return seen;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return seen;
  }
  // A banner of `unit` at the top left of the screen, 100 points down, its creative ready.
  void show(const std::string& name, const std::string& unit, const std::string& size) {
    expect("kvr-banner " + name + " " + size + " at 0,100 unit " + unit, "ok " + name + " KVRBannerView");
    expect("load " + name, "ok loading");
    expect("wait " + name + " adViewDidReceiveAd", "ok " + name + " adViewDidReceiveAd:");
    ASSERT_EQ(until(name, "typeof mraid === 'object' ? mraid.getState() : 'no script'", "default"), "default")
        << send("log");
  }
  std::shared_ptr<uikit::Image> screen() {
    const auto file = root_ / ("screen-" + std::to_string(shots_++) + ".png");
    expect("snapshot " + file.string(), "ok snapshot screen ");
    std::ifstream in(file, std::ios::binary);
    foundation::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return uikit::Image::imageWithData(bytes);
  }
  // The colour at a point of the screen (in points).
  static Colour colourAt(const uikit::Image& image, double x, double y, double screenWidth = 375) {
    const double scale = image.pixelWidth() / screenWidth;
    const auto px = static_cast<std::size_t>(x * scale + scale / 2), py = static_cast<std::size_t>(y * scale + scale / 2);
    const std::size_t at = (py * image.pixelWidth() + px) * 4;
    return {image.rgba()[at], image.rgba()[at + 1], image.rgba()[at + 2]};
  }
  static bool near(const Colour& a, const Colour& b) {
    for (int i = 0; i < 3; ++i)
      if (std::abs(a[i] - b[i]) > 6) return false;
    return true;
  }
  static std::string text(const Colour& c) {
    return std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]);
  }
  void expectColour(const uikit::Image& image, double x, double y, const Colour& colour, bool is = true) {
    const Colour seen = colourAt(image, x, y);
    EXPECT_EQ(near(seen, colour), is) << "at " << x << "," << y << ": " << text(seen) << (is ? ", not " : ", yet ")
                                      << text(colour);
  }

  int shots_ = 0;
};

constexpr Colour kResizing{51, 102, 204};    // #36c

TEST_F(MRAIDHost, ABannerResizesInsideTheScreenAndIsRefusedBeyondIt) {
  show("ad", "resizing", "banner");
  // Too large for any screen before anything: refused, and the banner stays as it is.
  js("ad", "wvTapTooLarge()");
  EXPECT_EQ(until("ad", "failures.length", "1"), "1");
  EXPECT_EQ(js("ad", "failures[0]"),
            "setResizeProperties: Received invalid resize properties {width: 5000, height: 5000, offsetX: 0, offsetY: 0, "
            "customClosePosition: top-right, allowOffscreen: false}");
  EXPECT_EQ(js("ad", "mraid.getState()"), "default");

  js("ad", "mraid.setResizeProperties(wide)");
  expect("clock advance 1", "ok clock");
  expect("tap ad at 160,25", "ok tapped ad at 160,25");
  EXPECT_EQ(until("ad", "innerWidth + 'x' + innerHeight", "320x250"), "320x250") << js("ad", "failures.join('|')");
  // The creative hears of it once the ad has slid in.
  expect("clock advance 1", "ok clock");
  EXPECT_EQ(until("ad", "mraid.getState()", "resized"), "resized") << send("log");
  auto resized = screen();
  ASSERT_TRUE(resized);
  expectColour(*resized, 160, 125, kResizing);
  expectColour(*resized, 160, 330, kResizing);   // grown down to 350
  expectColour(*resized, 160, 380, kResizing, false);
  expectColour(*resized, 350, 200, kResizing, false);  // beside it the host shows

  // While resized: too large again is refused in place, and the ad keeps its size.
  js("ad", "wvTapTooLarge()");
  EXPECT_EQ(until("ad", "failures.length", "2"), "2");
  EXPECT_EQ(js("ad", "mraid.getState() + ' ' + innerHeight"), "resized 250");
  js("ad", "mraid.close()");
  expect("clock advance 1", "ok clock");
  EXPECT_EQ(until("ad", "mraid.getState()", "default"), "default");
  auto back = screen();
  ASSERT_TRUE(back);
  expectColour(*back, 160, 125, kResizing);
  expectColour(*back, 160, 330, kResizing, false);
}

TEST_F(MRAIDHost, APictureIsStoredOnlyWhenTheUserSaysSo) {
  show("ad", "picture", "mrec");
  auto downloads = [&] { return server_->requestsForPath("/creatives/picture.png").size(); };
  const std::size_t shown = downloads();
  EXPECT_GE(shown, 1u) << "the creative shows the picture itself";
  auto answer = [&](const std::string& title) {
    std::string answered;
    for (int i = 0; i < 200 && (answered = send("answer " + title)).rfind("ok", 0) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return answered;
  };
  js("ad", "wvTap()");
  EXPECT_EQ(answer("Cancel"), "ok answered Cancel");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(downloads(), shown) << "refused: nothing downloaded";
  // The same picture is not offered again while the first question's answer stands, so the
  // creative offers another address of it.
  js("ad", "mraid.storePicture(location.origin + '/creatives/picture.png?again')");
  EXPECT_EQ(answer("Save"), "ok answered Save");
  for (int i = 0; i < 200 && server_->requestsForPath("/creatives/picture.png").size() == shown; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(downloads(), shown + 1) << "allowed: downloaded for the album";
  EXPECT_EQ(js("ad", "failures.join('|')"), "");
}

TEST_F(MRAIDHost, AVideoPlaysInsideTheAdAndItsFileIsKeptAhead) {
  show("ad", "video", "mrec");
  js("ad", "wvPlayInside()");
  // The item may be ready before or after the page's play message arrives (each message
  // is a turn of the page of its own): both events come, in either order.
  EXPECT_EQ(until("ad", "videoEvents.slice(0, 2).sort().join(',')", "canplaythrough,play"), "canplaythrough,play")
      << send("log");
  expect("clock advance 0.25", "ok clock");
  EXPECT_EQ(until("ad", "videoEvents[2]", "timeupdate 0.250000"), "timeupdate 0.250000");
  expect("clock advance 10", "ok clock");
  EXPECT_EQ(until("ad", "videoEvents[videoEvents.length - 1]", "ended"), "ended");
  EXPECT_EQ(js("ad", "videoEvents[videoEvents.length - 2]"), "pause");

  js("ad", "wvPrecache('/creatives/quadrants.png')");
  EXPECT_EQ(until("ad", "precacheEvents.length ? precacheEvents[precacheEvents.length - 1].split(' ')[0] : ''",
                  "precacheComplete"),
            "precacheComplete");
  const std::string first = js("ad", "precacheEvents[0]");
  EXPECT_EQ(first.rfind("precacheProgress 0 ", 0), 0u) << first;
  const std::string size = std::to_string(std::filesystem::file_size(std::string(WV_ADSERVER_SCENARIOS_DIR) +
                                                                     "/../creatives/quadrants.png"));
  EXPECT_EQ(js("ad", "precacheEvents[precacheEvents.length - 1]"), "precacheComplete " + size + " " + size);
}

}  // namespace
