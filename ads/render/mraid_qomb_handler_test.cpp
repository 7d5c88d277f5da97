// A creative's MRAID messages: what reaches the slot and the opener, and what the
// creative hears back when its request cannot be carried out.
#include "ads/render/mraid_qomb_handler.h"

#include <gtest/gtest.h>

#include "ads/model/ad_collaborators.h"
#include "ads/render/mraid_resize_properties.h"
#include "ads/render/rendering_slot.h"
#include "ads/render/rendering_slot_stub.h"
#include "ads/services/test_support.h"
#include "platform/net/test_server.h"
#include "platform/photos/photo_album.h"
#include "platform/uikit/alert_controller.h"

namespace {

struct MRAIDSlot : render_test::StubSlot<>, QMAMRAIDEventHandling {
  std::vector<std::string> heard;
  bool isMRAIDEnabled() const override { return true; }
  void MRAIDAdDidLoad() override { heard.push_back("load"); }
  void MRAIDAdDidUnload() override { heard.push_back("unload"); }
  void updateVisibility(bool) override {}
  void updatePositionFromView(const std::shared_ptr<uikit::View>&) override {}
  void handleErrorAction(const std::string& message, const std::string& action) override {
    heard.push_back("error " + action + ": " + message);
  }
};

// An opener that records the MRAID requests; `acting` false keeps the base's refusals.
struct Opener : QMAAdViewOpener {
  std::weak_ptr<QMARenderingSlot> slot_;
  bool acting = true;
  std::vector<std::string> asked;
  std::shared_ptr<QMAMRAIDResizeProperties> resized;
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
  void openApp(const std::optional<net::URL>&) override {}
  void openBrowserToURLSupportedOrientations(const std::optional<net::URL>&, std::uint64_t) override {}
  std::shared_ptr<uikit::ViewController> viewController() const override { return nullptr; }
  std::shared_ptr<QMARenderingSlot> slot() const override { return slot_.lock(); }
  void openWebAppWithResizeProperties(const std::shared_ptr<QMAMRAIDResizeProperties>& p) override {
    if (!acting) return QMAAdViewOpener::openWebAppWithResizeProperties(p);
    resized = p;
    asked.push_back("resize " + p->description());
  }
  void openCalendarWithDictionary(const foundation::Dictionary& d) override {
    if (!acting) return QMAAdViewOpener::openCalendarWithDictionary(d);
    asked.push_back("calendar " + std::to_string(d.size()));
  }
  bool setMRAIDSupportedInterfaceOrientations(std::uint64_t mask) override {
    asked.push_back("orientations " + std::to_string(mask));
    return true;
  }
};

struct MRAIDHandler : qma_test::DeviceRootTest {
  std::shared_ptr<MRAIDSlot> slot = std::make_shared<MRAIDSlot>();
  std::shared_ptr<Opener> opener = std::make_shared<Opener>();
  std::shared_ptr<QMAMRAIDQOMBHandler> handler;
  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    opener->setSlot(slot);
    handler = QMAMRAIDQOMBHandler::initWithOpener(opener);
  }
  void TearDown() override {
    while (auto alert = uikit::AlertController::visibleAlert())
      if (!alert->chooseActionWithTitle("Cancel")) break;
    photos::resetSavedPhotos();
    handler.reset();
    DeviceRootTest::TearDown();
  }
  bool send(const std::string& query) {
    auto note = QMANotification::initWithNotificationURL(net::URL::fromString("qomb://mraid/" + query));
    return handler->handleNotificationAdView(note, nullptr);
  }
  std::vector<std::string> heard() { return std::exchange(slot->heard, {}); }
  std::vector<std::string> asked() { return std::exchange(opener->asked, {}); }
};

TEST_F(MRAIDHandler, TheLoadStartsTheSlotsEventsAndEveryMRAIDMessageIsClaimed) {
  EXPECT_TRUE(send("mraidLoaded"));
  EXPECT_EQ(heard(), std::vector<std::string>{"load"});
  EXPECT_TRUE(send("mraid?a=shake"));
  EXPECT_TRUE(send("mraid"));
  EXPECT_FALSE(send("open?a=expand")) << "not an MRAID message";
  EXPECT_TRUE(heard().empty());
  EXPECT_TRUE(asked().empty());
}

TEST_F(MRAIDHandler, ResizeAndCalendarGoToTheOpenerAndUnreadablePropertiesAreTheCreativesError) {
  send("mraid?a=resize&width=320&height=250&offsetX=0&offsetY=10&customClosePosition=center&allowOffscreen=false");
  EXPECT_EQ(asked(), std::vector<std::string>{"resize {width: 320, height: 250, offsetX: 0, offsetY: 10, "
                                              "customClosePosition: center, allowOffscreen: false}"});
  send("mraid?a=resize&width=320&height=250&offsetX=0&offsetY=10&customClosePosition=center");
  EXPECT_TRUE(asked().empty()) << "no resize to properties that could not be read";
  EXPECT_EQ(heard(), std::vector<std::string>{"error resize: Received invalid resize properties (null)"});

  send("mraid?a=createCalendarEvent&start=2026-05-01T10%3A00%3A00Z&summary=Sale");
  EXPECT_EQ(asked(), std::vector<std::string>{"calendar 3"});
  // An opener that cannot carry them out says so to the creative.
  opener->acting = false;
  send("mraid?a=createCalendarEvent&summary=Sale");
  send("mraid?a=resize&width=50&height=50&offsetX=0&offsetY=0&customClosePosition=center&allowOffscreen=1");
  EXPECT_EQ(heard(), (std::vector<std::string>{"error createCalendarEvent: Calendar events are not available",
                                               "error resize: Resizing is not available"}));
}

TEST_F(MRAIDHandler, OrientationPropertiesNeverGiveAControllerAnEmptyMask) {
  struct Case {
    const char* query;
    const char* outcome;
  } cases[] = {
      {"allowOrientationChange=true&forceOrientation=portrait", "orientations 30"},
      {"allowOrientationChange=false&forceOrientation=none", "orientations 6"},
      {"allowOrientationChange=false&forceOrientation=landscape", "orientations 24"},
      {"allowOrientationChange=0&forceOrientation=portrait", "orientations 6"},
      {"allowOrientationChange=false&forceOrientation=sideways", "error"},
      {"allowOrientationChange=false&forceOrientation=", "error"},
      {"allowOrientationChange=false", "error"},
      {"forceOrientation=any", "error"},
  };
  for (const auto& c : cases) {
    send(std::string("mraid?a=setOrientationProperties&") + c.query);
    if (std::string(c.outcome) == "error") {
      EXPECT_TRUE(asked().empty()) << c.query;
      EXPECT_EQ(heard(), std::vector<std::string>{"error setOrientationProperties: Received invalid orientation properties"})
          << c.query;
    } else {
      EXPECT_EQ(asked(), std::vector<std::string>{c.outcome}) << c.query;
      EXPECT_TRUE(heard().empty()) << c.query;
    }
  }
  EXPECT_EQ(QMAMRAIDQOMBHandler::orientationMaskForProperties("no", "none", true), 24u);
}

struct MRAIDPictures : MRAIDHandler {
  net::testing::TestServer server;
  void SetUp() override {
    MRAIDHandler::SetUp();
    auto png = uikit::Image::pngRepresentation(std::make_shared<uikit::Image>(2, 2, std::vector<std::uint8_t>(16, 200)));
    ASSERT_TRUE(png);
    const std::string body(png->begin(), png->end());
    server.server().Get("/p.png", [body](const httplib::Request&, httplib::Response& res) {
      res.set_content(body, "image/png");
    });
    server.server().Get("/page.html", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html>no picture</html>", "text/html");
    });
    server.start();
  }
  // Answers the picture's question; true once it has gone.
  bool answer(const char* button) {
    auto alert = uikit::AlertController::visibleAlert();
    if (!alert) return false;
    EXPECT_EQ(alert->alertTitle(), "Permission");
    EXPECT_EQ(alert->message(), "The ad is requesting to save an image in your photo album.");
    if (!alert->chooseActionWithTitle(button)) return false;
    return qma_test::pumpMainLoop([&] { return uikit::AlertController::visibleAlert() != alert; });
  }
};

TEST_F(MRAIDPictures, APictureTheUserAllowsIsDownloadedOnceAndSaved) {
  const std::string url = server.url("/p.png");
  send("mraid?a=storePicture&iurl=" + url);
  send("mraid?a=storePicture&iurl=" + url);
  EXPECT_EQ(handler->pendingPictureDownloads().size(), 1u) << "one download per URL at a time";
  ASSERT_TRUE(answer("Save"));
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return handler->pendingPictureDownloads().empty(); }));
  ASSERT_EQ(photos::savedPhotos().size(), 1u);
  EXPECT_EQ(photos::savedPhotos()[0]->pixelWidth(), 2u);
  EXPECT_TRUE(heard().empty());
}

TEST_F(MRAIDPictures, RefusedOrFailedPicturesTellTheCreativeOrNothing) {
  // Declined: no download, no report, and the same URL is not asked again.
  send("mraid?a=storePicture&iurl=" + server.url("/p.png"));
  ASSERT_TRUE(answer("Cancel"));
  auto declined = uikit::AlertController::visibleAlert();
  send("mraid?a=storePicture&iurl=" + server.url("/p.png"));
  EXPECT_EQ(uikit::AlertController::visibleAlert(), declined) << "no second question";
  ASSERT_EQ(handler->pendingPictureDownloads().size(), 1u);
  EXPECT_FALSE(handler->pendingPictureDownloads().begin()->second->downloadStarted());
  // No picture in the answer.
  const std::string page = server.url("/page.html");
  send("mraid?a=storePicture&iurl=" + page);
  ASSERT_TRUE(answer("Save"));
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return !slot->heard.empty(); }));
  EXPECT_EQ(heard(), std::vector<std::string>{"error storePicture: Failed to load " + page + ". Error: (null)"});
  // No URL at all: an error, and nothing waits under an empty key.
  send("mraid?a=storePicture");
  send("mraid?a=storePicture&iurl=");
  EXPECT_EQ(heard(), (std::vector<std::string>{"error storePicture: No image URL to store.",
                                               "error storePicture: No image URL to store."}));
  EXPECT_EQ(handler->pendingPictureDownloads().size(), 1u);
  EXPECT_TRUE(photos::savedPhotos().empty());
}

}  // namespace
