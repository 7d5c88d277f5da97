// An MRAID banner's state and geometry in the real adhost on the engine: what the creative
// reads of its position, size and screen when it hears "ready", a state change or a size
// change; a resize that grows into an expand and closes back into the banner; a second
// resize in place; and a banner that closes itself in its default state. What the creative
// heard is read from its page; what the user sees from snapshots of the screen.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
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

constexpr Colour kAd{204, 102, 170};  // #c6a, the state banner
constexpr Colour kHost{255, 255, 255};

class MRAIDStateHost : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override { return scenarioFile("mraid-state.json"); }
  std::string js(const std::string& script) { return HostedAdsTest::js("ad", script); }
  // Until the script's value is `want`, the hand clock moving 0.05 s a try (slide-ins and
  // fades run on it), at most 20 s of real time; the last value seen.
  std::string until(const std::string& script, const std::string& want) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string seen;
    for (;;) {
      seen = js(script);
      if (seen == want || std::chrono::steady_clock::now() >= deadline) return seen;
      send("clock advance 0.05");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // The state banner at 0,100 (320 x 50) on the 375 x 667 screen under its 20-point status
  // bar, its creative ready.
  void show() {
    expect("kvr-banner ad banner at 0,100 unit state", "ok ad KVRBannerView");
    expect("load ad", "ok loading");
    expect("wait ad adViewDidReceiveAd", "ok ad adViewDidReceiveAd:");
    ASSERT_EQ(until("typeof mraid === 'object' ? mraid.getState() : 'no script'", "default"), "default")
        << send("log");
  }
  std::shared_ptr<uikit::Image> screen() {
    const auto file = root_ / ("state-screen-" + std::to_string(shots_++) + ".png");
    expect("snapshot " + file.string(), "ok snapshot screen ");
    std::ifstream in(file, std::ios::binary);
    foundation::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return uikit::Image::imageWithData(bytes);
  }
  // Snapshots until the colour at the point is (or is not) `colour`, the hand clock moving
  // 0.05 s a try: a page draws when the engine gets to it. At most 20 s of real time.
  bool colourUntil(double x, double y, const Colour& colour, bool is = true) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      auto shot = screen();
      if (shot && near(colourAt(*shot, x, y), colour) == is) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      send("clock advance 0.05");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
  }
  int shots_ = 0;
};

// What the creative reads when it hears each event is the ad's actual geometry: its frame
// and the banner's resting frame in the application frame (below the status bar), the
// space it may take and the screen. Expanded, the status bar is hidden and the ad fills
// the screen; the banner's resting frame stays where it was.
TEST_F(MRAIDStateHost, TheCreativeReadsItsRealGeometryWhenItHearsEachEvent) {
  show();
  const std::string rest = " current=0,80,320x50 default=0,80,320x50 max=375x647 screen=375x667 page=320x50";
  EXPECT_EQ(js("heard[0]"), "ready state=default" + rest);
  EXPECT_EQ(js("heard[1]"), "stateChange default state=default" + rest);

  js("wvExpand()");
  // (The page's own size follows when the engine has laid it out anew: not read here.)
  const std::string expanded =
      "stateChange expanded state=expanded current=0,0,375x667 default=0,80,320x50 max=375x667 screen=375x667";
  EXPECT_EQ(until("last('stateChange expanded').replace(/ page=.*/, '')", expanded), expanded)
      << js("heard.join('\\n')");
  // While expanded, samples of its viewability move nothing it reads.
  for (int i = 0; i < 10; ++i) send("clock advance 0.1");
  EXPECT_EQ(js("JSON.stringify(mraid.getDefaultPosition())"), R"({"x":0,"y":80,"width":320,"height":50})");

  expect("close", "ok closed QMAExpandedAdAppViewController");
  const std::string back = "stateChange default state=default" + rest.substr(0, rest.find(" page="));
  EXPECT_EQ(until("last('stateChange default').replace(/ page=.*/, '')", back), back) << js("heard.join('\\n')");
  // Each size change was heard in the state it came with.
  EXPECT_EQ(js("heard.filter(function (h) { return h.indexOf('sizeChange') === 0; }).map(function (h) {"
               " return h.split(' ').slice(0, 3).join(' '); }).join('|')"),
            "sizeChange 375x667 state=expanded|sizeChange 320x50 state=default");

  // Resized: the state change finds the new frame too.
  js("wvResize(320, 250)");
  EXPECT_EQ(until("last('stateChange resized').split(' ').slice(0, 4).join(' ')",
                  "stateChange resized state=resized current=0,80,320x250"),
            "stateChange resized state=resized current=0,80,320x250")
      << js("heard.join('\\n')");
  EXPECT_EQ(js("failures.join('|')"), "");
}

// "expanding" reaches the page ahead of the state "expanded": the completion of the
// presentation comes after the transition, not inside the call that starts it.
TEST_F(MRAIDStateHost, ExpandingComesBeforeTheExpandedState) {
  show();
  js("wvExpand()");
  ASSERT_EQ(until("mraid.getState()", "expanded"), "expanded");
  EXPECT_EQ(js("received.filter(function (r) { return r === 'expanding' || r.indexOf('onStateChanged') === 0; })"
               ".join('|')"),
            "expanding|onStateChanged expanded");
  expect("close", "ok closed QMAExpandedAdAppViewController");
  ASSERT_EQ(until("mraid.getState()", "default"), "default");
}

// A resized ad that expands and then closes: the whole takeover ends. The ad is back in its
// banner in its default state, the host hears the end once, the status bar is back, and a
// finger reaches the banner again (it grows once more).
TEST_F(MRAIDStateHost, AResizedAdThatExpandsClosesBackIntoItsBanner) {
  show();
  expect("tap ad at 160,25", "ok tapped ad at 160,25");
  ASSERT_EQ(until("mraid.getState()", "resized"), "resized") << send("log");
  js("wvExpand()");
  ASSERT_EQ(until("mraid.getState() + ' ' + innerWidth + 'x' + innerHeight", "expanded 375x667"), "expanded 375x667");
  expect("wait ad adViewWillPresentScreen", "ok ad adViewWillPresentScreen:");

  expect("close", "ok closed QMAExpandedAdAppViewController");
  EXPECT_EQ(until("mraid.getState() + ' ' + innerWidth + 'x' + innerHeight", "default 320x50"), "default 320x50");
  expect("clock advance 1", "ok clock");  // the resize fades out
  expect("wait ad adViewDidDismissScreen", "ok ad adViewDidDismissScreen:");
  const std::string events = send("events ad");
  EXPECT_EQ(count(events, "adViewWillPresentScreen"), 1u) << events;
  EXPECT_EQ(count(events, "adViewWillDismissScreen"), 1u) << events;
  EXPECT_EQ(count(events, "adViewDidDismissScreen"), 1u) << events;
  const std::string shown = send("screen");
  EXPECT_NE(shown.find("status-bar=shown"), std::string::npos) << shown;
  EXPECT_EQ(shown.find("full screen"), std::string::npos) << shown;
  EXPECT_TRUE(colourUntil(160, 125, kAd));
  EXPECT_TRUE(colourUntil(160, 200, kHost)) << "nothing of the resize is left over the host";

  // The banner takes touches again: it grows as before.
  expect("tap ad at 160,25", "ok tapped ad at 160,25");
  EXPECT_EQ(until("mraid.getState() + ' ' + innerWidth + 'x' + innerHeight", "resized 320x250"), "resized 320x250");
  js("mraid.close()");
  EXPECT_EQ(until("mraid.getState()", "default"), "default");
  EXPECT_EQ(js("failures.join('|')"), "");
}

// A second resize in place: the page and the view take the new size, and nothing of the
// old size shows around it.
TEST_F(MRAIDStateHost, ASecondResizeInPlaceTakesTheNewSize) {
  show();
  js("wvResize(320, 250)");
  ASSERT_EQ(until("mraid.getState() + ' ' + innerWidth + 'x' + innerHeight", "resized 320x250"), "resized 320x250");
  EXPECT_TRUE(colourUntil(160, 330, kAd));
  js("wvResize(300, 200)");
  EXPECT_EQ(until("innerWidth + 'x' + innerHeight + ' ' + JSON.stringify(mraid.getCurrentPosition())",
                  R"(300x200 {"x":0,"y":80,"width":300,"height":200})"),
            R"(300x200 {"x":0,"y":80,"width":300,"height":200})");
  EXPECT_TRUE(colourUntil(150, 290, kAd));
  EXPECT_TRUE(colourUntil(150, 320, kAd, false)) << "below the new height the host shows";
  EXPECT_TRUE(colourUntil(310, 125, kAd, false)) << "beside the new width the host shows";
  EXPECT_TRUE(colourUntil(310, 250, kAd, false));
  js("mraid.close()");
  EXPECT_EQ(until("mraid.getState() + ' ' + innerWidth + 'x' + innerHeight", "default 320x50"), "default 320x50");
  EXPECT_TRUE(colourUntil(310, 125, kAd));
  EXPECT_EQ(js("failures.join('|')"), "");
}

// A banner that closes itself in its default state is hidden: it no longer shows, and it
// says so.
TEST_F(MRAIDStateHost, ABannerClosedInItsDefaultStateNoLongerShows) {
  show();
  EXPECT_TRUE(colourUntil(160, 125, kAd));
  js("wvClose()");
  EXPECT_EQ(until("mraid.getState()", "hidden"), "hidden");
  EXPECT_TRUE(colourUntil(160, 125, kAd, false));
  EXPECT_TRUE(colourUntil(160, 125, kHost));
  js("mraid.close()");
  EXPECT_EQ(js("failures.join('|')"), "close: Cannot close in the state hidden");
}

}  // namespace
