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
#include <functional>
#include <iterator>
#include <thread>
#include <utility>
#include <vector>

#include "platform/uikit/image.h"
#include "tools/adhost/adhost_test_support.h"
#include "tools/adserver/ad_server.h"
#include "tools/testsupport/driven_process.h"

namespace {

using adhost_test::Colour;
using adhost_test::colourAt;
using adhost_test::near;

class MRAIDHost : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override { return scenarioFile("mraid.json"); }
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
  static std::string text(const Colour& c) {
    return std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]);
  }
  void expectColour(const uikit::Image& image, double x, double y, const Colour& colour, bool is = true) {
    const Colour seen = colourAt(image, x, y);
    EXPECT_EQ(near(seen, colour), is) << "at " << x << "," << y << ": " << text(seen) << (is ? ", not " : ", yet ")
                                      << text(colour);
  }

  // The requests of the path the server has seen, once at least `atLeast` came (at most
  // 30 s of real time).
  std::size_t hits(const std::string& path, std::size_t atLeast = 1) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline && server_->requestsForPath(path).size() < atLeast)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return server_->requestsForPath(path).size();
  }

  // Snapshots of the screen until one passes `check` (a page draws when the engine gets to
  // it), at most 30 s of real time; the hand clock moves 0.05 s a try, 3 s at most.
  bool screenUntil(const std::function<bool(const uikit::Image&)>& check) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int tries = 0;; ++tries) {
      auto shot = screen();
      if (shot && check(*shot)) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      if (tries < 60) {
        send("clock advance 0.05");
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }

  // Until the script's value is `want`, the hand clock moving 0.1 s a try (the viewability
  // monitor samples on it), at most 20 s of real time; the last value seen.
  std::string untilOnTheClock(const std::string& name, const std::string& script, const std::string& want) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string seen;
    for (;;) {
      seen = js(name, script);
      if (seen == want || std::chrono::steady_clock::now() >= deadline) return seen;
      send("clock advance 0.1");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  int shots_ = 0;
};

constexpr Colour kResizing{51, 102, 204};    // #36c
constexpr Colour kBanner{34, 170, 102};      // #2a6, the expandable banner
constexpr Colour kExpanded{204, 51, 51};     // #c33, its expanded face
constexpr Colour kSecondPart{102, 51, 153};  // #639, its second part
constexpr Colour kWhite{255, 255, 255};
constexpr Colour kDark{34, 34, 34};          // #222, the interstitial's page

TEST_F(MRAIDHost, ABannerExpandsOverTheWholeScreenAndClosesBackToItsPlace) {
  // Served with the ad network's click protection: the creative may not take the screen
  // on its own, only after a touch.
  show("ad", "expandable-guarded", "banner");
  auto before = screen();
  ASSERT_TRUE(before);
  expectColour(*before, 120, 125, kBanner);
  const Colour host = colourAt(*before, 187, 400);
  EXPECT_FALSE(near(host, kExpanded)) << text(host);

  js("ad", "mraid.expand()");
  EXPECT_EQ(until("ad", "failures.join('|')",
                  "expand: Expanding an ad is not allowed until the user interacts with the ad."),
            "expand: Expanding an ad is not allowed until the user interacts with the ad.");
  EXPECT_EQ(js("ad", "mraid.getState()"), "default");
  expect("clock advance 1", "ok clock");  // a touch counts once the ad has been seen

  // Expanded by a finger on the banner (its own call to expand), closed by its own control.
  // A second time, closed by the host's close button.
  for (const std::string closer : {"creative", "host"}) {
    SCOPED_TRACE(closer);
    expect("tap ad at 120,25", "ok tapped ad at 120,25");
    expect("clock advance 1", "ok clock");
    EXPECT_EQ(until("ad", "mraid.getState()", "expanded"), "expanded") << send("log");
    expect("wait ad adViewWillPresentScreen", "ok ad adViewWillPresentScreen:");
    const std::string shown = askUntil("screen", "full screen QMAExpandedAdAppViewController");
    EXPECT_NE(shown.find("full screen QMAExpandedAdAppViewController"), std::string::npos) << shown;
    EXPECT_EQ(until("ad", "innerWidth + 'x' + innerHeight", "375x667"), "375x667");
    auto expanded = screen();
    ASSERT_TRUE(expanded);
    // Its face fills the screen, its own close control at the top left.
    for (auto [x, y] : std::vector<std::pair<double, double>>{{187, 125}, {187, 400}, {10, 660}, {365, 600}, {200, 30}})
      expectColour(*expanded, x, y, kExpanded);
    expectColour(*expanded, 30, 20, kWhite);

    if (closer == "creative") {
      expect("tap ad at 30,20", "ok tapped ad at 30,20");
    } else {
      expect("close", "ok closed QMAExpandedAdAppViewController");
    }
    expect("clock advance 1", "ok clock");
    EXPECT_EQ(until("ad", "mraid.getState()", "default"), "default") << send("log");
    expect("wait ad adViewDidDismissScreen", "ok ad adViewDidDismissScreen:");
    EXPECT_EQ(send("screen").find("full screen"), std::string::npos);
    EXPECT_EQ(until("ad", "innerWidth + 'x' + innerHeight", "320x50"), "320x50");
    auto back = screen();
    ASSERT_TRUE(back);
    // The banner at its place, the host round it as it was.
    expectColour(*back, 120, 125, kBanner);
    expectColour(*back, 300, 125, kWhite);  // its "More" corner
    expectColour(*back, 187, 400, host);
    expectColour(*back, 350, 125, kBanner, false);
    expectColour(*back, 350, 125, kExpanded, false);
  }
  EXPECT_EQ(js("ad", "states.join(',')"), "default,expanded,default,expanded,default");
  EXPECT_EQ(js("ad", "failures.length"), "1");
}

TEST_F(MRAIDHost, ABannersSecondPartOpensOverTheScreenAndClosesBackToTheBanner) {
  show("ad", "expandable", "banner");
  expect("tap ad at 280,25", "ok tapped ad at 280,25");
  const std::string shown = askUntil("screen", "full screen QMASupplementalAdAppViewController");
  EXPECT_NE(shown.find("full screen QMASupplementalAdAppViewController"), std::string::npos) << shown;
  EXPECT_GE(hits("/creatives/expanded-page.html"), 1u) << "the relative address is the banner page's";
  expect("wait ad adViewWillPresentScreen", "ok ad adViewWillPresentScreen:");
  Colour seen{};
  EXPECT_TRUE(screenUntil([&](const uikit::Image& shot) {
    seen = colourAt(shot, 187, 400);
    return near(seen, kSecondPart);
  })) << text(seen);
  // The banner is expanded while its second part is up (told once the part has appeared).
  EXPECT_EQ(until("ad", "mraid.getState()", "expanded"), "expanded") << send("log");
  expect("close", "ok closed QMASupplementalAdAppViewController");
  expect("wait ad adViewDidDismissScreen", "ok ad adViewDidDismissScreen:");
  EXPECT_EQ(send("screen").find("full screen"), std::string::npos);
  auto back = screen();
  ASSERT_TRUE(back);
  expectColour(*back, 120, 125, kBanner);
  expectColour(*back, 187, 400, kSecondPart, false);
  EXPECT_EQ(until("ad", "mraid.getState()", "default"), "default");
  EXPECT_EQ(js("ad", "states.join(',') + ' ' + failures.length"), "default,expanded,default 0");
}

// The MRAID side of viewability: a banner on screen is viewable, hidden or scrolled away it
// is not; after its own full-screen ad (expanded, or its second part over it) it is back in
// its place and still viewable, and still watched.
TEST_F(MRAIDHost, AShownBannerIsViewableUntilHiddenOrScrolledAwayAndStaysWatchedAfterItsFullScreenAds) {
  show("ad", "expandable", "banner");
  const std::string viewable = "mraid.isViewable() + ' ' + viewables.join(',')";
  EXPECT_EQ(untilOnTheClock("ad", viewable, "true true"), "true true") << send("log");
  expect("hide ad", "ok ad hidden");
  EXPECT_EQ(untilOnTheClock("ad", viewable, "false true,false"), "false true,false");
  expect("show ad", "ok ad shown");
  EXPECT_EQ(untilOnTheClock("ad", viewable, "true true,false,true"), "true true,false,true");
  expect("scroll 0,400", "ok scrolled to 0,400");
  EXPECT_EQ(untilOnTheClock("ad", viewable, "false true,false,true,false"), "false true,false,true,false");
  expect("scroll 0,0", "ok scrolled to 0,0");
  EXPECT_EQ(untilOnTheClock("ad", "mraid.isViewable()", "true"), "true");

  struct FullScreen {
    const char* name;
    const char* tap;
    const char* controller;
  } const fullScreens[] = {{"expanded", "tap ad at 120,25", "QMAExpandedAdAppViewController"},
                           {"second part", "tap ad at 280,25", "QMASupplementalAdAppViewController"}};
  for (const auto& full : fullScreens) {
    SCOPED_TRACE(full.name);
    js("ad", "viewables = []");
    expect(full.tap, "ok tapped ad");
    EXPECT_EQ(untilOnTheClock("ad", "mraid.getState()", "expanded"), "expanded") << send("log");
    expect("close", std::string("ok closed ") + full.controller);
    expect("wait ad adViewDidDismissScreen", "ok ad adViewDidDismissScreen:");
    EXPECT_EQ(untilOnTheClock("ad", "mraid.getState()", "default"), "default");
    // Back in its place and on screen: never heard to be out of sight.
    for (int i = 0; i < 5; ++i) expect("clock advance 0.5", "ok clock");
    EXPECT_EQ(js("ad", "mraid.isViewable() + ' ' + viewables.indexOf(false)"), "true -1");
    // Still watched: hidden, it hears so; shown again, it is viewable.
    expect("hide ad", "ok ad hidden");
    EXPECT_EQ(untilOnTheClock("ad", "mraid.isViewable()", "false"), "false");
    expect("show ad", "ok ad shown");
    EXPECT_EQ(untilOnTheClock("ad", "mraid.isViewable()", "true"), "true");
  }
  EXPECT_EQ(js("ad", "failures.length"), "0");
}

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

// The user's calendar: events in good form go to the event editor and, once added, into the
// calendar; bad ones give the creative an error and open nothing.
TEST_F(MRAIDHost, ACalendarEventInGoodFormIsAddedAndOneInBadFormIsRefused) {
  expect("calendar grant", "ok calendar not-determined events 0");
  show("ad", "calendar", "mrec");
  const std::string unreadable = "createCalendarEvent: Could not fully parse event dictionary: ";
  struct Bad {
    const char* call;
    std::string failure;
  } bad[] = {
      {"wvTapBadDates()",
       unreadable + R"({"a":"createCalendarEvent","end":"","start":"next Tuesday","summary":"Spring sale"})"},
      {"wvTapEndBeforeStart()", unreadable + R"({"a":"createCalendarEvent","end":"2027-04-01T10:00:00Z",)"
                                             R"("start":"2027-04-01T18:00:00Z","summary":"Spring sale"})"},
      {"wvTapNoEvent()", "createCalendarEvent: The event must be an object"},
  };
  for (std::size_t i = 0; i < std::size(bad); ++i) {
    SCOPED_TRACE(bad[i].call);
    js("ad", bad[i].call);
    EXPECT_EQ(until("ad", "failures.length", std::to_string(i + 1)), std::to_string(i + 1));
    EXPECT_EQ(js("ad", "failures[" + std::to_string(i) + "]"), bad[i].failure);
  }
  EXPECT_EQ(send("screen").find("full screen"), std::string::npos) << "nothing opened";
  expect("calendar", "ok calendar not-determined events 0");

  // A finger on the ad: the user is asked, says yes, and sees the event in the editor.
  expect("tap ad at 150,125", "ok tapped ad at 150,125");
  const std::string event =
      "\"Half price on everything\" 2027-04-01T08:00:00Z to 2027-04-01T16:00:00Z at \"Main Street 1\" "
      "notes \"Spring sale\"";
  const std::string shown = askUntil("screen", "full screen EKEventEditViewController");
  EXPECT_NE(shown.find("full screen EKEventEditViewController event " + event), std::string::npos) << shown;
  expect("wait ad adViewWillPresentScreen", "ok ad adViewWillPresentScreen:");
  expect("answer Save", "error: the event editor has no button Save");
  expect("answer Add", "ok answered Add");
  expect("wait ad adViewDidDismissScreen", "ok ad adViewDidDismissScreen:");
  EXPECT_EQ(send("calendar"), "ok calendar authorized events 1: " + event);
  EXPECT_EQ(send("screen").find("full screen"), std::string::npos);
  EXPECT_EQ(js("ad", "failures.length"), "3");
}

TEST_F(MRAIDHost, ACalendarEventTheUserKeepsOutGivesTheCreativeAnError) {
  expect("calendar deny", "ok calendar not-determined events 0");
  show("ad", "calendar", "mrec");
  const std::string refused = "createCalendarEvent: The user did not allow access to the calendar";
  // Asked and refused; then refused without asking.
  for (const char* count : {"1", "2"}) {
    SCOPED_TRACE(count);
    expect("tap ad at 150,125", "ok tapped ad at 150,125");
    EXPECT_EQ(until("ad", "failures.length", count), count) << send("log");
    EXPECT_EQ(js("ad", "failures[failures.length - 1]"), refused);
    expect("calendar", "ok calendar denied events 0");
    EXPECT_EQ(send("screen").find("full screen"), std::string::npos) << "nothing opened";
  }
  // Let in from the settings: the editor comes, and the user thinks better of the event.
  expect("calendar grant", "ok calendar authorized events 0");
  expect("tap ad at 150,125", "ok tapped ad at 150,125");
  const std::string shown = askUntil("screen", "full screen EKEventEditViewController");
  EXPECT_NE(shown.find("full screen EKEventEditViewController event \"Half price on everything\""), std::string::npos)
      << shown;
  expect("answer Cancel", "ok answered Cancel");
  expect("wait ad adViewDidDismissScreen", "ok ad adViewDidDismissScreen:");
  expect("calendar", "ok calendar authorized events 0");
  EXPECT_EQ(js("ad", "failures.length"), "2");
}

// MRAID's playVideo: the video opens in the in-app browser over the host, and the ad is
// back when the user is done with it.
TEST_F(MRAIDHost, PlayVideoOpensTheVideoFullScreenAndTheAdIsBackAfterIt) {
  show("ad", "video", "mrec");
  expect("tap ad at 150,100", "ok tapped ad at 150,100");
  const std::string shown = askUntil("screen", "[Reload]");
  EXPECT_NE(shown.find("full screen QMABrowserViewController"), std::string::npos) << shown;
  expect("wait ad adViewWillPresentScreen", "ok ad adViewWillPresentScreen:");
  ASSERT_GE(hits("/creatives/trailer.mp4"), 1u) << "the video's address is the ad page's";
  EXPECT_EQ(js("ad", "mraid.getState() + ' ' + failures.length"), "default 0");
  expect("close", "ok closed QMABrowserViewController");
  expect("wait ad adViewWillDismissScreen", "ok ad adViewWillDismissScreen:");
  expect("wait ad adViewDidDismissScreen", "ok ad adViewDidDismissScreen:");
  EXPECT_EQ(send("screen").find("full screen"), std::string::npos);
  EXPECT_EQ(js("ad", "mraid.getState() + ' ' + failures.length"), "default 0");
}

// An interstitial that draws its own close control: the host's close button goes once the
// creative says so, and the creative's control closes the ad.
TEST_F(MRAIDHost, AnInterstitialWithItsOwnCloseControlClosesByIt) {
  expect("interstitial big unit custom-close", "ok big QMAInterstitial unit=custom-close");
  expect("load big", "ok loading big");
  expect("wait big interstitialDidReceiveAd", "ok big interstitialDidReceiveAd:");
  expect("present big", "ok big full screen: QMAInterstitialViewController");
  expect("wait big interstitialWillPresentScreen", "ok big interstitialWillPresentScreen:");
  ASSERT_EQ(until("big", "typeof mraid === 'object' ? mraid.getState() : 'no script'", "default"), "default")
      << send("log");
  // Nothing is drawn over the creative's corner where the close button was: the close area
  // stays, clear, as MRAID has it.
  const std::string shown = askUntil("screen", "close-button at 325,0 50x50");
  EXPECT_NE(shown.find("full screen QMAInterstitialViewController of big shows \"Skip Full screen offer\" "
                       "close-button at 325,0 50x50"),
            std::string::npos)
      << shown;
  EXPECT_TRUE(screenUntil([&](const uikit::Image& shot) {
    for (double x = 327; x < 375; x += 4)
      for (double y = 2; y < 50; y += 4)
        if (!near(colourAt(shot, x, y), kDark)) return false;
    return true;
  })) << "a close button is drawn over the creative";
  auto shot = screen();
  ASSERT_TRUE(shot);
  expectColour(*shot, 187, 400, kDark);
  // Closed by the creative's own control.
  js("big", "wvClose()");
  expect("wait big interstitialWillDismissScreen", "ok big interstitialWillDismissScreen:");
  expect("wait big interstitialDidDismissScreen", "ok big interstitialDidDismissScreen:");
  EXPECT_EQ(send("screen").find("full screen"), std::string::npos);

  // A finger on the clear close area closes it too.
  expect("interstitial again unit custom-close", "ok again QMAInterstitial unit=custom-close");
  expect("load again", "ok loading again");
  expect("wait again interstitialDidReceiveAd", "ok again interstitialDidReceiveAd:");
  expect("present again", "ok again full screen: QMAInterstitialViewController");
  ASSERT_EQ(until("again", "typeof mraid === 'object' ? mraid.getState() : 'no script'", "default"), "default");
  expect("close", "ok closed QMAInterstitialViewController");
  expect("wait again interstitialDidDismissScreen", "ok again interstitialDidDismissScreen:");
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
