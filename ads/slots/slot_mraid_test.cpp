// An MRAID creative in a slot, end to end against the ad server: the page asks for
// "mraid.js", gets our script through the interceptor, reports its load, and hears from
// the slot what the MRAID interface needs; then visibility, errors, orientation changes
// and the unload when the ad goes away.
#include <gtest/gtest.h>

#include "ads/render/mraid_interceptor.h"
#include "ads/services/device.h"
#include "ads/slots/slot_test_support.h"
#include "platform/eventkit/event_store.h"
#include "platform/system/screen_facts.h"
#include "platform/uikit/application.h"

namespace {

using nlohmann::json;
using slots_test::SlotFixture;

// Records every native event by name before our script handles it.
constexpr const char* kCreative =
    "<html><head><script src=\"mraid.js\"></script></head><body>"
    "<script>var heard = [], states = [], errors = [];"
    "var handle = QVRA_ReceiveMessage;"
    "QVRA_ReceiveMessage = function (n, p) { heard.push(n); return handle.apply(this, arguments); };"
    "mraid.addEventListener('ready', function () { states.push('ready:' + mraid.getState()); });"
    "mraid.addEventListener('viewableChange', function (v) { states.push('viewable:' + v); });"
    "mraid.addEventListener('error', function (m, a) { errors.push(a + ':' + m); });"
    "mraid.addEventListener('sizeChange', function (w, h) { states.push('size:' + w + 'x' + h); });"
    "</script>MRAID ad</body></html>";

struct SlotMRAID : SlotFixture {
  std::shared_ptr<QMASlot> slot;
  virtual bool interstitial() const { return false; }
  void SetUp() override {
    SlotFixture::SetUp();
    server->setScenario(json{{"ads", {{"ad", {{"body", kCreative}}}}}, {"default_ad", "ad"}});
    // The script URLs on this test's ad server.
    QMAMRAIDInterceptor::resetToDefaultPaths();
    slot = makeSlot(nullptr, interstitial());
    if (interstitial()) slot->setAdType(QMAAdType::interstitialAdType());
    slot->loadRequest(QMARequest::request());
    ASSERT_TRUE(pump([&] { return owner->count("finished") == 1 || owner->count("failed") == 1; }));
    ASSERT_EQ(owner->count("finished"), 1);
  }
  void TearDown() override {
    slot.reset();
    SlotFixture::TearDown();
    eventkit::EventStore::reset();
    QMAMRAIDInterceptor::resetToDefaultPaths();
  }
  std::string js(const std::string& s) { return slot->adView()->stringByEvaluatingJavaScriptFromString(s); }
  // How often the creative heard the event so far (viewability samples add position and
  // screen events of their own, whenever they come).
  int heardCount(const std::string& name) {
    const std::string n = js("(function () { if (typeof heard !== 'object') return 0; var n = 0;"
                             " for (var i = 0; i < heard.length; i++) if (heard[i] === '" + name + "') n++; return n; })()");
    return n.empty() ? 0 : std::stoi(n);
  }
  bool pumpUntilHeard(const std::string& name, int count) { return pump([&] { return heardCount(name) >= count; }); }
};

TEST_F(SlotMRAID, TheCreativesLoadStartsItsEventsAndItBecomesReady) {
  ASSERT_TRUE(pumpUntilHeard("onReadyEventReceived", 1)) << js("typeof heard === 'object' ? heard.join() : ''");
  // The screen first (once more when the slot starts listening to the orientation), then
  // the device's features, then ready.
  const std::string order = js("heard.join()");
  const auto screen = order.find("onScreenInfoChanged"), features = order.find("onDeviceFeaturesReceived"),
             ready = order.find("onReadyEventReceived");
  EXPECT_TRUE(screen < features && features < ready) << order;
  EXPECT_EQ(js("states.join()"), "ready:default");
  EXPECT_TRUE(slot->isMRAIDEnabled());
  EXPECT_TRUE(slot->isListeningToDeviceOrientationChangeEvent());
  const auto frame = QMADevice::sharedInstance()->standardizedOrientedApplicationFrame();
  EXPECT_EQ(js("mraid.getMaxSize().width + 'x' + mraid.getMaxSize().height"),
            std::to_string(static_cast<int>(frame.size.width)) + "x" + std::to_string(static_cast<int>(frame.size.height)));
  EXPECT_EQ(js("mraid.supports('calendar') + ' ' + mraid.supports('storePicture') + ' ' + mraid.supports('inlineVideo')"),
            "true true true");

  // Visibility and errors are queued for the page; both reach the creative.
  const int visibility = heardCount("onAdVisibilityChanged");
  slot->updateVisibility(true);
  slot->handleErrorAction("Received invalid orientation properties", "setOrientationProperties");
  ASSERT_TRUE(pumpUntilHeard("onError", 1));
  ASSERT_TRUE(pumpUntilHeard("onAdVisibilityChanged", visibility + 1));
  EXPECT_EQ(js("states[states.length - 1]"), "viewable:true");
  EXPECT_EQ(js("errors.join()"), "setOrientationProperties:Received invalid orientation properties");

  // The interface turns: the creative hears the screen again.
  const int screens = heardCount("onScreenInfoChanged");
  foundation::NotificationCenter::defaultCenter().postNotificationName(
      uikit::kUIApplicationDidChangeStatusBarOrientationNotification);
  ASSERT_TRUE(pumpUntilHeard("onScreenInfoChanged", screens + 1));
}

// A creative that reads its position when it hears "ready" finds its ad view's size (no
// viewability sample has run yet): the position goes out at once, ahead of "ready".
TEST_F(SlotMRAID, TheCreativeFindsItsSizeWhenItBecomesReady) {
  ASSERT_TRUE(pumpUntilHeard("onReadyEventReceived", 1));
  const std::string order = js("heard.join()");
  EXPECT_LT(order.find("onSizeChanged"), order.find("onReadyEventReceived")) << order;
  const auto size = slot->adView()->bounds().size;
  ASSERT_GT(size.width, 0);
  EXPECT_EQ(js("var p = mraid.getCurrentPosition(); p.width + 'x' + p.height"),
            std::to_string(static_cast<int>(size.width)) + "x" + std::to_string(static_cast<int>(size.height)));
  // Heard before "ready", the size is no change of size to the creative.
  EXPECT_EQ(js("states.join()"), "ready:default");
}

TEST_F(SlotMRAID, AnUnloadedAdStopsFollowingTheOrientation) {
  ASSERT_TRUE(pumpUntilHeard("onReadyEventReceived", 1));
  auto view = slot->adView();
  // Listening already: starting again posts nothing, so the creative hears no extra screen.
  drainMain();
  const int screens = heardCount("onScreenInfoChanged");
  slot->beginListeningToDeviceOrientationChangeEvent();
  drainMain();
  EXPECT_EQ(heardCount("onScreenInfoChanged"), screens);
  slot->resetRequestState();  // the ad goes away
  EXPECT_FALSE(slot->isListeningToDeviceOrientationChangeEvent());
  drainMain();
  const std::string before = view->stringByEvaluatingJavaScriptFromString("heard.length");
  foundation::NotificationCenter::defaultCenter().postNotificationName(
      uikit::kUIApplicationDidChangeStatusBarOrientationNotification);
  slot->didChangeDeviceOrientation();
  drainMain();
  EXPECT_EQ(view->stringByEvaluatingJavaScriptFromString("heard.length"), before);
}

std::string rectText(const foundation::Value& v) {
  const auto* d = v.asDictionary();
  if (!d) return "none";
  auto number = [&](const char* key) {
    auto it = d->find(key);
    return it == d->end() ? std::string("-") : std::to_string(static_cast<int>(it->second.doubleValue().value_or(-1)));
  };
  return (d->count("x") ? number("x") + "," + number("y") + "," : std::string()) + number("width") + "x" +
         number("height");
}

std::string valuesText(const foundation::Dictionary& values) {
  std::string text;
  for (const char* key : {"currentPosition", "defaultPosition", "maxSize", "screenSize"}) {
    auto it = values.find(key);
    text += std::string(text.empty() ? "" : " ") + key + "=" + (it == values.end() ? "none" : rectText(it->second));
  }
  return text;
}

// A banner's values for a state change: its frame as it stands, in the application frame
// (under the status bar), the host's application frame and the screen. Once given they
// count as sent: the next sample finds nothing new to send.
TEST_F(SlotMRAID, AStateChangeCarriesEveryValueTheCreativeReads) {
  ASSERT_TRUE(pumpUntilHeard("onReadyEventReceived", 1));
  // Not yet placed by a host: the view waits at its frame in a window of its own.
  auto view = slot->adView();
  ASSERT_TRUE(view->window());
  view->setFrame({{100, 120}, {300, 250}});
  drainMain();
  const int sizes = heardCount("onSizeChanged");
  EXPECT_EQ(valuesText(slot->MRAIDValuesFromView(view)),
            "currentPosition=100,100,300x250 defaultPosition=0,0,0x0 maxSize=375x647 screenSize=375x667");
  slot->updatePositionFromView(view);
  drainMain();
  EXPECT_EQ(heardCount("onSizeChanged"), sizes);
}

struct SlotMRAIDInterstitial : SlotMRAID {
  bool interstitial() const override { return true; }
};

// An interstitial is shown full screen with the status bar hidden: from "ready" on, before
// it is shown, its creative reads that frame in the present orientation (never the host's
// application frame nor where its view waits), and it rests there.
TEST_F(SlotMRAIDInterstitial, ItsCreativeReadsItsFullScreenFrameFromReadyOnInEitherOrientation) {
  ASSERT_TRUE(pumpUntilHeard("onReadyEventReceived", 1));
  EXPECT_EQ(js("[mraid.getCurrentPosition(), mraid.getDefaultPosition(), mraid.getMaxSize(), mraid.getScreenSize()]"
               ".map(function (r) { return (r.x !== undefined ? r.x + ',' + r.y + ',' : '') + r.width + 'x' + r.height; })"
               ".join(' ')"),
            "0,0,375x667 0,0,375x667 375x667 375x667");
  EXPECT_EQ(js("states.join()"), "ready:default");
  struct Case {
    system_facts::InterfaceOrientation orientation;
    const char* values;
  } cases[] = {
      {system_facts::InterfaceOrientation::LandscapeRight,
       "currentPosition=0,0,667x375 defaultPosition=0,0,667x375 maxSize=667x375 screenSize=667x375"},
      {system_facts::InterfaceOrientation::LandscapeLeft,
       "currentPosition=0,0,667x375 defaultPosition=0,0,667x375 maxSize=667x375 screenSize=667x375"},
      {system_facts::InterfaceOrientation::Portrait,
       "currentPosition=0,0,375x667 defaultPosition=0,0,375x667 maxSize=375x667 screenSize=375x667"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.values);
    auto facts = system_facts::screen();
    facts.orientation = c.orientation;
    system_facts::setScreen(facts);
    QMADevice::sharedInstance()->isOrientationLandscape();  // the device reads the turn
    EXPECT_EQ(valuesText(slot->MRAIDValuesFromView(slot->adView())), c.values);
  }
}

TEST_F(SlotMRAID, ACalendarTheUserRefusedIsNoFeature) {
  ASSERT_TRUE(pumpUntilHeard("onReadyEventReceived", 1));
  eventkit::EventStore::setAuthorizationStatus(eventkit::EntityTypeEvent, eventkit::AuthorizationStatusDenied);
  slot->notifyDeviceFeatures();
  ASSERT_TRUE(pumpUntilHeard("onDeviceFeaturesReceived", 2));
  EXPECT_EQ(js("mraid.supports('calendar')"), "false");
}

}  // namespace
