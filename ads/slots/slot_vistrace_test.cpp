// Viewability: a monitor sampling a view as it moves in and out of its window on the hand
// clock, the SDK-core page's verdicts on the reports it is sent, and a slot's reports as
// its banner is scrolled away and back.
#include <gtest/gtest.h>

#include "ads/render/vistrace_monitor.h"
#include "ads/slots/slot.h"
#include "ads/slots/slot_test_support.h"
#include "platform/uikit/application.h"
#include "platform/uikit/scroll_view.h"
#include "platform/uikit/window.h"

namespace {

using foundation::Dictionary;
using foundation::Value;
using slots_test::SlotFixture;

struct Samples : QMAVistraceMonitorDelegate {
  std::vector<std::pair<bool, QMARect>> seen;
  void vistraceMonitorDidRefresh(QMAVistraceMonitor& monitor) override {
    seen.emplace_back(monitor.monitoredViewVisible(), monitor.monitoredViewVisibleBounds());
  }
};

struct Verdicts : QMAAdViewVistraceMonitoring {
  std::vector<std::string> heard;
  void adViewDidChangeVistraceVisibility(bool visible) override { heard.push_back(visible ? "visible" : "hidden"); }
  void adViewDidStopVistraceMonitoring() override { heard.push_back("stop"); }
};

struct Vistrace : SlotFixture {
  std::shared_ptr<uikit::Window> window;
  void SetUp() override {
    SlotFixture::SetUp();
    window = std::make_shared<uikit::Window>(uikit::Rect{{0, 0}, {320, 480}});
    window->setHidden(false);
  }
  // One sampling interval on the hand clock, and the sample it runs.
  static void tick() {
    const double server = QMASDKCoreController::sharedInstance()->vistraceSamplingInterval();
    foundation::Clock::advance(server > 0 ? server : QMAVistraceMonitor::kDefaultSamplingInterval);
    drainMain();
  }
};

TEST_F(Vistrace, TheMonitorSamplesTheViewAsItMovesInAndOutOfItsWindow) {
  auto view = std::make_shared<uikit::View>(uikit::Rect{{0, 100}, {320, 50}});
  window->addSubview(view);
  auto monitor = QMAVistraceMonitor::initWithView(view);
  ASSERT_TRUE(monitor);
  EXPECT_FALSE(QMAVistraceMonitor::initWithView(nullptr));
  auto samples = std::make_shared<Samples>();
  monitor->setDelegate(samples);
  monitor->startMonitoring();
  monitor->startMonitoring();  // one scheduler
  drainMain();
  EXPECT_TRUE(samples->seen.empty());  // the first sample comes at the interval
  struct Step {
    const char* name;
    std::function<void()> move;
    bool visible;
    QMARect bounds;
  };
  const Step steps[] = {
      {"on screen", [] {}, true, {{0, 100}, {320, 50}}},
      {"partly below the window", [&] { view->setFrame({{0, 460}, {320, 50}}); }, true, {{0, 460}, {320, 20}}},
      {"wholly below it", [&] { view->setFrame({{0, 480}, {320, 50}}); }, false, {}},
      {"one point high on screen", [&] { view->setFrame({{0, 479}, {320, 50}}); }, true, {{0, 479}, {320, 1}}},
      {"the window hidden", [&] { window->setHidden(true); }, false, {}},
      {"back", [&] { window->setHidden(false); view->setFrame({{0, 0}, {320, 50}}); }, true, {{0, 0}, {320, 50}}},
      {"out of the window", [&] { view->removeFromSuperview(); }, false, {}},
  };
  for (const auto& s : steps) {
    s.move();
    const std::size_t before = samples->seen.size();
    tick();
    ASSERT_EQ(samples->seen.size(), before + 1) << s.name;
    EXPECT_EQ(samples->seen.back().first, s.visible) << s.name;
    EXPECT_EQ(samples->seen.back().second, s.bounds) << s.name;
  }
  // Stopped: no more samples, but one on request; a view that has gone is not visible.
  monitor->stopMonitoring();
  monitor->stopMonitoring();
  tick();
  const std::size_t stopped = samples->seen.size();
  window->addSubview(view);
  monitor->sample();
  drainMain();
  ASSERT_EQ(samples->seen.size(), stopped + 1);
  EXPECT_TRUE(samples->seen.back().first);
  view->removeFromSuperview();
  view.reset();
  monitor->sample();
  drainMain();
  ASSERT_EQ(samples->seen.size(), stopped + 2);
  EXPECT_FALSE(samples->seen.back().first);
}

TEST_F(Vistrace, ThePageAnswersReportsWithVerdictsOnChangeAndUntracksOnUnload) {
  auto controller = QMASDKCoreController::sharedInstance();
  auto page = controller->SDKCoreWebViewForVistraceProcessing();
  ASSERT_TRUE(page);
  auto verdicts = std::make_shared<Verdicts>();
  const std::uint64_t id = QMAApplication::sharedInstance()->nextVistraceID();
  page->setVistraceObserverForVistraceID(verdicts, id);
  auto report = [&](const char* visible, bool unloaded = false) {
    page->enqueueJavaScriptCommand("QVRA_updateVistrace({\"units\":[{\"hashCode\":" + std::to_string(id) +
                                   ",\"isVisible\":\"" + visible + "\"" + (unloaded ? ",\"doneReasonCode\":\"u\"" : "") +
                                   "}]})");
  };
  report("1");
  report("1");
  report("0");
  ASSERT_TRUE(pump([&] { return verdicts->heard.size() >= 2; }));
  report("0", true);
  ASSERT_TRUE(pump([&] { return verdicts->heard.size() >= 3; }));
  report("1", true);  // a last report after the untrack changes nothing
  report("1");
  drainMain();
  EXPECT_EQ(verdicts->heard, (std::vector<std::string>{"visible", "hidden", "stop"}));
  controller->finishedUsingSDKCoreWebViewForVistraceProcessing(page);
}

TEST_F(Vistrace, ASlotReportsItsBannerScrolledAwayAndBackAndUnloadsWithTheSameID) {
  useScenario({{"ads", {{"ad", {{"body", "<body>Seen</body>"}, {"headers", {{"X-Qvra-Vistrace", "{\"unit\": 1}"}}}}}}},
               {"default_ad", "ad"}});
  auto scroll = std::make_shared<uikit::ScrollView>(window->bounds());
  window->addSubview(scroll);
  auto slot = makeSlot();
  slot->adView()->setFrame({{0, 200}, {320, 50}});
  scroll->addSubview(slot->adView());
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return owner->count("finished") > 0; }));
  ASSERT_TRUE(slot->vistraceMonitor());
  EXPECT_TRUE(slot->vistraceMonitor()->isMonitoring());
  auto unit = [&](bool unloaded = false) {
    auto report = slot->vistraceParametersVistraceUnloaded(*slot->vistraceMonitor(), unloaded);
    return (*report["units"].asArray())[0];
  };
  struct Step {
    double offsetY;
    const char* visible;
    double visibleTop, visibleBottom;
  };
  const Step steps[] = {{0, "1", 200, 250}, {225, "1", 0, 25}, {300, "0", 0, 0}, {0, "1", 200, 250}};
  for (const auto& s : steps) {
    scroll->setContentOffset({0, s.offsetY});
    tick();
    const Value u = unit();
    EXPECT_EQ(*u.get("isVisible"), Value(s.visible)) << s.offsetY;
    EXPECT_EQ(*u.get("globalVisibleBox"), Value(Dictionary{{"top", s.visibleTop},
                                                             {"bottom", s.visibleBottom},
                                                             {"left", 0.0},
                                                             {"right", s.visibleBottom > 0 ? 320.0 : 0.0}}))
        << s.offsetY;
    EXPECT_EQ(*u.get("adBox"), Value(Dictionary{{"top", 200 - s.offsetY},
                                                 {"bottom", 250 - s.offsetY},
                                                 {"left", 0.0},
                                                 {"right", 320.0}}));
    EXPECT_FALSE(u.get("doneReasonCode"));
  }
  const Value last = unit(true);
  EXPECT_EQ(*last.get("doneReasonCode"), Value("u"));
  EXPECT_EQ(*last.get("hashCode"), Value(static_cast<unsigned long long>(slot->vistraceID())));
  slot->finishVistraceReporting();
  EXPECT_FALSE(slot->vistraceMonitor());
  EXPECT_FALSE(slot->SDKCoreWebView());
}

// The report says where the interface stands and what the screen offers in it: a banner
// seen in landscape is reported as seen in landscape.
TEST_F(Vistrace, ReportsFollowTheInterfaceAsItTurns) {
  useScenario({{"ads", {{"ad", {{"body", "<body>Seen</body>"}, {"headers", {{"X-Qvra-Vistrace", "{\"unit\": 1}"}}}}}}},
               {"default_ad", "ad"}});
  auto slot = makeSlot();
  slot->adView()->setFrame({{0, 100}, {320, 50}});
  window->addSubview(slot->adView());
  slot->loadRequest(QMARequest::request());
  ASSERT_TRUE(pump([&] { return owner->count("finished") > 0; }));
  ASSERT_TRUE(slot->vistraceMonitor());
  struct Case {
    long orientation;
    double width, height;  // the screen in that orientation, status bar included
  } cases[] = {{3, 667, 375}, {4, 667, 375}, {2, 375, 667}, {1, 375, 667}};
  for (const auto& c : cases) {
    uikit::Application::sharedApplication()->setStatusBarOrientation(c.orientation);
    tick();
    auto report = slot->vistraceParametersVistraceUnloaded(*slot->vistraceMonitor(), false);
    const Value unit = (*report["units"].asArray())[0];
    EXPECT_EQ(*unit.get("screenOrientation"), Value(c.orientation));
    EXPECT_EQ(*unit.get("screenDimension"),
              Value(Dictionary{{"top", 20.0}, {"bottom", c.height}, {"left", 0.0}, {"right", c.width}}))
        << c.orientation;
  }
  slot->finishVistraceReporting();
}

}  // namespace
