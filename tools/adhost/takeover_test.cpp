// Takeovers that end in the orders creatives, hosts and the system produce them, in the real
// adhost against adserver: a resize or an expand crossed by the creative's own close, a web
// app opened over a resize, a web process that ends under a takeover, a host that takes
// its banner away, an interstitial that forces landscape. After each ending nothing of the
// ad is left over the host (a finger reaches the second banner beneath the resize's place),
// the host heard one end for its one beginning, the status bar and the interface are the
// host's again, and the ad is in its banner in the state the ending leads to. The same
// holds over random sequences of what creatives, hosts and the system do, from a seed.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tools/adhost/adhost_test_support.h"

namespace {

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// The host's screen events in the order heard: P for a will-present, W for a will-dismiss,
// D for a did-dismiss.
std::string screenEvents(const std::string& events, const std::string& present, const std::string& willDismiss,
                         const std::string& didDismiss) {
  std::string order;
  for (std::size_t at = 0; at < events.size();) {
    const auto p = events.find(present, at), w = events.find(willDismiss, at), d = events.find(didDismiss, at);
    const auto next = std::min({p, w, d});
    if (next == std::string::npos) break;
    order += next == p ? "P" : next == w ? "W" : "D";
    at = next + 1;
  }
  return order;
}

class Takeover : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override { return scenarioFile("takeover.json"); }
  // Until the script's value in the ad's page is `want`, the hand clock moving 0.05 s a try
  // (slide-ins and fades run on it), at most 20 s of real time; the last value seen.
  std::string until(const std::string& name, const std::string& script, const std::string& want) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string seen;
    for (;;) {
      seen = js(name, script);
      if (seen == want || std::chrono::steady_clock::now() >= deadline) return seen;
      send("clock advance 0.05");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // A state banner of that name ready at 0,100 ("ad") or 0,200 ("b2": under the place of
  // the ad's 320 x 250 resize).
  void showBanner(const std::string& name) {
    expect("kvr-banner " + name + " banner at 0," + (name == "b2" ? "200" : "100") + " unit state",
           "ok " + name + " KVRBannerView");
    expect("load " + name, "ok loading");
    expect("wait " + name + " adViewDidReceiveAd", "ok " + name + " adViewDidReceiveAd:");
    ASSERT_EQ(until(name, "typeof mraid === 'object' ? mraid.getState() : 'no script'", "default"), "default")
        << send("log");
  }
  void showBanners() {
    showBanner("ad");
    showBanner("b2");
  }
  void resize() {
    js("ad", "wvResize(320, 250)");
    ASSERT_EQ(until("ad", "mraid.getState() + ' ' + innerWidth + 'x' + innerHeight", "resized 320x250"),
              "resized 320x250");
  }
  void expand() {
    js("ad", "wvExpand()");
    ASSERT_EQ(until("ad", "mraid.getState()", "expanded"), "expanded");
  }
  // What must hold once the takeover of `name` is over: each beginning the host heard has
  // its end, will-dismiss before did-dismiss (the host's record of a name holds every ad
  // shown under it); nothing is presented; the status bar and the
  // interface are the host's (portrait, as the device stands); a finger reaches b2.
  void expectEnded(const std::string& name, const char* will = "adViewWillPresentScreen",
                   const char* willDismiss = "adViewWillDismissScreen", const char* did = "adViewDidDismissScreen") {
    expect("clock advance 1", "ok clock");  // fades and slides run out
    const std::string events = send("events " + name);
    EXPECT_EQ(count(events, will), count(events, did)) << events;
    EXPECT_EQ(count(events, willDismiss), count(events, did)) << events;
    if (count(events, did) > 0) {
      EXPECT_LT(events.rfind(will), events.rfind(willDismiss)) << events;
      EXPECT_LT(events.rfind(willDismiss), events.rfind(did)) << events;
    }
    const std::string shown = send("screen");
    EXPECT_EQ(shown.find("full screen"), std::string::npos) << shown;
    EXPECT_NE(shown.find("status-bar=shown interface=portrait device=portrait"), std::string::npos) << shown;
    if (name != "b2" && send("screen").find("b2 ") != std::string::npos) {
      EXPECT_EQ(send("tap b2").rfind("ok ", 0), 0u) << "something of the takeover covers b2";
    }
  }
};

// The creative's close crosses its own resize or expand on the way: close wins. The ad is
// hidden, the change is dropped with an error for it, and whatever of it had begun is
// taken down.
TEST_F(Takeover, ACloseThatCrossesItsOwnResizeOrExpandHidesTheAdAndDropsTheChange) {
  showBanners();
  struct Case {
    const char* script;
    const char* failure;
  };
  for (const Case& c : {Case{"wvResize(320, 250); mraid.close()", "resize: The ad was closed before it could resize"},
                        Case{"mraid.expand(); mraid.close()", "expand: The ad was closed before it could expand"}}) {
    SCOPED_TRACE(c.script);
    // A new ad each time: a hidden one stays hidden.
    expect("remove ad", "ok removed ad");
    showBanner("ad");
    js("ad", c.script);
    for (int i = 0; i < 20; ++i) send("clock advance 0.1");
    EXPECT_EQ(js("ad", "mraid.getState()"), "hidden");
    EXPECT_EQ(js("ad", "failures.join('|')"), c.failure);
    EXPECT_EQ(js("ad", "heard.filter(function (h) { return h.indexOf('stateChange') === 0; })"
                       ".map(function (h) { return h.split(' ')[1]; }).join('|')"),
              "default|hidden");
    expectEnded("ad");
  }
}

// A web app opened from the resized state, closed from its close button: the resize goes
// with it, and the ad is back in its banner, in its default state, taking touches.
TEST_F(Takeover, AWebAppOpenedOverAResizeTakesTheResizeWithItWhenClosed) {
  showBanners();
  resize();
  js("ad", "mraid.expand('/creatives/expanded-page.html')");
  const std::string up = askUntil("screen", "full screen QMASupplementalAdAppViewController");
  ASSERT_NE(up.find("full screen QMASupplementalAdAppViewController"), std::string::npos) << up;
  expect("close", "ok closed QMASupplementalAdAppViewController");
  EXPECT_EQ(until("ad", "mraid.getState() + ' ' + innerWidth + 'x' + innerHeight", "default 320x50"), "default 320x50");
  expectEnded("ad");
  EXPECT_EQ(count(send("events ad"), "adViewDidDismissScreen"), 1u);
  // The banner takes touches again: it grows as before.
  expect("tap ad at 160,25", "ok tapped ad at 160,25");
  EXPECT_EQ(until("ad", "mraid.getState()", "resized"), "resized");
}

// The ad's web process ends under its resize or its expand: the takeover ends, the host
// hears it, and the ad is loaded again in its banner.
TEST_F(Takeover, AWebProcessThatEndsUnderATakeoverEndsItAndTheAdIsLoadedAgainInItsBanner) {
  showBanners();
  for (const char* how : {"resize", "expand"}) {
    SCOPED_TRACE(how);
    if (std::string(how) == "resize") {
      resize();
    } else {
      expand();
    }
    expect("crash ad", "ok crashed ad");
    EXPECT_EQ(until("ad", "typeof mraid === 'object' ? mraid.getState() + ' ' + innerWidth + 'x' + innerHeight : ''",
                    "default 320x50"),
              "default 320x50");
    expectEnded("ad");
  }
  EXPECT_EQ(count(send("events ad"), "adViewDidDismissScreen"), 2u);
}

// The host takes the banner away while its ad is expanded or resized: the takeover ends with
// it, and the host hears its end.
TEST_F(Takeover, AHostThatRemovesItsBannerUnderATakeoverHearsItsEnd) {
  showBanners();
  resize();
  expect("remove ad", "ok removed ad");
  expectEnded("ad");
  EXPECT_EQ(count(send("events ad"), "adViewDidDismissScreen"), 1u) << send("events ad");

  showBanner("ad");
  expand();
  expect("remove ad", "ok removed ad");
  expectEnded("ad");
  EXPECT_EQ(count(send("events ad"), "adViewDidDismissScreen"), 2u) << send("events ad");
}

// A new ad replaces the page of a resized banner, and the new page resizes in its turn at
// once, while the old resize is still on its way out: the host hears the old takeover end
// once, then the new one begin and end, never two ends of one beginning.
TEST_F(Takeover, ANewAdThatReplacesAResizedPageEndsItsTakeoverOnceBeforeTheNext) {
  showBanners();
  resize();
  expect("load ad", "ok loading");
  expect("wait ad adViewDidReceiveAd", "ok ad adViewDidReceiveAd:");
  ASSERT_EQ(until("ad", "typeof mraid === 'object' && mraid.getState() === 'default' ? innerWidth + 'x' + innerHeight : ''",
                  "320x50"),
            "320x50");
  resize();
  expect("close", "ok closed QMAExpandedAdAppViewController");
  EXPECT_EQ(until("ad", "mraid.getState() + ' ' + innerWidth + 'x' + innerHeight", "default 320x50"), "default 320x50");
  expectEnded("ad");
  const std::string events = send("events ad");
  EXPECT_EQ(screenEvents(events, "adViewWillPresentScreen", "adViewWillDismissScreen", "adViewDidDismissScreen"),
            "PWDPWD")
      << events;
}

// A presented interstitial whose web process ends is taken down, the host hearing it go;
// never a black screen left up.
TEST_F(Takeover, APresentedInterstitialWhoseWebProcessEndsIsTakenDown) {
  expect("interstitial full unit landscape", "ok full QMAInterstitial unit=landscape");
  expect("load full", "ok loading full");
  expect("wait full interstitialDidReceiveAd", "ok full interstitialDidReceiveAd:");
  expect("present full", "ok full full screen: QMAInterstitialViewController");
  expect("wait full interstitialWillPresentScreen", "ok full interstitialWillPresentScreen:");
  expect("crash full", "ok crashed full");
  expect("wait full interstitialDidDismissScreen", "ok full interstitialDidDismissScreen:");
  expectEnded("full", "interstitialWillPresentScreen", "interstitialWillDismissScreen", "interstitialDidDismissScreen");
}

// An interstitial that forces landscape when it hears "ready", before the host presents it,
// is shown in landscape every time; closed, it leaves the host upright again, as the phone
// stands. A resized banner's request for landscape turns nothing.
TEST_F(Takeover, AForcedOrientationIsKeptFromBeforeThePresentationAndEndsWithTheTakeover) {
  for (const std::string name : {"one", "two", "three"}) {
    SCOPED_TRACE(name);
    expect("interstitial " + name + " unit landscape", "ok " + name + " QMAInterstitial unit=landscape");
    expect("load " + name, "ok loading " + name);
    expect("wait " + name + " interstitialDidReceiveAd", "ok " + name + " interstitialDidReceiveAd:");
    // The creative has heard "ready" and asked for landscape before it is presented.
    expect("clock advance 0.5", "ok clock");
    expect("present " + name, "ok " + name + " full screen: QMAInterstitialViewController");
    const std::string shown = askUntil("screen", "interface=landscape");
    EXPECT_NE(shown.find("interface=landscape-left device=portrait"), std::string::npos) << shown;
    expect("close", "ok closed QMAInterstitialViewController");
    expect("wait " + name + " interstitialDidDismissScreen", "ok " + name + " interstitialDidDismissScreen:");
    expectEnded(name, "interstitialWillPresentScreen", "interstitialWillDismissScreen", "interstitialDidDismissScreen");
  }

  showBanners();
  resize();
  js("ad", "mraid.setOrientationProperties({ allowOrientationChange: false, forceOrientation: 'landscape' })");
  for (int i = 0; i < 10; ++i) send("clock advance 0.1");
  EXPECT_NE(send("screen").find("interface=portrait"), std::string::npos);
  js("ad", "mraid.close()");
  EXPECT_EQ(until("ad", "mraid.getState()", "default"), "default");
  expectEnded("ad");
}

// A banner's web process ends while its next ad is on the way (the host asked for it, the
// answer comes late). The old page is not loaded again across the request: the ad that
// arrives is shown in its banner with its MRAID script, taking touches; a request that
// brings none tells the host that the ad is over too, and the next request shows its ad.
class ProcessEndDuringFetch : public Takeover {
 protected:
  nlohmann::json scenario() const override {
    nlohmann::json s = scenarioFile("takeover.json");
    // The first request of each unit gets the state banner at once, the second one late
    // (long enough for the process to end before it arrives), the third at once again.
    s["ads"]["late"] = {{"body_file", "state-banner.html"}, {"delay_ms", 3000}};
    s["ads"]["late-failure"] = {{"status", 500}, {"body", "busy"}, {"delay_ms", 3000}};
    s["ad_rules"].push_back({{"when", {{"slotname", "arrives"}}}, {"ads", {"state", "late", "state"}}});
    s["ad_rules"].push_back({{"when", {{"slotname", "fails"}}}, {"ads", {"state", "late-failure", "state"}}});
    return s;
  }
};

TEST_F(ProcessEndDuringFetch, TheNextAdIsShownWithItsScriptOrTheHostIsTold) {
  struct Case {
    const char* unit;
    bool arrives;
  };
  for (const Case& c : {Case{"arrives", true}, Case{"fails", false}}) {
    SCOPED_TRACE(c.unit);
    expect(std::string("kvr-banner ad banner at 0,100 unit ") + c.unit, "ok ad KVRBannerView");
    expect("load ad", "ok loading");
    expect("wait ad adViewDidReceiveAd", "ok ad adViewDidReceiveAd:");
    ASSERT_EQ(until("ad", "typeof mraid === 'object' ? mraid.getState() : 'no script'", "default"), "default");
    expect("load ad", "ok loading");
    expect("crash ad", "ok crashed ad");
    if (c.arrives) {
      expect("wait ad adViewDidReceiveAd", "ok ad adViewDidReceiveAd:");
    } else {
      // The request's own failure, then the end of the ad whose page is gone; the host
      // (whose banner does not refresh by itself) asks again and is shown the next ad.
      expect("wait ad adView:didFailToReceiveAdWithError:", "ok ad adView:didFailToReceiveAdWithError:");
      const std::string over = send("wait ad adView:didFailToReceiveAdWithError:");
      EXPECT_NE(over.find("code=11"), std::string::npos) << over;
      expect("load ad", "ok loading");
      expect("wait ad adViewDidReceiveAd", "ok ad adViewDidReceiveAd:");
    }
    EXPECT_EQ(until("ad", "typeof mraid === 'object' ? mraid.getState() + ' ' + innerWidth + 'x' + innerHeight : 'no script'",
                    "default 320x50"),
              "default 320x50")
        << send("log");
    // The page shown is the one the slot holds: it takes a touch and grows in place.
    expect("tap ad at 160,25", "ok tapped ad at 160,25");
    EXPECT_EQ(until("ad", "mraid.getState()", "resized"), "resized");
    js("ad", "mraid.close()");
    EXPECT_EQ(until("ad", "mraid.getState()", "default"), "default");
    expectEnded("ad");
    const std::string events = send("events ad");
    EXPECT_EQ(count(events, "adView:didFailToReceiveAdWithError:"), c.arrives ? 0u : 2u) << events;
    expect("remove ad", "ok removed ad");
  }
}

// ---- random sequences

// What a creative, the host or the system does, one step of a sequence.
enum class Act {
  Expand, ExpandURL, ResizeGood, ResizeBad, CreativeClose, CloseButton, WebProcessEnds, Remove, Rotate,
  BackgroundAndForeground, Refresh, BrowserAndBack
};

const char* actName(Act a) {
  static const char* const kNames[] = {"expand",        "expand(url)",       "resize",         "resize-refused",
                                       "close()",       "close-button",      "process-ends",   "remove",
                                       "rotate",        "background+foreground", "refresh",    "browser+back"};
  return kNames[static_cast<int>(a)];
}

class TakeoverSequences : public Takeover {
 protected:
  // Lets what a step set going come to rest: the page's messages, slide-ins and fades.
  void settle(const std::string& name) {
    for (int i = 0; i < 4; ++i) {
      send("clock advance 0.25");
      send("js " + name + " 1");
    }
  }
  // The device's orientation as the interface names it (the device's landscape left is the
  // interface's landscape right).
  static std::string interfaceFor(const std::string& device) {
    if (device == "landscape-left") return "landscape-right";
    if (device == "landscape-right") return "landscape-left";
    return device;
  }
  // One step on the ad `name`; what it answered does not matter (a close with nothing up, a
  // script in an ad that is gone): only where it all ends does.
  void act(Act a, const std::string& name, std::mt19937& random, std::string& device) {
    switch (a) {
      case Act::Expand: send("js " + name + " mraid.expand()"); break;
      case Act::ExpandURL: send("js " + name + " mraid.expand('/creatives/expanded-page.html')"); break;
      case Act::ResizeGood: send("js " + name + " wvResize(320, 250)"); break;
      case Act::ResizeBad: send("js " + name + " wvResize(2000, 2000)"); break;
      case Act::CreativeClose: send("js " + name + " mraid.close()"); break;
      case Act::CloseButton: send("close"); break;
      case Act::WebProcessEnds: send("crash " + name); break;
      case Act::Remove: send("remove " + name); break;
      case Act::Rotate: {
        static const char* const kDevices[] = {"portrait", "landscape-left", "landscape-right"};
        device = kDevices[std::uniform_int_distribution<int>(0, 2)(random)];
        send("rotate " + device);
        break;
      }
      case Act::BackgroundAndForeground:
        send("background");
        send("foreground");
        break;
      // The next ad is asked for; what follows may cross its fetch (a process that ends
      // while it is on the way, a takeover of the page it replaces).
      case Act::Refresh: send("load " + name); break;
      case Act::BrowserAndBack:
        if (send("browse " + name + " " + server_->baseURL() + "/creatives/landing.html").find("QMABrowserViewController") !=
            std::string::npos) {
          settle(name);
          send("close");
        }
        break;
    }
    settle(name);
  }
  // The invariants of every ending, once the close buttons have taken down whatever the
  // sequence left up: nothing of ours over the host, the host's screen events paired
  // and in order, the status bar and the interface the host's and the device's, the ad in
  // its banner in "default" (or "hidden" by its own close, or over with the host told).
  void expectWhole(const std::string& name, bool banner, const std::string& device) {
    if (banner) {
      // A new ad the sequence asked for may still be on its way in (a page whose process
      // ended meanwhile shows nothing until it comes): it comes to rest first, with
      // whatever of the old page's takeover it ends.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      for (;;) {
        const std::string state = send("js " + name + " typeof mraid === 'object' ? mraid.getState() : 'no page'");
        // A page that could not be shown again is no ad on its way once the host is told.
        const std::string heard = send("events " + name);
        const auto failed = heard.rfind("adView:didFailToReceiveAdWithError:");
        const bool over = failed != std::string::npos && failed > heard.rfind("adViewDidReceiveAd:");
        const bool coming = !over && (state == "ok " + name + " js loading" || state == "ok " + name + " js no page" ||
                                      state == "ok " + name + " js ");
        if (!coming || std::chrono::steady_clock::now() >= deadline) break;
        send("clock advance 0.05");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      settle(name);
    }
    // Whatever takeover is left is closed as a user would: the close button of what is full
    // screen, else a resize's close area.
    for (int i = 0; i < 4 && send("close").rfind("ok closed", 0) == 0; ++i) settle(name);
    const std::string shown = send("screen");
    EXPECT_EQ(shown.find("full screen"), std::string::npos) << shown;
    EXPECT_NE(shown.find("status-bar=shown interface=" + interfaceFor(device) + " device=" + device), std::string::npos)
        << shown;
    const std::string present = banner ? "adViewWillPresentScreen" : "interstitialWillPresentScreen";
    const std::string willDismiss = banner ? "adViewWillDismissScreen" : "interstitialWillDismissScreen";
    const std::string didDismiss = banner ? "adViewDidDismissScreen" : "interstitialDidDismissScreen";
    const std::string events = send("events " + name);
    // Each beginning, then its two ends, before the next beginning.
    const std::string order = screenEvents(events, present, willDismiss, didDismiss);
    std::string paired;
    for (std::size_t i = 0; i < order.size() / 3; ++i) paired += "PWD";
    EXPECT_EQ(order, paired) << events;
    EXPECT_EQ(send("tap b2").rfind("ok ", 0), 0u) << "something of the takeover covers b2";
    if (!banner || shown.find("; " + name + " ") == std::string::npos) return;  // the host took it away
    // A page brought back, or the next ad on its way, comes when it comes on a busy machine:
    // wait (bounded) for the page to be back or the host told, then judge.
    std::string state;
    std::string heard = events;
    bool told = false;
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);;) {
      state = send("js " + name + " typeof mraid === 'object' ? mraid.getState() : 'no page'");
      heard = send("events " + name);
      const auto failed = heard.rfind("adView:didFailToReceiveAdWithError:");
      told = failed != std::string::npos && failed > heard.rfind("adViewDidReceiveAd:");
      if (told || state == "ok " + name + " js default" || state == "ok " + name + " js hidden" ||
          std::chrono::steady_clock::now() >= deadline)
        break;
      send("clock advance 0.05");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (state == "ok " + name + " js default") {
      EXPECT_EQ(until(name, "innerWidth + 'x' + innerHeight", "320x50"), "320x50");
      EXPECT_EQ(send("tap " + name).rfind("ok ", 0), 0u) << "the banner takes no touch";
    } else if (state != "ok " + name + " js hidden") {
      // A page that cannot be brought back: the host heard the ad failed.
      EXPECT_TRUE(told) << state << "\n" << heard << "\n" << send("log");
    }
  }
};

// From a seed, random sequences on a banner beside a second one and on an interstitial
// forcing landscape; after each, the invariants of an ending. A failing sequence prints its
// seed; WV_TAKEOVER_SEED=N runs that one alone, WV_TAKEOVER_SEED=N-M those from N to M.
TEST_F(TakeoverSequences, RandomSequencesAlwaysEndWithTheHostWhole) {
  showBanner("b2");
  std::vector<unsigned> seeds;
  if (const char* chosen = std::getenv("WV_TAKEOVER_SEED")) {
    char* rest = nullptr;
    const auto first = static_cast<unsigned>(std::strtoul(chosen, &rest, 10));
    const auto last = *rest == '-' ? static_cast<unsigned>(std::strtoul(rest + 1, nullptr, 10)) : first;
    for (unsigned seed = first; seed <= last; ++seed) seeds.push_back(seed);
  } else {
    for (unsigned seed = 1; seed <= 24; ++seed) seeds.push_back(seed);
  }
  const std::vector<Act> onBanner = {Act::Expand,        Act::ExpandURL,      Act::ResizeGood,
                                     Act::ResizeBad,     Act::CreativeClose,  Act::CloseButton,
                                     Act::WebProcessEnds, Act::Remove,        Act::Rotate,
                                     Act::BackgroundAndForeground, Act::Refresh, Act::BrowserAndBack};
  const std::vector<Act> onInterstitial = {Act::CreativeClose, Act::CloseButton, Act::WebProcessEnds,
                                           Act::Rotate, Act::BackgroundAndForeground, Act::BrowserAndBack};
  for (const unsigned seed : seeds) {
    std::mt19937 random(seed);
    // Every third sequence is an interstitial's.
    const bool banner = seed % 3 != 0;
    const std::string name = (banner ? "a" : "i") + std::to_string(seed);
    std::string device = "portrait";
    std::string steps;
    if (banner) {
      expect("kvr-banner " + name + " banner at 0,100 unit state", "ok " + name + " KVRBannerView");
      expect("load " + name, "ok loading");
      expect("wait " + name + " adViewDidReceiveAd", "ok " + name + " adViewDidReceiveAd:");
      ASSERT_EQ(until(name, "typeof mraid === 'object' ? mraid.getState() : 'no script'", "default"), "default");
    } else {
      expect("interstitial " + name + " unit landscape", "ok " + name + " QMAInterstitial unit=landscape");
      expect("load " + name, "ok loading " + name);
      expect("wait " + name + " interstitialDidReceiveAd", "ok " + name + " interstitialDidReceiveAd:");
      expect("present " + name, "ok " + name + " full screen: QMAInterstitialViewController");
      settle(name);
    }
    const auto& acts = banner ? onBanner : onInterstitial;
    const int length = std::uniform_int_distribution<int>(2, 7)(random);
    for (int i = 0; i < length; ++i) {
      const Act a = acts[std::uniform_int_distribution<std::size_t>(0, acts.size() - 1)(random)];
      steps += std::string(steps.empty() ? "" : ", ") + actName(a);
      act(a, name, random, device);
      if (a == Act::Remove) break;  // the ad is gone
    }
    {
      SCOPED_TRACE("seed " + std::to_string(seed) + " (WV_TAKEOVER_SEED=" + std::to_string(seed) + " replays it): " + steps);
      expectWhole(name, banner, device);
    }
    send("remove " + name);
    send("rotate portrait");
    settle("b2");
  }
}

}  // namespace
