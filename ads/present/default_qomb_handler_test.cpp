// The default and delay handlers' messages, each with good and bad parameters, sent by a
// real page through its ad view's delegate.
#include "ads/render/default_qomb_handler.h"

#include <gtest/gtest.h>

#include "ads/present/opener.h"
#include "ads/present/view_controller.h"
#include "ads/render/ad_view_delegate.h"
#include "ads/services/click_tracker_collection.h"
#include "ads/services/logging.h"
#include "platform/foundation/log.h"
#include "ads/services/test_support.h"
#include "platform/system/device_facts.h"
#include "platform/uikit/system_sound.h"

namespace {

struct DefaultHandlerTest : qma_test::DeviceRootTest {
  std::shared_ptr<QMAAdView> view;
  std::shared_ptr<QMAAdViewDelegate> delegate;
  void SetUp() override {
    qma_test::DeviceRootTest::SetUp();
    QMAOpener::install();
    QMASignalCollector::sharedInstance().removeAllSamples();
    uikit::removeAllPlayedSystemSounds();
    view = QMAAdView::initWithFrame({{0, 0}, {320, 50}});
    bool finished = false;
    struct D : QMAAdViewDelegateProtocol {
      bool* f;
      void adViewDidFinishLoad(QMAAdView&) override { *f = true; }
    };
    auto d = std::make_shared<D>();
    d->f = &finished;
    view->setDelegate(d);
    view->loadHTMLStringBaseURL(
        "<body><script>var got = []; function QVRA_ReceiveMessage(n, m) { got.push(n + ' ' + JSON.stringify(m)); }"
        "</script></body>",
        net::URL::fromString("https://ads.example/creative"));
    ASSERT_TRUE(qma_test::pumpMainLoop([&] { return finished; }));
    delegate = QMAAdViewDelegate::init();
    view->setDelegate(delegate);
  }
  void TearDown() override {
    QMASignalCollector::sharedInstance().removeAllSamples();
    uikit::removeAllPlayedSystemSounds();
    QMAAdViewDelegate::setOpenerFactory(nullptr);
    qma_test::DeviceRootTest::TearDown();
  }
  // Each message through a frame of its own, as pages send several in a row: a location
  // change that a later one overtakes before it leaves is dropped by the engine.
  void send(const std::string& message) {
    view->stringByEvaluatingJavaScriptFromString(
        "(function () { var f = document.createElement('iframe'); f.style.display = 'none'; f.src = 'qomb://x/" +
        message + "'; document.documentElement.appendChild(f); })();");
  }
  std::string eval(const std::string& s) { return view->stringByEvaluatingJavaScriptFromString(s); }
};

TEST_F(DefaultHandlerTest, ReadsIntegersAsTheirLeadingDigitsWithADefaultForMissingOnes) {
  struct Case {
    const char* query;
    std::int32_t x, y, d;
  };
  const Case cases[] = {
      {"tx=12.9&ty=40", 12, 40, -1},
      {"tx=abc&ty=-7&td=250", 0, -7, 250},
      {"tx=%2B5&ty=%2012x&td=", 5, 12, 0},
      {"", -1, -1, -1},
      {"tx=99999999999999999999&ty=1&td=2", 2147483647, 1, 2},
  };
  for (const auto& c : cases) send(std::string("touch?") + c.query);
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return QMASignalCollector::sharedInstance().samples().size() == 5; }));
  const auto samples = QMASignalCollector::sharedInstance().samples();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(samples[i].x, cases[i].x) << cases[i].query;
    EXPECT_EQ(samples[i].y, cases[i].y) << cases[i].query;
    EXPECT_EQ(samples[i].duration, cases[i].d) << cases[i].query;
  }
}

TEST_F(DefaultHandlerTest, AnswersWhichURLsCanBeOpenedAndAnEmptyObjectWithoutAList) {
  auto facts = system_facts::device();
  facts.openableURLSchemes = {"a"};
  system_facts::setDevice(facts);
  send("canOpenURLs?urls=a%3A%2F%2Fx,b%3A%2F%2Fy,nonsense");
  send("canOpenURLs");
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return eval("got.length") == "2"; }));
  EXPECT_EQ(eval("got[0]"), R"(openableURLs {"a://x":true,"b://y":false,"nonsense":false})");
  EXPECT_EQ(eval("got[1]"), "openableURLs {}");
}

TEST_F(DefaultHandlerTest, VibratesAndClosesOnlyAFullScreenAd) {
  send("vibrate");
  send("close");  // a banner's controller is the host's: nothing
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return !uikit::playedSystemSounds().empty(); }));
  EXPECT_EQ(uikit::playedSystemSounds(), std::vector<std::uint32_t>{uikit::kSystemSoundID_Vibrate});

  auto host = std::make_shared<uikit::ViewController>();
  view->setViewController(host);
  send("close");
  qma_test::DeviceRootTest::drainMain();

  // Within a full-screen ad (its presenter records the dismissal) "close" gives the screen back.
  struct Presenter : QMAOverlayPresenting {
    std::weak_ptr<QMAViewController> vc;
    int dismissals = 0;
    void presentFromViewControllerCompletion(const std::shared_ptr<uikit::ViewController>&, Completion c) override {
      if (c) c();
    }
    std::shared_ptr<uikit::ViewController> presentationViewController() override { return vc.lock(); }
    void dismissWithCompletionHandler(Completion c) override {
      ++dismissals;
      if (c) c();
    }
    std::shared_ptr<QMAViewController> presentedViewController() const override { return vc.lock(); }
    void setPresentedViewController(std::weak_ptr<QMAViewController> v) override { vc = std::move(v); }
    bool isReadyToPresent() override { return true; }
  };
  auto presenter = std::make_shared<Presenter>();
  auto fullScreen = QMAViewController::init();
  fullScreen->setPresenter(presenter);
  fullScreen->presentFromViewControllerCompletion(host, nullptr);
  view->setViewController(fullScreen);
  send("close");
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return presenter->dismissals == 1; }));
  EXPECT_FALSE(fullScreen->isHoldingItself());
}

TEST_F(DefaultHandlerTest, HttpTrackFollowsOnlyWebURLs) {
  // A malformed or non-web URL starts no tracker.
  send("httpTrack?u=file%3A%2F%2F%2Fetc%2Fpasswd");
  send("httpTrack?u=%25%25");
  send("httpTrack");
  qma_test::DeviceRootTest::drainMain();
  EXPECT_TRUE(QMAClickTrackerCollection::sharedInstance()->trackers().empty());
}

TEST_F(DefaultHandlerTest, LogWritesThePagesTextUnchanged) {
  std::vector<std::string> lines;
  auto previous = foundation::setLogSink([&](const std::string& line) { lines.push_back(line); });
  send("log?string=50%25%20done%20%25%40");
  send("log");
  qma_test::pumpMainLoop([&] {
    QMALogQueue()->sync([] {});
    return lines.size() >= 2;
  });
  foundation::setLogSink(previous);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("50% done %@"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].find("<Quillon>"), std::string::npos);
}

struct CountingDelay : QMADelayLoadDelegate {
  std::vector<std::string> heard;
  void loadHandlerDidChangeDelayFromTo(QMADelayPageLoadQOMBHandler&, long from, long to) override {
    heard.push_back(std::to_string(from) + ">" + std::to_string(to));
  }
  void loadHandlerDidCancel(QMADelayPageLoadQOMBHandler&) override { heard.push_back("cancel"); }
};

TEST_F(DefaultHandlerTest, ThePagesDelayMessagesCountInTheOrderItSentThem) {
  auto counting = std::make_shared<CountingDelay>();
  auto delay = QMADelayPageLoadQOMBHandler::initWithDelegate(counting);
  ASSERT_TRUE(delay);
  EXPECT_FALSE(QMADelayPageLoadQOMBHandler::initWithDelegate({}));
  delegate->addQOMBHandler(delay);
  // A stop that overtook its start would be lost and leave the page delayed for good.
  for (const char* m : {"start", "stop", "start", "start", "stop", "stop", "stop"}) send(std::string("delayPageLoaded?") + m + "=1");
  send("delayPageLoaded?cancel=1");
  send("delayPageLoaded?start=");
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return counting->heard.size() == 7; }));
  qma_test::DeviceRootTest::drainMain();
  EXPECT_EQ(counting->heard, (std::vector<std::string>{"0>1", "1>0", "0>1", "1>2", "2>1", "1>0", "cancel"}));
  EXPECT_EQ(delay->delayCount(), 1);  // the start after the cancel counts, but nobody hears it
}

}  // namespace
