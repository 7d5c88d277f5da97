// The MRAID script as a creative sees it: its calls become bridge messages, native events
// become MRAID state and events, and what it refuses reaches the creative as "error".
// Runs the script the server serves in a real web view, in a page whose frames' addresses
// are recorded and whose timers run when the test says.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <regex>
#include <string>

#include "platform/dispatch/run_loop.h"
#include "platform/webkit/web_view.h"
#include "tools/adserver/ad_server.h"

namespace {

// One blank page of a real web view: scripts evaluated in turn as the page's own, each
// giving its value as text or its error.
class ScriptHeap {
 public:
  struct Result {
    bool ok = false;
    std::string value;
    std::string error;
  };
  ScriptHeap() : view_(webkit::WebView::create({{0, 0}, {320, 480}})), delegate_(std::make_shared<Loads>()) {
    view_->setDelegate(delegate_);
    view_->loadHTMLStringBaseURL("<html><body></body></html>", net::URL::fromString("https://ads.example/creative"));
    loaded_ = dispatch::RunLoop::main().runUntil([&] { return delegate_->ended; }, 20);
  }
  Result evaluate(const std::string& source, const char* /*name*/ = "eval") {
    Result r;
    if (!loaded_) {
      r.error = "the page did not load";
      return r;
    }
    bool done = false;
    view_->evaluateJavaScript(source, [&](std::optional<std::string> value, std::optional<std::string> error) {
      done = true;
      // A script whose last value is a function or an object ran; the engine only cannot
      // give that value back as text.
      r.ok = !error.has_value() || error->find("Unsupported result type") != std::string::npos;
      if (value) r.value = *value;
      if (error && !r.ok) r.error = *error;
    });
    if (!dispatch::RunLoop::main().runUntil([&] { return done; }, 20)) r.error = "the script never ended";
    return r;
  }

 private:
  struct Loads : webkit::WebViewDelegate {
    bool ended = false;
    void webViewDidFinishLoad(webkit::WebView&) override { ended = true; }
    void webViewDidFailLoadWithError(webkit::WebView&, const foundation::Error&) override { ended = true; }
  };
  std::shared_ptr<webkit::WebView> view_;
  std::shared_ptr<Loads> delegate_;
  bool loaded_ = false;
};

// Frames the script makes keep their addresses for the test instead of loading them, and
// timers wait for settle().
constexpr const char* kWindow = R"JS(
var sent = [], timers = [], heard = [];
(function () {
  var create = document.createElement.bind(document);
  document.createElement = function (tag) {
    var element = create(tag);
    if (String(tag).toLowerCase() === 'iframe')
      Object.defineProperty(element, 'src', { set: function (v) { sent.push(v); }, get: function () { return ''; } });
    return element;
  };
})();
window.setTimeout = function (f) { timers.push(f); };
function settle() { while (timers.length) timers.shift()(); var s = sent; sent = []; return s.join('\n'); }
function listen(event) {
  mraid.addEventListener(event, function () { heard.push(event + '(' + Array.prototype.slice.call(arguments).join(',') + ')'); });
}
function took() { var h = heard; heard = []; return h.join(' '); }
function ready(features) {
  QVRA_ReceiveMessage('onDeviceFeaturesReceived', features || { sms: true, tel: true, calendar: true, storePicture: true, inlineVideo: true });
  QVRA_ReceiveMessage('onReadyEventReceived', { js: '7.0' });
}
)JS";

struct MRAIDScript : ::testing::Test {
  ScriptHeap ctx;
  void load(const char* placement) {
    auto window = ctx.evaluate(kWindow);
    ASSERT_TRUE(window.ok) << window.error;
    auto script = ctx.evaluate(adserver::mraidScript(placement), "mraid.js");
    ASSERT_TRUE(script.ok) << script.error;
  }
  std::string run(const std::string& source) {
    auto r = ctx.evaluate(source);
    EXPECT_TRUE(r.ok) << source << ": " << r.error;
    return r.value;
  }
};

TEST_F(MRAIDScript, AnnouncesItselfThenBecomesReadyOnTheNativeReadyEvent) {
  load("inline");
  EXPECT_EQ(run("settle()"), "qomb://mraid/mraidLoaded");
  EXPECT_EQ(run("mraid.getVersion() + ' ' + mraid.getState() + ' ' + mraid.getPlacementType()"),
            "2.0 loading inline");
  run("listen('ready'); listen('stateChange'); ready()");
  EXPECT_EQ(run("took()"), "ready() stateChange(default)");
  EXPECT_EQ(run("mraid.getState() + ' ' + mraid.supports('calendar') + ' ' + mraid.supports('vpaid')"),
            "default true false");
  // A second ready event changes nothing.
  run("ready()");
  EXPECT_EQ(run("took()"), "");
}

TEST_F(MRAIDScript, KeepsAReceiverThePageHadBeforeIt) {
  auto prior = ctx.evaluate(std::string(kWindow) + "var earlier = []; QVRA_ReceiveMessage = function (n) { earlier.push(n); };");
  ASSERT_TRUE(prior.ok) << prior.error;
  ASSERT_TRUE(ctx.evaluate(adserver::mraidScript("inline")).ok);
  run("QVRA_ReceiveMessage('onPrecacheEvent', {})");
  EXPECT_EQ(run("earlier.join(',')"), "onPrecacheEvent");
}

TEST_F(MRAIDScript, EachCallBecomesItsBridgeMessage) {
  load("inline");
  run("settle(); ready()");
  struct Case {
    const char* call;
    const char* message;
  } cases[] = {
      {"mraid.expand()", "qomb://mraid/open?custom_close=0&a=expand"},
      {"mraid.setOrientationProperties({allowOrientationChange: true, forceOrientation: 'none'}); settle(); "
       "mraid.useCustomClose(true); settle(); mraid.expand('https://ads.example/big.html')",
       "qomb://mraid/open?custom_close=1&a=webapp&u=https%3A%2F%2Fads.example%2Fbig.html"},
      {"mraid.open('https://ads.example/land')", "qomb://mraid/open?a=browser&u=https%3A%2F%2Fads.example%2Fland"},
      {"mraid.playVideo('https://ads.example/v.mp4')", "qomb://mraid/open?a=video&u=https%3A%2F%2Fads.example%2Fv.mp4"},
      // Relative addresses are the page's: native code gets them whole.
      {"mraid.playVideo('/media/v.mp4')", "qomb://mraid/open?a=video&u=https%3A%2F%2Fads.example%2Fmedia%2Fv.mp4"},
      {"mraid.open('land?x=1')", "qomb://mraid/open?a=browser&u=https%3A%2F%2Fads.example%2Fland%3Fx%3D1"},
      {"mraid.storePicture('p.png')", "qomb://mraid/mraid?a=storePicture&iurl=https%3A%2F%2Fads.example%2Fp.png"},
      {"mraid.open('tel:5550100')", "qomb://mraid/open?a=browser&u=tel%3A5550100"},
      {"mraid.storePicture('https://ads.example/p.png')",
       "qomb://mraid/mraid?a=storePicture&iurl=https%3A%2F%2Fads.example%2Fp.png"},
      {"mraid.setResizeProperties({width: 320, height: 100, offsetX: 0, offsetY: -20, customClosePosition: 'center', "
       "allowOffscreen: false}); mraid.resize()",
       "qomb://mraid/mraid?a=resize&width=320&height=100&offsetX=0&offsetY=-20&customClosePosition=center&"
       "allowOffscreen=false"},
      {"mraid.setOrientationProperties({allowOrientationChange: false, forceOrientation: 'landscape'})",
       "qomb://mraid/mraid?a=setOrientationProperties&allowOrientationChange=false&forceOrientation=landscape"},
      {"mraid.createCalendarEvent({summary: 'Sale', start: '2026-05-01T10:00:00+02:00', location: 'Shop'})",
       "qomb://mraid/mraid?a=createCalendarEvent&start=2026-05-01T10%3A00%3A00%2B02%3A00&summary=Sale&location=Shop"},
      {"mraid.close()", ""},  // a banner in its default state hides itself
  };
  for (const auto& c : cases) {
    run("settle()");
    run(c.call);
    EXPECT_EQ(run("settle()"), c.message) << c.call;
  }
  EXPECT_EQ(run("mraid.getState()"), "hidden");
}

TEST_F(MRAIDScript, RefusedCallsGiveTheCreativeAnErrorNamingTheAction) {
  load("inline");
  run("settle(); listen('error')");
  struct Case {
    const char* call;
    const char* error;
  } cases[] = {
      {"mraid.storePicture('https://ads.example/p.png')", "error(The ad is not ready yet,storePicture)"},
      {"ready({storePicture: false, calendar: false}); mraid.storePicture('https://ads.example/p.png')",
       "error(Storing pictures is not supported,storePicture)"},
      {"mraid.createCalendarEvent({summary: 'x'})", "error(Calendar events are not supported,createCalendarEvent)"},
      {"mraid.resize()", "error(Set the resize properties before resizing,resize)"},
      {"mraid.setResizeProperties({width: 20, height: 20})",
       "error(Resize properties need a width and a height of at least 50,setResizeProperties)"},
      {"mraid.setResizeProperties({width: 100, height: 100, customClosePosition: 'nowhere'})",
       "error(Unknown close position: nowhere,setResizeProperties)"},
      {"mraid.setOrientationProperties({forceOrientation: 'sideways'})",
       "error(Unknown orientation: sideways,setOrientationProperties)"},
      {"mraid.addEventListener('tap', function () {})", "error(Unknown event: tap,addEventListener)"},
      {"mraid.playVideo()", "error(No video URL,playVideo)"},
      // Addresses no call opens: script, the device's files, and text that makes no address.
      {"mraid.open('javascript:alert(1)')", "error(Not an address that can be opened,open)"},
      {"mraid.open('  JavaScript:alert(1)')", "error(Not an address that can be opened,open)"},
      {"mraid.open('file:///etc/passwd')", "error(Not an address that can be opened,open)"},
      {"mraid.open('http://exa mple.com/')", "error(Not an address that can be opened,open)"},
      {"mraid.open('https://[::1')", "error(Not an address that can be opened,open)"},
      {"mraid.playVideo('javascript:void(0)')", "error(Not an address that can be opened,playVideo)"},
      {"mraid.playVideo('FILE:/private/var/v.mp4')", "error(Not an address that can be opened,playVideo)"},
      {"mraid.expand('file:///etc/hosts')", "error(Not an address that can be opened,expand)"},
      {"mraid.expand('javascript:document.write(1)')", "error(Not an address that can be opened,expand)"},
      // What the native side refuses comes back as its own error event.
      {"QVRA_ReceiveMessage('onError', {message: 'Received invalid resize properties', action: 'resize'})",
       "error(Received invalid resize properties,resize)"},
      // The user kept the ad from the calendar.
      {"QVRA_ReceiveMessage('onCalendarEventCanceled')",
       "error(The user did not allow access to the calendar,createCalendarEvent)"},
  };
  for (const auto& c : cases) {
    run(c.call);
    EXPECT_EQ(run("took()"), c.error) << c.call;
  }
  EXPECT_EQ(run("settle()"), "") << "a refused call sends nothing";
}

TEST_F(MRAIDScript, NativeEventsMoveStateViewabilityAndGeometry) {
  load("inline");
  run("settle(); ready(); listen('stateChange'); listen('viewableChange'); listen('exposureChange'); listen('sizeChange')");
  run("QVRA_ReceiveMessage('onScreenInfoChanged', {width: 375, height: 667, maxSizeWidth: 375, maxSizeHeight: 647, "
      "isOrientationLandscape: '0'})");
  run("QVRA_ReceiveMessage('onDefaultPositionReceived', {x: 0, y: 20, width: 320, height: 50})");
  run("QVRA_ReceiveMessage('onSizeChanged', {x: 0, y: 20, width: 320, height: 50, version: '7.0'})");
  EXPECT_EQ(run("JSON.stringify([mraid.getScreenSize(), mraid.getMaxSize(), mraid.getDefaultPosition(), "
                "mraid.getCurrentPosition()])"),
            R"([{"width":375,"height":667},{"width":375,"height":647},{"x":0,"y":20,"width":320,"height":50},)"
            R"({"x":0,"y":20,"width":320,"height":50}])");
  EXPECT_EQ(run("var e = mraid.getExpandProperties(); [e.width, e.height, e.useCustomClose, e.isModal].join()"),
            "375,647,false,true")
      << "unset expand sizes are the largest the ad may take";
  run("QVRA_ReceiveMessage('onAdVisibilityChanged', {visible: '1'}); QVRA_ReceiveMessage('onAdVisibilityChanged', {visible: '1'})");
  run("QVRA_ReceiveMessage('onStateChanged', {state: 'resized'}); QVRA_ReceiveMessage('onSizeChanged', {width: 320, height: 250})");
  run("QVRA_ReceiveMessage('onStateChanged', {state: 'default'}); QVRA_ReceiveMessage('onStateChanged', {state: 'bogus'})");
  EXPECT_EQ(run("took()"),
            "sizeChange(320,50) viewableChange(true) exposureChange(100,[object Object],) stateChange(resized) "
            "sizeChange(320,250) stateChange(default)");
  EXPECT_EQ(run("mraid.isViewable()"), "true");
  // A listener that throws keeps no other listener from hearing the event.
  run("mraid.addEventListener('viewableChange', function () { throw new Error('creative bug'); }); "
      "QVRA_ReceiveMessage('onAdVisibilityChanged', {visible: '0'})");
  EXPECT_EQ(run("took()"), "viewableChange(false) exposureChange(0,,)");
}

// A new state comes with everything the creative reads of its ad: inside the listeners of
// the change (its size first, then its state) every getter gives the new values.
TEST_F(MRAIDScript, AStateChangeBringsEveryValueBeforeAnyListenerHearsIt) {
  load("inline");
  run("settle(); QVRA_ReceiveMessage('onScreenInfoChanged', {width: 375, height: 667, maxSizeWidth: 375, "
      "maxSizeHeight: 647}); QVRA_ReceiveMessage('onSizeChanged', {x: 0, y: 80, width: 320, height: 50}); "
      "QVRA_ReceiveMessage('onDefaultPositionReceived', {x: 0, y: 80, width: 320, height: 50}); ready()");
  run("function values(event) { return function () { heard.push(event + '(' + Array.prototype.slice.call(arguments)"
      ".join(',') + ') ' + [mraid.getState(), JSON.stringify(mraid.getCurrentPosition()), "
      "JSON.stringify(mraid.getDefaultPosition()), JSON.stringify(mraid.getMaxSize()), "
      "JSON.stringify(mraid.getScreenSize())].join(' ')); }; }"
      "mraid.addEventListener('stateChange', values('stateChange')); "
      "mraid.addEventListener('sizeChange', values('sizeChange'))");
  struct Case {
    const char* message;
    const char* heard;
  } cases[] = {
      {"{state: 'expanded', currentPosition: {x: 0, y: 0, width: 375, height: 667}, defaultPosition: {x: 0, y: 80, "
       "width: 320, height: 50}, maxSize: {width: 375, height: 667}, screenSize: {width: 375, height: 667}}",
       R"(sizeChange(375,667) expanded {"x":0,"y":0,"width":375,"height":667} {"x":0,"y":80,"width":320,"height":50})"
       R"( {"width":375,"height":667} {"width":375,"height":667})"
       "\n"
       R"(stateChange(expanded) expanded {"x":0,"y":0,"width":375,"height":667} {"x":0,"y":80,"width":320,"height":50})"
       R"( {"width":375,"height":667} {"width":375,"height":667})"},
      // The same state at a new size (a second resize): only the size changes.
      {"{state: 'expanded', currentPosition: {x: 0, y: 0, width: 667, height: 375}, maxSize: {width: 667, height: 375},"
       " screenSize: {width: 667, height: 375}}",
       R"(sizeChange(667,375) expanded {"x":0,"y":0,"width":667,"height":375} {"x":0,"y":80,"width":320,"height":50})"
       R"( {"width":667,"height":375} {"width":667,"height":375})"},
      // A state without values keeps the ones the creative has; a position that moves
      // without a new size is no "sizeChange".
      {"{state: 'default'}",
       R"(stateChange(default) default {"x":0,"y":0,"width":667,"height":375} {"x":0,"y":80,"width":320,"height":50})"
       R"( {"width":667,"height":375} {"width":667,"height":375})"},
      {"{state: 'default', currentPosition: {x: 5, y: 5, width: 667, height: 375}}", ""},
      // What is no state or no rectangle changes nothing.
      {"{state: 'bogus', currentPosition: 'wide', maxSize: null}", ""},
  };
  for (const auto& c : cases) {
    run(std::string("QVRA_ReceiveMessage('onStateChanged', ") + c.message + ")");
    EXPECT_EQ(run("var h = heard; heard = []; h.join('\\n')"), c.heard) << c.message;
  }
  EXPECT_EQ(run("mraid.getState() + ' ' + JSON.stringify(mraid.getCurrentPosition())"),
            R"(default {"x":5,"y":5,"width":667,"height":375})");
}

// Native code sends the ad's position ahead of "ready": the creative finds it there when it
// starts, and it is no change of size.
TEST_F(MRAIDScript, APositionHeardBeforeReadyIsThereAtReady) {
  load("inline");
  run("settle(); listen('sizeChange'); "
      "mraid.addEventListener('ready', function () { heard.push('ready ' + JSON.stringify(mraid.getCurrentPosition())); })");
  run("QVRA_ReceiveMessage('onSizeChanged', {x: 0, y: 80, width: 320, height: 50}); ready()");
  EXPECT_EQ(run("took()"), R"(ready {"x":0,"y":80,"width":320,"height":50})");
  run("QVRA_ReceiveMessage('onSizeChanged', {x: 0, y: 0, width: 375, height: 667})");
  EXPECT_EQ(run("took()"), "sizeChange(375,667)");
}

// A banner that closes itself in its default state no longer shows: its page draws nothing.
TEST_F(MRAIDScript, ABannerClosedInItsDefaultStateDrawsNothing) {
  load("inline");
  run("settle(); ready(); listen('stateChange')");
  EXPECT_EQ(run("getComputedStyle(document.documentElement).display"), "block");
  run("mraid.close()");
  EXPECT_EQ(run("took()"), "stateChange(hidden)");
  EXPECT_EQ(run("getComputedStyle(document.documentElement).display"), "none");
  EXPECT_EQ(run("settle()"), "") << "nothing for native code to close";
}

TEST_F(MRAIDScript, AnInterstitialNeitherExpandsNorResizesAndClosesThroughNativeCode) {
  load("interstitial");
  run("settle(); ready(); listen('error'); listen('stateChange')");
  EXPECT_EQ(run("mraid.getPlacementType()"), "interstitial");
  run("mraid.expand(); mraid.setResizeProperties({width: 100, height: 100}); mraid.resize()");
  EXPECT_EQ(run("took()"),
            "error(An interstitial cannot expand,expand) error(An interstitial cannot resize,resize)");
  run("mraid.useCustomClose(true); mraid.close()");
  EXPECT_EQ(run("settle()"), "qomb://mraid/customClose?custom_close=1\nqomb://mraid/close");
  EXPECT_EQ(run("took()"), "stateChange(hidden)");
}

TEST_F(MRAIDScript, MessagesLeaveOnePerTurnInTheOrderOfTheCalls) {
  load("inline");
  run("settle(); ready(); mraid.useCustomClose(false); mraid.expand()");
  EXPECT_EQ(run("sent.length + ' ' + timers.length"), "1 1") << "the second waits for the next turn";
  EXPECT_EQ(run("settle()"), "qomb://mraid/customClose?custom_close=0\nqomb://mraid/open?custom_close=0&a=expand");
}

// Our test creatives run unchanged on the script: each one's action becomes its message.
TEST(MRAIDCreatives, EachTestCreativeAsksForWhatItShows) {
  struct Case {
    const char* file;
    const char* placement;
    const char* action;
    const char* messages;
  } cases[] = {
      {"expandable-banner.html", "inline", "wvTap()", "qomb://mraid/open?custom_close=0&a=expand"},
      {"expandable-banner.html", "inline", "wvTapSecondPart()",
       "qomb://mraid/open?custom_close=0&a=webapp&u=https%3A%2F%2Fads.example%2Fcreatives%2Fexpanded-page.html"},
      {"resizing-banner.html", "inline", "wvTap()",
       "qomb://mraid/mraid?a=resize&width=320&height=250&offsetX=0&offsetY=0&customClosePosition=top-right&"
       "allowOffscreen=false"},
      {"resizing-banner.html", "inline", "wvTapTooLarge()",
       "qomb://mraid/mraid?a=resize&width=5000&height=5000&offsetX=0&offsetY=0&customClosePosition=top-right&"
       "allowOffscreen=false"},
      {"interstitial-custom-close.html", "interstitial", "wvClose()", "qomb://mraid/close"},
      {"store-picture.html", "inline", "wvTap()",
       "qomb://mraid/mraid?a=storePicture&iurl=https%3A%2F%2Fads.example%2Fcreatives%2Fpicture.png"},
      {"calendar-event.html", "inline", "wvTap()",
       "qomb://mraid/mraid?a=createCalendarEvent&start=2027-04-01T10%3A00%3A00%2B02%3A00&"
       "end=2027-04-01T18%3A00%3A00%2B02%3A00&summary=Spring%20sale&description=Half%20price%20on%20everything&"
       "location=Main%20Street%201"},
      {"calendar-event.html", "inline", "wvTapBadDates()",
       "qomb://mraid/mraid?a=createCalendarEvent&start=next%20Tuesday&end=&summary=Spring%20sale"},
      {"video.html", "inline", "wvTap()",
       "qomb://mraid/open?a=video&u=https%3A%2F%2Fads.example%2Fcreatives%2Ftrailer.mp4"},
  };
  for (const auto& c : cases) {
    const auto served = adserver::testCreative(std::string("/creatives/") + c.file);
    ASSERT_TRUE(served) << c.file;
    const std::string& html = *served;
    std::smatch inline_script;
    ASSERT_TRUE(std::regex_search(html, inline_script, std::regex("<script>([\\s\\S]*?)</script>"))) << c.file;
    ScriptHeap ctx;
    ASSERT_TRUE(ctx.evaluate(kWindow).ok);
    ASSERT_TRUE(ctx.evaluate("document.getElementById = function () { return { style: {}, src: '' }; };").ok);
    ASSERT_TRUE(ctx.evaluate(adserver::mraidScript(c.placement)).ok);
    auto creative = ctx.evaluate(inline_script[1].str(), c.file);
    ASSERT_TRUE(creative.ok) << c.file << ": " << creative.error;
    ASSERT_TRUE(ctx.evaluate("settle(); ready(); settle()").ok);
    auto acted = ctx.evaluate(std::string(c.action) + "; settle()");
    ASSERT_TRUE(acted.ok) << c.file << ": " << acted.error;
    EXPECT_EQ(acted.value, c.messages) << c.file << " " << c.action;
  }
}

}  // namespace
