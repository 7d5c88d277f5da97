// What an MRAID creative reads at each event, in the real adhost against adserver: the
// checking creative (mraid-checks.html) tests, inside each of its listeners, that every
// getter gives the values of one ad (the state and size the event names, a position that
// fits the state, a maximum size inside the screen) and writes them down. A banner resizes,
// expands, opens its second part and closes; an interstitial is loaded upright and turned.
// Addresses that no call may open are refused with an MRAID error, from the script and
// from native code when a creative sends its own message.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "tools/adhost/adhost_test_support.h"

namespace {

class MRAIDChecks : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override { return scenarioFile("mraid-checks.json"); }
  // Until the script's value in the page of `name` is `want`, the hand clock moving 0.05 s
  // a try (presentations run on it), at most 20 s of real time; the last value seen.
  std::string until(const std::string& name, const std::string& script, const std::string& want) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const std::string head = "ok " + name + " js ";
    std::string seen;
    for (;;) {
      seen = send("js " + name + " " + script);
      if (seen.rfind(head, 0) == 0) seen = seen.substr(head.size());
      if (seen == want || std::chrono::steady_clock::now() >= deadline) return seen;
      send("clock advance 0.05");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::string heard(const std::string& name) { return js(name, "heard.join(' | ')"); }
  // What the creative wrote down after its first `from` entries.
  std::string heardSince(const std::string& name, int from) {
    return js(name, "heard.slice(" + std::to_string(from) + ").join(' | ')");
  }
  std::string failures(const std::string& name) { return js(name, "failures.join(' | ')"); }
  // The checking banner at 0,100 (320 x 50) under the 20-point status bar, ready.
  void showBanner() {
    expect("kvr-banner ad banner at 0,100 unit checks", "ok ad KVRBannerView");
    expect("load ad", "ok loading");
    expect("wait ad adViewDidReceiveAd", "ok ad adViewDidReceiveAd:");
    ASSERT_EQ(until("ad", "typeof mraid === 'object' ? mraid.getState() : 'no script'", "default"), "default")
        << send("log");
  }
  // An interstitial is seen (and its page read) once it is presented.
  void loadInterstitial(const std::string& name) {
    expect("interstitial " + name + " unit checks", "ok " + name + " QMAInterstitial unit=checks");
    expect("load " + name, "ok loading " + name);
    expect("wait " + name + " interstitialDidReceiveAd", "ok " + name + " interstitialDidReceiveAd:");
  }
};

constexpr const char* kAtRest = "state=default current=0,80,320x50 default=0,80,320x50 max=375x647 screen=375x667";

// Expanded and closed, resized twice and closed, its second part opened and closed: inside
// every listener the banner reads the state and size the event names, with the position,
// resting place, maximum size and screen of that same moment.
TEST_F(MRAIDChecks, ABannerReadsOneAdInsideEveryListener) {
  showBanner();
  EXPECT_EQ(heard("ad"), std::string("ready ") + kAtRest + " | stateChange default " + kAtRest);
  struct Step {
    const char* what;    // the creative's own call, or an adhost command
    const char* until;   // the state it ends in
    const char* heard;   // every listener's values on the way
  } steps[] = {
      {"wvExpand()", "expanded",
       "sizeChange 375x667 state=expanded current=0,0,375x667 default=0,80,320x50 max=375x667 screen=375x667 | "
       "stateChange expanded state=expanded current=0,0,375x667 default=0,80,320x50 max=375x667 screen=375x667"},
      {"close", "default",
       "sizeChange 320x50 state=default current=0,80,320x50 default=0,80,320x50 max=375x647 screen=375x667 | "
       "stateChange default state=default current=0,80,320x50 default=0,80,320x50 max=375x647 screen=375x667"},
      {"wvResize(320, 250)", "resized",
       "sizeChange 320x250 state=resized current=0,80,320x250 default=0,80,320x50 max=375x647 screen=375x667 | "
       "stateChange resized state=resized current=0,80,320x250 default=0,80,320x50 max=375x647 screen=375x667"},
      {"wvResize(300, 200)", "resized",
       "sizeChange 300x200 state=resized current=0,80,300x200 default=0,80,320x50 max=375x647 screen=375x667"},
      {"wvClose()", "default",
       "sizeChange 320x50 state=default current=0,80,320x50 default=0,80,320x50 max=375x647 screen=375x667 | "
       "stateChange default state=default current=0,80,320x50 default=0,80,320x50 max=375x647 screen=375x667"},
      // Under its second part the banner stays in its place: the status bar is hidden, so
      // its place in the space it may take is 20 points lower; its resting place is kept.
      {"wvExpandURL()", "expanded",
       "stateChange expanded state=expanded current=0,100,320x50 default=0,80,320x50 max=375x667 screen=375x667"},
      {"close", "default",
       "stateChange default state=default current=0,80,320x50 default=0,80,320x50 max=375x647 screen=375x667"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    const int from = std::stoi(js("ad", "heard.length"));
    const std::string what = step.what;
    if (what == "close") {
      expect("close", "ok closed");
    } else {
      js("ad", what);
    }
    const std::string heardNow = std::string(step.heard);
    const std::size_t lines = 1 + static_cast<std::size_t>(std::count(heardNow.begin(), heardNow.end(), '|'));
    ASSERT_EQ(until("ad", "mraid.getState() + ' ' + (heard.length - " + std::to_string(from) + ")",
                    std::string(step.until) + " " + std::to_string(lines)),
              std::string(step.until) + " " + std::to_string(lines))
        << heardSince("ad", from);
    // Samples taken as the takeover settles bring nothing the creative did not hear.
    for (int i = 0; i < 10; ++i) send("clock advance 0.1");
    EXPECT_EQ(heardSince("ad", from), step.heard);
  }
  EXPECT_EQ(failures("ad"), "");
}

// An interstitial, loaded upright or turned, reads from "ready" on the full screen it is
// shown on: nothing moves when it is shown, and a turn while it is up is one consistent
// change.
TEST_F(MRAIDChecks, AnInterstitialReadsItsFullScreenFromReadyOnUprightOrTurned) {
  struct Case {
    const char* name;
    const char* rotate;  // before loading, "" for none
    const char* atReady;
    const char* turn;    // while shown
    const char* turned;
  } cases[] = {
      {"upright", "", "state=default current=0,0,375x667 default=0,0,375x667 max=375x667 screen=375x667",
       "rotate landscape-left",
       "sizeChange 667x375 state=default current=0,0,667x375 default=0,0,667x375 max=667x375 screen=667x375"},
      {"turned", "rotate landscape-left",
       "state=default current=0,0,667x375 default=0,0,667x375 max=667x375 screen=667x375", "rotate portrait",
       "sizeChange 375x667 state=default current=0,0,375x667 default=0,0,375x667 max=375x667 screen=375x667"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = c.name;
    if (*c.rotate) expect(c.rotate, "ok rotated");
    loadInterstitial(name);
    expect("present " + name, "ok " + name + " full screen");
    expect("wait " + name + " interstitialWillPresentScreen", "ok " + name + " interstitialWillPresentScreen:");
    // What it wrote down at "ready", before it was shown, is where it shows: being shown
    // changes nothing it reads.
    const std::string atReady = std::string("ready ") + c.atReady + " | stateChange default " + c.atReady;
    EXPECT_EQ(until(name, "heard.join(' | ')", atReady), atReady);
    for (int i = 0; i < 10; ++i) send("clock advance 0.1");
    EXPECT_EQ(heard(name), atReady);
    expect(c.turn, "ok rotated");
    EXPECT_EQ(until(name, "heard[heard.length - 1]", c.turned), c.turned) << heard(name);
    EXPECT_EQ(failures(name), "");
    expect("close", "ok closed QMAInterstitialViewController");
    expect("wait " + name + " interstitialDidDismissScreen", "ok " + name + " interstitialDidDismissScreen:");
  }
}

// open(), playVideo() and expand(url) with a script, a device file or text that makes no
// address: each is an MRAID "error" for its call, from the script and, for a creative that
// sends its own message, from native code. Nothing is shown and the application is not
// left; an address that may open still does.
TEST_F(MRAIDChecks, AddressesThatCannotBeOpenedAreRefusedWithAnError) {
  showBanner();
  const char* calls[] = {
      "mraid.open('javascript:alert(1)')",
      "mraid.open('file:///etc/passwd')",
      "mraid.open('http://exa mple.com/')",
      "mraid.playVideo('javascript:void(0)')",
      "mraid.expand('file:///etc/hosts')",
      "wvSend('open?a=browser&u=javascript%3Aalert(1)')",
      "wvSend('open?a=browser&u=not%20an%20address')",
      "wvSend('open?a=video&u=file%3A%2F%2F%2Fetc%2Fpasswd')",
      "wvSend('open?a=webapp&u=javascript%3Adocument.write(1)')",
  };
  for (const char* call : calls) js("ad", call);
  const std::string refused =
      "open: Not an address that can be opened | open: Not an address that can be opened | "
      "open: Not an address that can be opened | playVideo: Not an address that can be opened | "
      "expand: Not an address that can be opened | open: Not an address that can be opened | "
      "open: Not an address that can be opened | playVideo: Not an address that can be opened | "
      "expand: Not an address that can be opened";
  EXPECT_EQ(until("ad", "failures.join(' | ')", refused), refused);
  for (int i = 0; i < 10; ++i) send("clock advance 0.1");
  EXPECT_EQ(send("screen").find("full screen"), std::string::npos) << send("screen");
  EXPECT_EQ(send("events ad"), "ok events ad adViewDidReceiveAd:");
  EXPECT_EQ(js("ad", "mraid.getState()"), "default");

  // The control: an address that may open opens over the host.
  js("ad", "mraid.open('landing.html')");
  EXPECT_NE(askUntil("screen", "full screen QMABrowserViewController").find("full screen QMABrowserViewController"),
            std::string::npos);
  expect("close", "ok closed QMABrowserViewController");
  expect("wait ad adViewDidDismissScreen", "ok ad adViewDidDismissScreen:");
  EXPECT_EQ(failures("ad"), refused);
}

}  // namespace
