#pragma once
// The opener's groups under test: an ad view on screen in a host window, a slot that
// takes part in takeovers and hears MRAID errors and purchase offers, and the stand-in
// store, composers and calendar set back when a test ends.

#include <gtest/gtest.h>

#include "ads/model/ad_collaborators.h"
#include "ads/present/opener.h"
#include "ads/present/presentation_slot.h"
#include "ads/present/view_controller.h"
#include "ads/render/ad_view.h"
#include "ads/render/rendering_slot_stub.h"
#include "ads/services/test_support.h"
#include "platform/eventkit/event_store.h"
#include "platform/messageui/compose_view_controller.h"
#include "platform/storekit/store_product_view_controller.h"
#include "platform/uikit/window.h"

namespace opener_test {

struct Slot : render_test::StubSlot<QMAPresentationSlot>, QMAMRAIDEventHandling {
  std::vector<std::string> heard;
  std::vector<std::shared_ptr<QMAInAppPurchase>> purchases;
  std::weak_ptr<QMAIntermission> held;
  std::shared_ptr<QMAAd> none = QMAAd::initWithDictionary({});
  bool isMRAIDEnabled() const override { return true; }
  void pingClickURLs() override { heard.push_back("ping"); }
  void adWillLeaveApplication() override { heard.push_back("willLeave"); }
  std::shared_ptr<QMAIntermission> intermission() const override { return held.lock(); }
  void setIntermission(std::weak_ptr<QMAIntermission> i) override { held = std::move(i); }
  void adWillPresentScreen() override { heard.push_back("willPresent"); }
  void adWillDismissScreen() override { heard.push_back("willDismiss"); }
  void adDidDismissScreen() override { heard.push_back("didDismiss"); }
  void interstitialViewWillAppear() override {}
  void interstitialViewWillDisappear() override {}
  const std::shared_ptr<QMAAd>& ad() const override { return none; }
  std::shared_ptr<QMAInterstitial> interstitial() const override { return nullptr; }
  void didReceiveInAppPurchase(const std::shared_ptr<QMAInAppPurchase>& purchase) override {
    heard.push_back("purchase");
    purchases.push_back(purchase);
  }
  void MRAIDAdDidLoad() override {}
  void MRAIDAdDidUnload() override {}
  void updateVisibility(bool) override {}
  void updatePositionFromView(const std::shared_ptr<uikit::View>&) override {}
  void handleErrorAction(const std::string& message, const std::string& action) override {
    heard.push_back("error " + action + ": " + message);
  }
};

struct OpenerGroup : qma_test::DeviceRootTest {
  std::shared_ptr<Slot> slot = std::make_shared<Slot>();
  std::shared_ptr<QMAAdView> view;
  std::shared_ptr<QMAOpener> opener;
  std::shared_ptr<uikit::Window> window = std::make_shared<uikit::Window>(uikit::Rect{0, 0, 320, 480});
  std::shared_ptr<uikit::ViewController> root = std::make_shared<uikit::ViewController>();

  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    view = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
    opener = QMAOpener::init();
    opener->setSlot(slot);
    opener->setAdView(view);
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    root->view()->addSubview(view);
    opener->setViewController(root);
  }
  void TearDown() override {
    // Whatever is still up goes, so nothing of this test is left on the shared screen.
    for (int i = 0; i < 4; ++i) {
      auto shown = root->presentedViewController();
      if (!shown) break;
      if (auto ad = std::dynamic_pointer_cast<QMAViewController>(shown)) {
        ad->relinquishScreenWithCompletion(nullptr);
      } else {
        root->dismissViewControllerAnimated(false, nullptr);
      }
      drainMain();
    }
    window->setHidden(true);
    messageui::MFTestComposers::reset();
    eventkit::EventStore::reset();
    opener.reset();
    DeviceRootTest::TearDown();
  }
  std::vector<std::string> heard() {
    drainMain();
    return std::exchange(slot->heard, {});
  }
  template <typename T>
  std::shared_ptr<T> shown() {
    drainMain();
    return std::dynamic_pointer_cast<T>(root->presentedViewController());
  }
  static net::URL url(const char* text) { return *net::URL::fromString(text); }
};

}  // namespace opener_test
