// What an MRAID creative reads at each event, in the real adhost against adserver: the
// checking creative (mraid-checks.html) tests, inside each of its listeners, that every
// getter gives the values of one ad (the state and size the event names, a position that
// fits the state, a maximum size inside the screen) and writes them down. A banner resizes,
// expands, opens its second part and closes; an interstitial is loaded upright and turned.
// Addresses that no call may open are refused with an MRAID error, from the script and
// from native code when a creative sends its own message.

#include <gtest/gtest.h>

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
    std::string seen;
    for (;;) {
      seen = js(name, script);
      if (seen == want || std::chrono::steady_clock::now() >= deadline) return seen;
      send("clock advance 0.05");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::string heard(const std::string& name) { return js(name, "heard.join('\\n')"); }
  std::string failures(const std::string& name) { return js(name, "failures.join('\\n')"); }
  // The checking banner at 0,100 (320 x 50) under the 20-point status bar, ready.
  void showBanner() {
    expect("kvr-banner ad banner at 0,100 unit checks", "ok ad KVRBannerView");
    expect("load ad", "ok loading");
    expect("wait ad adViewDidReceiveAd", "ok ad adViewDidReceiveAd:");
    ASSERT_EQ(until("ad", "typeof mraid === 'object' ? mraid.getState() : 'no script'", "default"), "default")
        << send("log");
  }
  void loadInterstitial(const std::string& name) {
    expect("interstitial " + name + " unit checks", "ok " + name + " QMAInterstitial unit=checks");
    expect("load " + name, "ok loading " + name);
    expect("wait " + name + " interstitialDidReceiveAd", "ok " + name + " interstitialDidReceiveAd:");
    ASSERT_EQ(until(name, "typeof mraid === 'object' ? mraid.getState() : 'no script'", "default"), "default")
        << send("log");
  }
};

TEST_F(MRAIDChecks, Probe) {
  showBanner();
  js("ad", "wvExpand()");
  until("ad", "mraid.getState()", "expanded");
  for (int i = 0; i < 5; ++i) send("clock advance 0.2");
  expect("close", "ok closed");
  until("ad", "mraid.getState()", "default");
  for (int i = 0; i < 5; ++i) send("clock advance 0.2");
  js("ad", "wvResize(320, 250)");
  until("ad", "mraid.getState()", "resized");
  js("ad", "wvResize(300, 200)");
  until("ad", "mraid.getCurrentPosition().height", "200");
  js("ad", "wvClose()");
  until("ad", "mraid.getState()", "default");
  for (int i = 0; i < 5; ++i) send("clock advance 0.2");
  js("ad", "wvExpandURL()");
  until("ad", "mraid.getState()", "expanded");
  for (int i = 0; i < 5; ++i) send("clock advance 0.2");
  expect("close", "ok closed");
  until("ad", "mraid.getState()", "default");
  for (int i = 0; i < 5; ++i) send("clock advance 0.2");
  ADD_FAILURE() << heard("ad") << "\n----\n" << failures("ad") << "\n----\n" << js("ad", "received.join('|')");

  loadInterstitial("full");
  expect("present full", "ok full full screen");
  for (int i = 0; i < 5; ++i) send("clock advance 0.2");
  ADD_FAILURE() << heard("full") << "\n----\n" << failures("full");
  expect("close", "ok closed");
  expect("rotate landscape-left", "ok rotated");
  loadInterstitial("wide");
  expect("present wide", "ok wide full screen");
  for (int i = 0; i < 5; ++i) send("clock advance 0.2");
  ADD_FAILURE() << heard("wide") << "\n----\n" << failures("wide");
}

}  // namespace
