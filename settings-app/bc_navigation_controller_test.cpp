#include "settings-app/bc_navigation_controller.h"

#include "settings-app/app_test_support.h"
#include "settings-app/driver.h"
#include "platform/uikit/screen.h"

namespace wardvane::app::testing {
namespace {

namespace la = localauthentication;

std::size_t covers(const std::shared_ptr<BCNavigationController>& nav) {
  std::size_t n = 0;
  for (auto& v : nav->view()->subviews()) n += std::dynamic_pointer_cast<uikit::VisualEffectView>(v) != nullptr;
  return n;
}

TEST_F(AppTest, FingerprintLockCoversUntilTheCheckPasses) {
  struct Case {
    const char* what;
    bool useTouchID;
    la::ReaderConfiguration reader;
    bool coveredAfterLaunch;
    std::uint64_t prompts;
  } cases[] = {
      {"lock off", false, {true, true, la::Outcome::Success}, false, 0},
      {"lock off, no reader", false, {false, false, la::Outcome::Fail}, false, 0},
      {"passed", true, {true, true, la::Outcome::Success}, false, 1},
      {"failed", true, {true, true, la::Outcome::Fail}, true, 1},
      {"cancelled", true, {true, true, la::Outcome::Cancel}, true, 1},
      {"cannot evaluate", true, {true, false, la::Outcome::Success}, true, 0},
      {"no framework", true, {false, true, la::Outcome::Success}, true, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeSettingsFile({{"useTouchID", c.useTouchID}});
    la::Reader::configure(c.reader);
    la::Reader::resetCounters();
    app = std::make_shared<AppDelegate>();
    uikit::Application::sharedApplication()->setDelegate(app);
    launch();
    EXPECT_EQ(app->navigationController->isCovered(), c.coveredAfterLaunch);
    EXPECT_EQ(la::Reader::prompts(), c.prompts);
    if (c.prompts) {
      EXPECT_EQ(la::Reader::lastReason(), "Unlock with TouchID");
    }
    if (c.coveredAfterLaunch) {
      auto cover = app->navigationController->vibrancyEffectView;
      EXPECT_EQ(cover->effect()->style, uikit::BlurEffectStyle::Dark);
      EXPECT_EQ(cover->alpha(), double(0.65f));
      EXPECT_EQ(cover->autoresizingMask(), 63u);
      EXPECT_EQ(cover->frame(), uikit::Screen::mainScreen().bounds());
      // Nothing under the cover can be touched.
      auto hit = uikit::Window::hitTestScreen({100, 300});
      EXPECT_TRUE(hit && hit->isDescendantOfView(cover.get()));
    }
    app->window->setHidden(true);
  }
}

TEST_F(AppTest, ReturningToTheForegroundCoversAgainWithOneCover) {
  writeSettingsFile({{"useTouchID", true}});
  la::Reader::configure({true, true, la::Outcome::Wait});
  launch();
  auto nav = app->navigationController;
  EXPECT_TRUE(nav->isCovered());
  app->rootViewController->view();  // a screen pushed over the root stays covered too
  la::Reader::answerPending(la::Outcome::Cancel);
  settle();
  EXPECT_TRUE(nav->isCovered());

  app->applicationWillEnterForeground(uikit::Application::sharedApplication());
  settle();
  EXPECT_EQ(covers(nav), 1u);
  EXPECT_EQ(nav->view()->subviews().back(), nav->vibrancyEffectView);  // on top again
  EXPECT_EQ(la::Reader::answerPending(la::Outcome::Success), 1u);
  settle();
  EXPECT_FALSE(nav->isCovered());
  EXPECT_EQ(covers(nav), 0u);
}

TEST_F(AppTest, DriverPrintsTheScreenAndActsOnlyWhereAFingerCanReach) {
  FakeHomeScreen home({entry("Notes", "com.example.notes")});
  writeSettingsFile({{"useTouchID", true}});
  la::Reader::configure({true, true, la::Outcome::Wait});
  launch();
  TextDriver driver(-1);
  EXPECT_EQ(driver.execute("screen"),
            "=== screen\n"
            "title \"Wardvane\"\n"
            "left \"Sort\"\n"
            "right \"Settings\"\n"
            "row 0 \"Notes\" \"com.example.notes\" >\n"
            "locked\n"
            "=== end");
  EXPECT_EQ(driver.execute("tap 0"), "error: the screen is locked");
  EXPECT_EQ(driver.execute("button Sort"), "error: the screen is locked");
  EXPECT_EQ(driver.execute("touchid answer success"), "ok answered 1");
  EXPECT_EQ(driver.execute("button Sort"), "ok");
  EXPECT_EQ(driver.execute("tap 0"), "error: an alert is up");
  EXPECT_EQ(driver.execute("choose Nope"), "error: no action \"Nope\"");
  EXPECT_EQ(driver.execute("choose Display Name"), "ok");
  EXPECT_EQ(driver.execute("tap 0"), "ok");
  EXPECT_EQ(driver.execute("switch 0 on"), "ok on");
  EXPECT_EQ(driver.execute("switch 0 on"), "ok already on");
  EXPECT_EQ(driver.execute("tap 2"), "ok");
  EXPECT_EQ(driver.execute("picker 7:05"), "ok 07:05");
  EXPECT_EQ(driver.execute("picker 25:00"), "error: usage: picker <HH:MM|+minutes|-minutes>");
  EXPECT_EQ(driver.execute("choose Ok"), "ok");
  EXPECT_EQ(driver.execute("screen"),
            "=== screen\n"
            "title \"Notes\"\n"
            "back \"Wardvane\"\n"
            "row 0 \"Enable Restrictions\" switch=on enabled\n"
            "row 1 \"Start Time\" \"09:00\"\n"
            "row 2 \"End Time\" \"07:05\"\n"
            "=== end");
  EXPECT_EQ(driver.execute("theme"),
            "ok theme \"Light\" bar=36,194,103 tint=255,255,255 title=255,255,255 background=227,227,227 "
            "separator=227,227,227 cell=237,237,237 text=0,0,0");
  EXPECT_EQ(driver.execute("back"), "ok");
  EXPECT_EQ(driver.execute("back"), "error: nothing to go back to");
  EXPECT_EQ(driver.execute("frobnicate"), "error: unknown command \"frobnicate\" (try help)");
  EXPECT_EQ(driver.execute("# a comment"), "");
}

TEST_F(AppTest, UnderTheCoverEveryTouchAnswersThatTheScreenIsLocked) {
  FakeHomeScreen home({entry("Notes", "com.example.notes")});
  writeSettingsFile({{"useTouchID", true}});
  la::Reader::configure({true, true, la::Outcome::Wait});
  launch();
  TextDriver driver(-1);
  EXPECT_EQ(driver.execute("touchid answer success"), "ok answered 1");
  EXPECT_EQ(driver.execute("button Sort"), "ok");
  // Back from the background the cover goes up again, over everything but the alert that
  // was already up; the whole screen is locked all the same.
  app->applicationWillEnterForeground(uikit::Application::sharedApplication());
  settle();
  ASSERT_TRUE(app->navigationController->isCovered());
  ASSERT_TRUE(uikit::AlertController::visibleAlert());
  for (const char* touch : {"tap 0", "tap 9", "switch 0 on", "switch 9", "button Sort", "button Nope", "back",
                            "choose Display Name", "choose Nope", "picker 07:00"})
    EXPECT_EQ(driver.execute(touch), "error: the screen is locked") << touch;
  // A command written wrong is still told so; looking and the reader's settings are no touch.
  EXPECT_EQ(driver.execute("tap x"), "error: usage: tap <row>");
  EXPECT_EQ(driver.execute("picker 25:00"), "error: usage: picker <HH:MM|+minutes|-minutes>");
  EXPECT_NE(driver.execute("screen").find("\nlocked\n"), std::string::npos);

  EXPECT_EQ(driver.execute("touchid answer success"), "ok answered 1");
  EXPECT_EQ(driver.execute("choose Display Name"), "ok");
  EXPECT_EQ(driver.execute("tap 9"), "error: no row 9");
  EXPECT_EQ(driver.execute("back"), "error: nothing to go back to");
}

TEST_F(AppTest, DriverAnswersEveryLineAndSpellsTheActionSheetStyleAsTheHomeScreenDoes) {
  launch();
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  {
    TextDriver driver(pipeFds[1]);
    for (const char* line : {"", "   ", "# a comment", "sync"}) driver.execute(line);
    app->coreVersionNumber = 1300.0f;  // a system that shows action sheets
    driver.execute("button Sort");
    EXPECT_NE(driver.execute("screen").find("\nalert style=action-sheet title=\"Choose Sorting Type\""),
              std::string::npos);
  }
  ::close(pipeFds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) out.append(buf, std::size_t(n));
  ::close(pipeFds[0]);
  EXPECT_EQ(out.substr(0, 9), "\n\n\nok\nok\n");  // three empty answers, "sync", "button Sort"
}

}  // namespace
}  // namespace wardvane::app::testing
