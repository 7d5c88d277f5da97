#pragma once
// The slot tests' fixture: the ad network played by an in-process ad server on 127.0.0.1
// (port 0) that the shared SDK-core page is reloaded from for each test, an application
// that is active, the hand clock, and an owner that records what the slot tells it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ads/model/test_support.h"
#include "ads/present/opener.h"
#include "ads/render/mraid_interceptor.h"
#include "ads/render/sdk_core_controller.h"
#include "ads/services/logging.h"
#include "ads/services/test_support.h"
#include "ads/slots/slot.h"
#include "platform/foundation/log.h"
#include "tools/adserver/ad_server.h"

namespace slots_test {

// A format that owns a slot: every message the slot sends is recorded in order, and the
// answers it gives are set by the test (nullopt: the owner does not implement them).
struct Owner : QMASlotDelegate, QMASlotAdEventDelegate, QMASlotAdKeyDelegate {
  std::vector<std::string> events;
  std::vector<QMARequestError> errors;
  std::optional<bool> shouldLoad;
  std::optional<bool> shouldReload;
  std::optional<bool> preempt;
  std::optional<std::vector<std::shared_ptr<const QMABoxedValue>>> sizes;
  std::optional<uikit::Rect> frameAnswer;
  std::optional<uikit::Rect> boundsAnswer;
  std::optional<foundation::Value> position;
  std::optional<foundation::Value> hierarchy;
  std::optional<bool> customRenders;
  std::optional<foundation::Error> customRenderError;
  std::shared_ptr<QMAAd> customRenderedAd;
  QMASlotOwnerFormat format = QMASlotOwnerFormat::Other;
  std::optional<QMAAdSize> adoptedSize;

  int count(const std::string& event) const { return static_cast<int>(std::count(events.begin(), events.end(), event)); }

  std::optional<bool> slotShouldLoadRequest(QMASlot&, const std::shared_ptr<QMARequest>&) override { return shouldLoad; }
  std::optional<bool> slotShouldReloadCurrentRequest(QMASlot&) override {
    events.push_back("shouldReload");
    return shouldReload;
  }
  std::optional<bool> slotShouldPreemptInProgressRequest(QMASlot&) override { return preempt; }
  std::optional<uikit::Rect> frame() override { return frameAnswer; }
  std::optional<uikit::Rect> bounds() override { return boundsAnswer; }
  std::optional<foundation::Value> coordinatesOfContentInScreen(const uikit::Screen&) override { return position; }
  void slotDidReceiveAdView(QMASlot&, const std::shared_ptr<uikit::View>& view) override {
    events.push_back(view ? "adView" : "noAdView");
  }
  void setAdSizeAndReload(QMAAdSize size, bool) override { adoptedSize = size; }
  std::optional<std::vector<std::shared_ptr<const QMABoxedValue>>> validAdSizes() override { return sizes; }
  void slotWillResizeToAdSize(QMASlot&, QMAAdSize) override { events.push_back("willResize"); }
  std::optional<bool> slotNotifyPublisherToRenderCustomRenderingAdError(QMASlot&, const std::shared_ptr<QMAAd>& ad,
                                                                       std::optional<foundation::Error>* error) override {
    events.push_back("customRender");
    customRenderedAd = ad;
    if (customRenderError && error) *error = customRenderError;
    return customRenders;
  }
  void slotWillLoadAdWithRequest(QMASlot&, const std::shared_ptr<QMARequest>&) override { events.push_back("willLoad"); }
  void slotDidReceiveAdClick(QMASlot&) override { events.push_back("click"); }
  QMASlotOwnerFormat slotOwnerFormat() const override { return format; }

  void slotFinishedLoadingAdContent(QMASlot&) override { events.push_back("finished"); }
  void slotDidFailToLoadAdContentWithError(QMASlot&, const QMARequestError& error) override {
    events.push_back("failed " + std::to_string(error.code));
    errors.push_back(error);
  }
  void slotWillLeaveApplication(QMASlot&) override { events.push_back("leave"); }

  std::optional<foundation::Value> viewHierarchyInformationForSlot(QMASlot&) override { return hierarchy; }
};

struct SlotFixture : model_test::ModelTest {
  std::unique_ptr<adserver::AdServer> server;
  std::shared_ptr<Owner> owner = std::make_shared<Owner>();
  std::vector<std::string> logLines;
  std::mutex logMutex;
  std::vector<std::weak_ptr<QMASlot>> madeSlots;
  foundation::LogSink previousSink;

  void SetUp() override {
    // What the component's start-up puts in below the slots, as the slot's roads need it:
    // the opener of every ad view delegate and the interceptor allowed by the early
    // activities the first slot runs.
    QMAOpener::install();
    QMAMRAIDInterceptor::allowAtStartUp();
    ModelTest::SetUp();
    QMAApplication::setApplicationStateSource([] { return static_cast<long>(QMAApplicationStateActive); });
    previousSink = foundation::setLogSink([this](const std::string& line) {
      std::lock_guard lock(logMutex);
      logLines.push_back(line);
    });
    useScenario(nlohmann::json::object());
    // The shared viewability page of an earlier test came from that test's server, which
    // has gone, maybe before the page's script arrived; an update of the core makes the
    // next one come from this test's server, as it does when the core changes in the field.
    auto controller = QMASDKCoreController::sharedInstance();
    if (auto handler = controller->activeSDKCoreWebView()->SDKCoreQOMBHandler())
      controller->SDKCoreQOMBHandlerDidReceiveSDKCoreUpdateNotification(*handler);
  }
  void TearDown() override {
    // A slot the test still holds somewhere (a timer, a connection) must not load on into
    // the next test: its fetch time-out would end there and hand back an interceptor share
    // the next test counts, and its state handler points into this test's frame.
    for (const auto& weak : madeSlots) {
      if (auto slot = weak.lock()) {
        slot->setStateChangeHandler(nullptr);
        slot->cancelPendingActions();
      }
    }
    madeSlots.clear();
    drainMain();
    QMAMRAIDInterceptor::resetCanInitWithRequestCounter();
    if (server) server->stop();
    unsetenv("WARDVANE_AD_NETWORK_URL");
    QMASlot::setClickSignalSource(nullptr);
    QMAApplication::setApplicationStateSource(nullptr);
    QMAAdViewDelegate::setOpenerFactory(nullptr);
    ModelTest::TearDown();
    QMALogQueue()->sync([] {});
    foundation::setLogSink(previousSink);
  }

  // A fresh ad network with this scenario; the shared page is loaded from it again, so its
  // answers follow the scenario.
  void useScenario(const nlohmann::json& scenario) {
    auto controller = QMASDKCoreController::sharedInstance();
    const auto& page = controller->activeSDKCoreWebView();
    auto loading = [&] { return page->state() == 1 || page->state() == 2; };
    // A load of the page still under way (a request's reload) ends first: with the old
    // server gone it fails, and what it tells its observers is delivered.
    if (server) server->stop();
    ASSERT_TRUE(pump([&] { return !loading(); }));
    drainMain();
    server = std::make_unique<adserver::AdServer>(adserver::AdServer::parseScenario(scenario.dump()));
    ASSERT_TRUE(server->start());
    setenv("WARDVANE_AD_NETWORK_URL", server->baseURL().c_str(), 1);
    controller->refreshActiveWebViewSDKCore();
    // Requests go to the page once it has ended this load attempt (loaded or failed).
    ASSERT_TRUE(pump([&] { return !server->requestsForPath(adserver::AdServer::kPagePath).empty() && !loading(); }))
        << "page state " << page->state() << ", " << server->requests().size() << " requests";
    drainMain();
  }

  // A slot owned by `owner`, recording the states it passes through.
  std::shared_ptr<QMASlot> makeSlot(std::vector<std::int64_t>* states = nullptr, bool interstitial = false,
                                    uikit::Rect frame = {{0, 0}, {320, 50}}) {
    auto slot = QMASlot::initWithFrame(frame);
    madeSlots.push_back(slot);
    slot->setSlotDelegate(owner);
    slot->setAdEventDelegate(owner);
    slot->setAdKeyDelegate(owner);
    slot->setAdUnitID("unit-1");
    if (!interstitial) slot->setAdType(QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner));
    if (states) {
      states->push_back(slot->state());
      slot->setStateChangeHandler([states](std::int64_t, std::int64_t to) { states->push_back(to); });
    }
    return slot;
  }

  static bool pump(const std::function<bool()>& done) { return qma_test::pumpMainLoop(done); }
  std::vector<adserver::RecordedRequest> adRequests() const { return server->requestsForPath(adserver::AdServer::kAdPath); }
  std::string serverURL(const std::string& path) const { return server->baseURL() + path; }
  bool logged(const std::string& text) {
    QMALogQueue()->sync([] {});
    std::lock_guard lock(logMutex);
    for (const auto& line : logLines)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  int loggedCount(const std::string& text) {
    QMALogQueue()->sync([] {});
    std::lock_guard lock(logMutex);
    int n = 0;
    for (const auto& line : logLines)
      if (line.find(text) != std::string::npos) ++n;
    return n;
  }
};

// A request whose extras carry these parameters (and objects).
inline std::shared_ptr<QMARequest> requestWithExtras(const foundation::Dictionary& parameters,
                                                     const std::vector<std::pair<std::string, std::any>>& objects = {}) {
  auto request = QMARequest::request();
  auto extras = QMAExtras::init();
  extras->setAdditionalParameters(parameters);
  for (const auto& [key, object] : objects) extras->setAdditionalObjectForKey(object, key);
  request->registerAdNetworkExtras(extras);
  return request;
}

}  // namespace slots_test
