// The native video player as a creative drives it with "video" messages: the player and
// its view made once and placed, the source, playback and what the page hears of it, the
// volume on players with and without their own, and sources the page gets wrong.
#include "ads/render/video_player.h"

#include <gtest/gtest.h>

#include "ads/render/ad_view.h"
#include "ads/render/ad_view_delegate.h"
#include "ads/render/video_qomb_handler.h"
#include "ads/services/test_support.h"

namespace {

struct Video : qma_test::DeviceRootTest {
  std::shared_ptr<QMAAdView> view;
  std::shared_ptr<QMAVideoPlayerQOMBHandler> handler = std::make_shared<QMAVideoPlayerQOMBHandler>();
  const std::string page = "https://ads.example/creative/page.html";

  void SetUp() override {
    DeviceRootTest::SetUp();
    view = QMAAdView::initWithFrame({{0, 0}, {320, 250}});
    bool finished = false;
    struct D : QMAAdViewDelegateProtocol {
      bool* f;
      void adViewDidFinishLoad(QMAAdView&) override { *f = true; }
    };
    auto d = std::make_shared<D>();
    d->f = &finished;
    view->setDelegate(d);
    // Every video event the page hears, as one line.
    view->loadHTMLStringBaseURL(
        "<body><script>var ev = []; function QVRA_ReceiveMessage(n, m) { if (n !== 'onVideoEvent') return;"
        " var s = m.event; if (m.time) s += ' ' + m.time;"
        " if (m.duration) s += ' ' + m.duration + ' ' + m.videoWidth + 'x' + m.videoHeight; ev.push(s); }"
        "</script></body>",
        net::URL::fromString(page));
    ASSERT_TRUE(qma_test::pumpMainLoop([&] { return finished; }));
    view->setDelegate({});
  }
  void TearDown() override {
    view.reset();
    avfoundation::resetMediaFacts();
    DeviceRootTest::TearDown();
  }
  // Sends "video" with these parameters, as the page's message would arrive.
  bool send(const std::string& query) {
    auto note = QMANotification::initWithNotificationURL(net::URL::fromString("qomb://x/video?" + query));
    return handler->handleNotificationAdView(note, view);
  }
  std::string eval(const std::string& s) { return view->stringByEvaluatingJavaScriptFromString(s); }
  // The page's events once it has heard `count` of them.
  std::string events(std::size_t count) {
    const std::string want = std::to_string(count);
    EXPECT_TRUE(qma_test::pumpMainLoop([&] { return eval("ev.length") == want; })) << eval("ev.join(' | ')");
    return eval("ev.join(' | ')");
  }
  void advance(double seconds) {
    foundation::Clock::advance(seconds);
    drainMain();
  }
};

TEST_F(Video, ACreativePlacesPlaysAndFollowsItsVideoToTheEnd) {
  EXPECT_TRUE(send("action=play")) << "taken even before there is a player";
  EXPECT_FALSE(view->videoPlayer());
  ASSERT_TRUE(send("action=new&x=10&y=20&w=160&h=90"));
  auto player = view->videoPlayer();
  ASSERT_TRUE(player);
  ASSERT_TRUE(player->AVPlayer());
  EXPECT_FALSE(player->AVPlayer()->currentItem());
  ASSERT_TRUE(view->videoPlayerLayer());
  EXPECT_EQ(view->subviews().front(), view->videoPlayerLayer()) << "the picture lies below the page";
  drainMain();
  EXPECT_EQ(view->videoPlayerLayer()->frame(), (uikit::Rect{10, 20, 160, 90}));
  send("action=new&x=0&y=0&w=100&h=50");
  EXPECT_EQ(view->videoPlayer(), player) << "a second \"new\" only moves the player";
  drainMain();
  EXPECT_EQ(view->videoPlayerLayer()->frame(), (uikit::Rect{0, 0, 100, 50}));
  send("action=position&x=5&y=5");
  drainMain();
  EXPECT_EQ(view->videoPlayerLayer()->frame(), view->bounds()) << "without all four numbers: the whole ad view";

  avfoundation::MediaFacts facts;
  facts.durationSeconds = 3.1;
  facts.videoTrackSizes = {{0, 0}, {1280, 720}};
  avfoundation::setMediaFactsForURL("https://ads.example/creative/trailer.mp4", facts);
  send("action=src&src=trailer.mp4");
  auto av = player->AVPlayer();
  ASSERT_TRUE(av->currentItem());
  EXPECT_EQ(av->currentItem()->url(), "https://ads.example/creative/trailer.mp4") << "relative to the ad's page";
  av->becomeReady();
  av->becomeReady(true);
  EXPECT_EQ(events(1), "canplaythrough 3.100000 1280x720");
  send("action=load");
  send("action=play");
  advance(0.25);
  advance(0.25);
  EXPECT_EQ(events(4), "canplaythrough 3.100000 1280x720 | play | timeupdate 0.250000 | timeupdate 0.500000");
  send("action=pause");
  send("action=currentTime&time=2.5");
  send("action=play");
  drainMain();
  advance(0.25);
  advance(0.25);
  advance(0.1);
  EXPECT_EQ(events(10),
            "canplaythrough 3.100000 1280x720 | play | timeupdate 0.250000 | timeupdate 0.500000 | pause | play | "
            "timeupdate 2.750000 | timeupdate 3.000000 | pause | ended");
  EXPECT_EQ(av->calls(), (std::vector<std::string>{"item https://ads.example/creative/trailer.mp4", "play", "pause",
                                                   "seek 2.5", "play"}));

  // A new source on the same player: no second readiness; a failure is an error.
  send("action=src&src=https%3A%2F%2Fads.example%2Fother.mp4");
  EXPECT_EQ(player->AVPlayer(), av);
  av->becomeReady(true);
  av->fail();
  send("action=currentTime");
  EXPECT_EQ(av->calls().back(), "seek 0") << "no time seeks to the start";
  const std::string heard = events(11);
  EXPECT_EQ(heard.substr(heard.rfind('|') + 2), "error");

  send("action=hide");
  EXPECT_TRUE(view->videoPlayerLayer()->isHidden());
  send("action=show");
  EXPECT_FALSE(view->videoPlayerLayer()->isHidden());
  EXPECT_TRUE(send("action=rewind")) << "an unknown action is taken and does nothing";
  EXPECT_TRUE(send("")) << "so is none";
}

TEST_F(Video, VolumeAndMuteGoThroughTheAudioMixOnPlayersWithoutTheirOwn) {
  avfoundation::Player::setNewPlayersHaveOwnVolume(false);
  avfoundation::MediaFacts facts;
  facts.audioTrackCount = 2;
  facts.videoTrackSizes = {};
  avfoundation::setMediaFactsForURL("https://ads.example/a.mp3", facts);
  send("action=src&src=https://ads.example/a.mp3");
  auto player = view->videoPlayer();
  ASSERT_TRUE(player);
  auto item = player->AVPlayer()->currentItem();
  send("action=volume&volume=1.5");
  EXPECT_FLOAT_EQ(player->volume(), 1.5f);
  EXPECT_FALSE(item->audioMixVolumes()) << "a volume beyond 1 changes nothing but the property";
  send("action=volume&volume=0.5");
  EXPECT_EQ(item->audioMixVolumes(), (std::vector<float>{0.5f, 0.5f}));
  struct Case {
    const char* muted;
    bool expected;
    std::optional<std::vector<float>> mix;
  } cases[] = {
      {"1", true, std::vector<float>{0, 0}},
      {"false", false, std::vector<float>{0.5f, 0.5f}},
      {"true", true, std::vector<float>{0, 0}},
      {"no", false, std::vector<float>{0.5f, 0.5f}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.muted);
    send(std::string("action=muted&muted=") + c.muted);
    EXPECT_EQ(player->muted(), c.expected);
    EXPECT_EQ(item->audioMixVolumes(), c.mix);
  }
  send("action=volume&volume=1");
  send("action=muted&muted=0");
  EXPECT_FALSE(item->audioMixVolumes()) << "unmuted at full volume: no mix at all";
  send("action=volume&volume=1e300");
  EXPECT_FLOAT_EQ(player->volume(), 0) << "a number no volume can hold counts as none";
  EXPECT_TRUE(player->AVPlayer()->calls().size() == 1) << "nothing asked of the player's own volume";

  // Sound alone: the page hears that there is no picture size.
  player->AVPlayer()->becomeReady();
  EXPECT_EQ(events(1), "canplaythrough 10.000000 -1x-1");
}

TEST_F(Video, ASourceThePageGetsWrongLeavesAPlayerWithNothingToPlay) {
  send("action=src&src=https://ads.example/a.mp4");
  auto av = view->videoPlayer()->AVPlayer();
  ASSERT_TRUE(av->currentItem());
  // No usable URL: the player loses its item and stays usable.
  send("action=src&src=http%3A%2F%2F%5B");
  send("action=src");
  EXPECT_FALSE(av->currentItem());
  send("action=play");
  advance(20);
  EXPECT_EQ(av->calls(), (std::vector<std::string>{"item https://ads.example/a.mp4", "item none", "item none", "play"}));
  send("action=src&src=https://ads.example/b.mp4");
  EXPECT_EQ(view->videoPlayer()->AVPlayer(), av);
  ASSERT_TRUE(av->currentItem());
  EXPECT_EQ(av->currentItem()->url(), "https://ads.example/b.mp4");
}

TEST_F(Video, ThePlayerGoesWithItsAdViewAndLeavesNothingBehind) {
  send("action=src&src=https://ads.example/a.mp4");
  std::weak_ptr<avfoundation::Player> av = view->videoPlayer()->AVPlayer();
  av.lock()->play();
  view.reset();
  drainMain();  // the page's last events held the view
  EXPECT_TRUE(av.expired());
  advance(20);  // no timer of the gone player runs
}

}  // namespace
