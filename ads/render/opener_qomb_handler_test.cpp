// A creative's click and open messages reaching the opener, the web-app settings reaching
// the full-screen controller that shows the creative, and where both handlers stand in an
// ad view delegate's list.
#include "ads/render/opener_qomb_handler.h"

#include <gtest/gtest.h>

#include "ads/model/ad_collaborators.h"
#include "ads/render/ad_app_qomb_handler.h"
#include "ads/render/ad_view.h"
#include "ads/render/ad_view_delegate.h"
#include "ads/render/banner_ad_view_delegate.h"
#include "ads/render/rendering_slot.h"
#include "ads/render/rendering_slot_stub.h"
#include "ads/services/click_tracker_collection.h"
#include "ads/services/test_support.h"
#include "platform/uikit/window.h"

namespace opener_handler_test {

struct Slot : render_test::StubSlot<>, QMAMRAIDEventHandling {
  std::vector<std::string> calls;
  void adWasClicked() override { calls.push_back("counted"); }
  void adWillLeaveApplication() override { calls.push_back("left"); }
  // The MRAID errors the creative would hear.
  void MRAIDAdDidLoad() override {}
  void MRAIDAdDidUnload() override {}
  void updateVisibility(bool) override {}
  void updatePositionFromView(const std::shared_ptr<uikit::View>&) override {}
  void handleErrorAction(const std::string& message, const std::string& action) override {
    calls.push_back("error " + action + ": " + message);
  }
  // The slot's click URL wraps the creative's.
  net::URL gestureClickURLWithURL(const net::URL& url) override {
    return *net::URL::fromString("http://127.0.0.1:9/click?to=" + url.absoluteString());
  }
};

// Records every request as one line.
struct Opener : QMAAdViewOpener {
  std::weak_ptr<QMARenderingSlot> slot_;
  std::vector<std::string> asked;
  static std::string text(const std::optional<net::URL>& url) { return url ? url->absoluteString() : "-"; }
  void setViewController(std::weak_ptr<uikit::ViewController>) override {}
  void setAdView(std::weak_ptr<QMAAdView>) override {}
  void setSlot(std::weak_ptr<QMARenderingSlot> s) override { slot_ = std::move(s); }
  void setDelegate(std::nullptr_t) override {}
  void setNavigationURL(std::optional<std::string>) override {}
  void setReferringURL(std::optional<net::URL>) override {}
  bool isAutoClickProtected() const override { return false; }
  void setAutoClickProtected(bool) override {}
  bool didOpenAnotherApplication() const override { return false; }
  void setDidOpenAnotherApplication(bool) override {}
  std::shared_ptr<uikit::ViewController> viewController() const override { return nullptr; }
  std::shared_ptr<QMARenderingSlot> slot() const override { return slot_.lock(); }
  void openApp(const std::optional<net::URL>& url) override { asked.push_back("app " + text(url)); }
  void openBrowserToURLSupportedOrientations(const std::optional<net::URL>& url, std::uint64_t mask) override {
    asked.push_back("browser " + text(url) + " " + std::to_string(mask));
  }
  void openWebAppSupportedOrientationsUsingCustomClose(const std::optional<net::URL>& url, std::uint64_t mask,
                                                       bool customClose) override {
    asked.push_back("webapp " + text(url) + " " + std::to_string(mask) + (customClose ? " custom" : ""));
  }
  void openWebAppWithHTMLSupportedOrientationsUsingCustomClose(const std::optional<std::string>& html,
                                                               std::uint64_t mask, bool customClose) override {
    asked.push_back("html " + html.value_or("-") + " " + std::to_string(mask) + (customClose ? " custom" : ""));
  }
  void expandToWebAppWithSupportedOrientationsUsingCustomClose(std::uint64_t mask, bool customClose) override {
    asked.push_back("expand " + std::to_string(mask) + (customClose ? " custom" : ""));
  }
  void openInAppStoreWithProductIDFallbackURLShouldWaitForFetch(const std::string& id,
                                                                const std::optional<net::URL>& fallback,
                                                                bool wait) override {
    asked.push_back("store " + id + " " + text(fallback) + (wait ? " wait" : " now"));
  }
  void fetchInAppStoreForProductID(const std::string& id) override { asked.push_back("fetch " + id); }
  void openInAppPurchaseQuantityReportingURLStringFormats(const std::string& id, std::int64_t quantity,
                                                          const std::vector<std::string>& formats) override {
    std::string line = "purchase " + id + " x" + std::to_string(quantity);
    for (const auto& f : formats) line += " [" + f + "]";
    asked.push_back(line);
  }
  void openEmailComposer(const net::URL& url) override { asked.push_back("mail " + url.absoluteString()); }
  void openSmsComposer(const net::URL& url) override { asked.push_back("sms " + url.absoluteString()); }
};

struct OpenerHandler : qma_test::DeviceRootTest {
  std::shared_ptr<Slot> slot = std::make_shared<Slot>();
  std::shared_ptr<Opener> opener = std::make_shared<Opener>();
  std::shared_ptr<QMAOpenerQOMBHandler> handler;
  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    opener->setSlot(slot);
    handler = QMAOpenerQOMBHandler::initWithOpener(opener);
  }
  bool send(const std::string& query) {
    auto note = QMANotification::initWithNotificationURL(net::URL::fromString("qomb://ad/" + query));
    return handler->handleNotificationAdView(note, nullptr);
  }
  std::vector<std::string> asked() { return std::exchange(opener->asked, {}); }
};

TEST_F(OpenerHandler, EachOpenActionReachesTheOpenerWithItsParameters) {
  struct Case {
    const char* query;
    const char* asked;  // "" for nothing
  } cases[] = {
      {"open?a=browser&u=https%3A%2F%2Fland.example%2F", "browser https://land.example/ 30"},
      {"open?a=video&u=https%3A%2F%2Fv.example%2Fa.mp4&o=l", "browser https://v.example/a.mp4 24"},
      {"open?a=browser&o=p", ""},
      {"open?a=webapp&u=https%3A%2F%2Fapp.example%2F&html=%3Cb%3E&o=p&custom_close=1",
       "webapp https://app.example/ 6 custom"},
      {"open?a=webapp&html=%3Cb%3Eapp%3C%2Fb%3E&custom_close=true", "html <b>app</b> 30"},
      {"open?a=webapp", ""},
      {"open?a=expand&o=sideways&custom_close=1", "expand 30 custom"},
      {"open?a=expand", "expand 30"},
      {"open?a=in_app_store&product_id=284882215&u=https%3A%2F%2Fstore.example%2Fapp",
       "store 284882215 https://store.example/app wait"},
      {"open?a=in_app_store&product_id=7&wait_for_fetch=false", "store 7 - now"},
      {"open?a=in_app_store&product_id=7&wait_for_fetch=TRUE", "store 7 - now"},
      {"open?a=in_app_store&product_id=7&wait_for_fetch=true", "store 7 - wait"},
      {"open?a=in_app_store&u=https%3A%2F%2Fstore.example%2F", ""},
      {"fetchAppStore?product_id=abc", "fetch abc"},
      {"fetchAppStore", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_TRUE(send(c.query));
    const auto got = asked();
    if (*c.asked) {
      EXPECT_EQ(got, std::vector<std::string>{c.asked});
    } else {
      EXPECT_TRUE(got.empty());
    }
  }
  EXPECT_TRUE(slot->calls.empty()) << "only leaving for another application counts a click here";
}

// The in-app browser, the video player and a web app open only an address they can show: a
// script, a device file or text that makes no address opens nothing (no empty browser, no
// script run in it) and the creative hears an MRAID error for its call.
TEST_F(OpenerHandler, AnAddressThatCannotBeOpenedIsRefusedWithAnMRAIDError) {
  struct Case {
    const char* query;
    const char* asked;  // "" for nothing
    const char* error;  // the action of the error heard, "" for none
  } cases[] = {
      {"open?a=browser&u=javascript%3Aalert(1)", "", "open"},
      {"open?a=browser&u=JavaScript%3Aalert(1)", "", "open"},
      {"open?a=browser&u=file%3A%2F%2F%2Fetc%2Fpasswd", "", "open"},
      {"open?a=browser&u=FILE%3A%2Fetc%2Fpasswd", "", "open"},
      {"open?a=browser&u=not%20an%20address", "", "open"},
      {"open?a=browser&u=land%2Fpage.html", "", "open"},  // relative: no page to resolve it by
      {"open?a=browser&u=https%3A%2F%2F", "", "open"},
      {"open?a=browser&u=http%3Aland.example", "", "open"},
      {"open?a=browser&u=", "", "open"},
      {"open?a=video&u=javascript%3Avoid(0)", "", "playVideo"},
      {"open?a=video&u=file%3A%2F%2F%2Fvar%2Fv.mp4", "", "playVideo"},
      {"open?a=webapp&u=javascript%3Ax&html=%3Cb%3E", "", "expand"},
      {"open?a=webapp&u=file%3A%2F%2F%2Fetc%2Fhosts", "", "expand"},
      {"open?a=webapp&u=%5B%5D", "", "expand"},
      // What may open still opens: the web, and the schemes other applications take.
      {"open?a=browser&u=HTTPS%3A%2F%2Fland.example%2F", "browser HTTPS://land.example/ 30", ""},
      {"open?a=browser&u=tel%3A5550100", "browser tel:5550100 30", ""},
      {"open?a=video&u=http%3A%2F%2F127.0.0.1%3A8080%2Fv.mp4", "browser http://127.0.0.1:8080/v.mp4 30", ""},
      {"open?a=webapp&u=https%3A%2F%2Fapp.example%2Fjavascript%3Ax", "webapp https://app.example/javascript:x 30", ""},
      // Nothing asked is nothing refused.
      {"open?a=browser", "", ""},
      {"open?a=video", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_TRUE(send(c.query));
    const auto got = asked();
    if (*c.asked) {
      EXPECT_EQ(got, std::vector<std::string>{c.asked});
    } else {
      EXPECT_TRUE(got.empty());
    }
    const auto calls = std::exchange(slot->calls, {});
    if (*c.error) {
      EXPECT_EQ(calls, std::vector<std::string>{std::string("error ") + c.error + ": " +
                                                QMAOpenerQOMBHandler::kNotOpenableMessage});
    } else {
      EXPECT_TRUE(calls.empty());
    }
  }
}

TEST_F(OpenerHandler, APurchaseOfferNeedsAProductAndOneToTenItemsAndKeepsOnlyNonEmptyReportTemplates) {
  send("open?a=in_app_purchase&product_id=gems&quantity=1&report_urls=%20http%3A%2F%2Fa%2F%40status%40%20%20%0A%0D%09"
       "http%3A%2F%2Fb%2F%0A");
  EXPECT_EQ(asked(), std::vector<std::string>{"purchase gems x1 [http://a/@status@] [http://b/]"});
  send("open?a=in_app_purchase&product_id=gems&quantity=10");
  EXPECT_EQ(asked(), std::vector<std::string>{"purchase gems x10"});
  for (const char* refused : {"open?a=in_app_purchase&product_id=gems&quantity=0",
                              "open?a=in_app_purchase&product_id=gems&quantity=11",
                              "open?a=in_app_purchase&product_id=gems&quantity=lots",
                              "open?a=in_app_purchase&product_id=gems", "open?a=in_app_purchase&quantity=2"}) {
    SCOPED_TRACE(refused);
    EXPECT_TRUE(send(refused));
    EXPECT_TRUE(asked().empty());
  }
}

TEST_F(OpenerHandler, AnOpenWithoutAKnownActionIsACountedClickThatLeavesThroughTheSlotsClickURL) {
  for (const char* query : {"open?u=tel%3A5550100", "open?a=app&u=tel%3A5550100", "open?a=call&u=tel%3A5550100",
                            "open?a=teleport&u=tel%3A5550100"}) {
    SCOPED_TRACE(query);
    send(query);
    EXPECT_EQ(asked(), std::vector<std::string>{"app http://127.0.0.1:9/click?to=tel:5550100"});
    EXPECT_EQ(std::exchange(slot->calls, {}), std::vector<std::string>{"counted"});
  }
  send("open?a=app");
  EXPECT_TRUE(asked().empty());
  EXPECT_TRUE(slot->calls.empty());
  slot.reset();  // an ad whose slot has gone opens nothing
  send("open?u=tel%3A5550100");
  EXPECT_TRUE(asked().empty());
}

TEST_F(OpenerHandler, AClickOnlyPingsTheSlotsClickURL) {
  const auto before = QMAClickTrackerCollection::sharedInstance()->trackers().size();
  EXPECT_TRUE(send("click?u=https%3A%2F%2Fland.example%2F"));
  EXPECT_TRUE(asked().empty()) << "nothing opens";
  EXPECT_EQ(QMAClickTrackerCollection::sharedInstance()->trackers().size(), before + 1);
  send("click");
  EXPECT_EQ(QMAClickTrackerCollection::sharedInstance()->trackers().size(), before + 1);
  for (const auto& tracker : QMAClickTrackerCollection::sharedInstance()->trackers()) tracker->reset();
}

TEST(OpenerHandlerOrientation, TheCreativesOrientationWordsGiveMasks) {
  auto mask = [](const char* query, bool landscape) {
    auto note = QMANotification::initWithNotificationURL(net::URL::fromString(std::string("qomb://ad/open?") + query));
    return QMAOpenerQOMBHandler::orientationFromParams(*note, landscape);
  };
  EXPECT_EQ(mask("a=browser", false), 30u);
  EXPECT_EQ(mask("o=p", true), 6u);
  EXPECT_EQ(mask("o=l", false), 24u);
  EXPECT_EQ(mask("o=c", true), 24u);
  EXPECT_EQ(mask("o=c", false), 6u);
  EXPECT_EQ(mask("o=P", false), 30u);
}

// A web-app controller as presentation's would be: it records what the creative asked.
struct AdAppController : uikit::ViewController, QMAAdAppScreen {
  std::vector<std::string> asked;
  void setUseCustomClose(bool use) override { asked.push_back(use ? "custom close" : "built-in close"); }
  void setTransparentBackgroundPresentation(bool transparent) override {
    asked.push_back(transparent ? "transparent" : "default presenter");
  }
};

struct AdAppHandler : qma_test::DeviceRootTest {
  std::shared_ptr<QMAAdAppQOMBHandler> handler = QMAAdAppQOMBHandler::init();
  std::shared_ptr<QMAAdView> view;
  std::shared_ptr<AdAppController> controller = std::make_shared<AdAppController>();
  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    view = QMAAdView::initWithFrame({{0, 0}, {320, 480}});
    view->setViewController(controller);
  }
  bool send(const std::string& query) {
    auto note = QMANotification::initWithNotificationURL(net::URL::fromString("qomb://ad/" + query));
    return handler->handleNotificationAdView(note, view);
  }
  std::vector<std::string> asked() { return std::exchange(controller->asked, {}); }
};

TEST_F(AdAppHandler, OnlyTheTextOneAsksForACustomClose) {
  for (const auto& [value, outcome] : std::vector<std::pair<std::string, std::string>>{
           {"custom_close=1", "custom close"},
           {"custom_close=true", "built-in close"},
           {"custom_close=yes", "built-in close"},
           {"custom_close=0", "built-in close"},
           {"", "built-in close"}}) {
    SCOPED_TRACE(value);
    EXPECT_TRUE(send("customClose?" + value));
    EXPECT_EQ(asked(), std::vector<std::string>{outcome});
  }
}

TEST_F(AdAppHandler, TheBackgroundIsChosenOnlyBeforeTheControllerIsOnScreen) {
  send("setInterstitialProperties?transparentBackground=1");
  send("setInterstitialProperties?transparentBackground=0");
  EXPECT_EQ(asked(), (std::vector<std::string>{"transparent", "default presenter"}));
  EXPECT_TRUE(send("setInterstitialProperties"));
  EXPECT_TRUE(asked().empty()) << "no value changes nothing";

  auto window = std::make_shared<uikit::Window>(uikit::Rect{0, 0, 320, 480});
  window->addSubview(controller->view());
  EXPECT_TRUE(send("setInterstitialProperties?transparentBackground=1"));
  EXPECT_TRUE(asked().empty()) << "a controller on screen keeps its presenter";
}

TEST_F(AdAppHandler, ABannersCreativeChangesNothingAndTheMessagesAreStillClaimed) {
  view->setViewController(std::make_shared<uikit::ViewController>());
  EXPECT_TRUE(send("customClose?custom_close=1"));
  EXPECT_TRUE(send("setInterstitialProperties?transparentBackground=1"));
  view->setViewController({});
  EXPECT_TRUE(send("customClose?custom_close=1"));
  EXPECT_TRUE(asked().empty());
}

struct HandlerLists : qma_test::DeviceRootTest {
  std::shared_ptr<Opener> opener = std::make_shared<Opener>();
  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    QMAAdViewDelegate::setOpenerFactory([this]() -> std::shared_ptr<QMAAdViewOpener> { return opener; });
  }
  void TearDown() override {
    QMAAdViewDelegate::setOpenerFactory(nullptr);
    DeviceRootTest::TearDown();
  }
};

TEST_F(HandlerLists, TheOpenersHandlerComesFirstAndBannersAlsoTakeTheWebAppSettings) {
  auto plain = QMAAdViewDelegate::init();
  ASSERT_FALSE(plain->qombHandlers().empty());
  EXPECT_TRUE(std::dynamic_pointer_cast<QMAOpenerQOMBHandler>(plain->qombHandlers().front()));
  auto banner = QMABannerAdViewDelegate::init();
  EXPECT_TRUE(std::dynamic_pointer_cast<QMAOpenerQOMBHandler>(banner->qombHandlers().front()));
  int adApp = 0;
  for (const auto& h : banner->qombHandlers()) adApp += std::dynamic_pointer_cast<QMAAdAppQOMBHandler>(h) ? 1 : 0;
  EXPECT_EQ(adApp, 1);
}

TEST_F(HandlerLists, MailAndMessageLinksGoToTheComposersAndThePageStays) {
  auto delegate = QMAAdViewDelegate::init();
  auto view = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
  auto ask = [&](const char* link) {
    return delegate->adViewShouldStartLoadWithRequestNavigationType(*view, net::URLRequest(*net::URL::fromString(link)),
                                                                    webkit::NavigationType::LinkClicked);
  };
  EXPECT_EQ(ask("mailto:a@b.example?subject=Hi"), false);
  EXPECT_EQ(ask("sms:5550100?body=x"), false);
  EXPECT_EQ(ask("tel:5550100"), false);
  EXPECT_EQ(opener->asked, (std::vector<std::string>{"mail mailto:a@b.example?subject=Hi", "sms sms:5550100?body=x",
                                                     "app tel:5550100"}));
}

}  // namespace opener_handler_test
