#include "platform/uikit/view_controller.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/dispatch/run_loop.h"
#include "platform/uikit/alert_controller.h"
#include "platform/uikit/navigation_controller.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/window.h"

namespace uikit {
namespace {

// Records its lifecycle calls as a string, e.g. "load wa da wd dd ".
struct Recorder : ViewController {
  explicit Recorder(std::string n = "") : name(std::move(n)) {}
  std::string name;
  std::string log;
  void viewDidLoad() override { log += "load "; }
  void viewWillAppear(bool) override { log += "wa "; }
  void viewDidAppear(bool) override { log += "da "; }
  void viewWillDisappear(bool) override { log += "wd "; }
  void viewDidDisappear(bool) override { log += "dd "; }
};

struct Fixture : ::testing::Test {
  std::shared_ptr<Window> window = std::make_shared<Window>(Screen::mainScreen().bounds());
  void TearDown() override { window->setHidden(true); }
};

using ViewControllerTest = Fixture;

TEST_F(ViewControllerTest, ViewLoadsOnceOnFirstUse) {
  auto vc = std::make_shared<Recorder>();
  EXPECT_FALSE(vc->isViewLoaded());
  auto v = vc->view();
  EXPECT_EQ(vc->view(), v);
  EXPECT_EQ(vc->log, "load ");
  EXPECT_EQ(v->frame(), Screen::mainScreen().bounds());
  EXPECT_EQ(v->viewController(), vc);
}

TEST_F(ViewControllerTest, WindowShowsAndHidesItsRoot) {
  auto vc = std::make_shared<Recorder>();
  window->setRootViewController(vc);
  EXPECT_EQ(vc->log, "load ");  // not yet on screen
  window->makeKeyAndVisible();
  EXPECT_EQ(vc->log, "load wa da ");
  EXPECT_EQ(vc->view()->window(), window);
  EXPECT_EQ(vc->view()->frame(), window->bounds());
  window->setHidden(true);
  EXPECT_EQ(vc->log, "load wa da wd dd ");
  auto other = std::make_shared<Recorder>();
  window->setHidden(false);
  window->setRootViewController(other);
  EXPECT_EQ(vc->log, "load wa da wd dd wa da wd dd ");
  EXPECT_EQ(vc->view()->superview(), nullptr);
  EXPECT_EQ(other->log, "load wa da ");
}

TEST_F(ViewControllerTest, PresentsOneControllerAtATimeAndRefusesTheRest) {
  auto root = std::make_shared<Recorder>();
  auto loose = std::make_shared<Recorder>();
  auto first = std::make_shared<Recorder>();
  auto second = std::make_shared<Recorder>();
  // Not in a window: refused.
  EXPECT_FALSE(loose->presentViewController(first, true, nullptr));

  window->setRootViewController(root);
  window->setHidden(false);
  int completions = 0;
  dispatch::RunLoop::main();  // this thread is the main one
  EXPECT_TRUE(root->presentViewController(first, true, [&] { ++completions; }));
  // Shown at once; the completion comes after the caller's turn, as the transition ends.
  EXPECT_EQ(root->presentedViewController(), first);
  EXPECT_EQ(first->presentingViewController(), root);
  EXPECT_EQ(first->log, "load wa da ");
  EXPECT_EQ(first->view()->superview(), window);
  EXPECT_EQ(completions, 0);
  dispatch::RunLoop::main().drain();
  EXPECT_EQ(completions, 1);
  // Already presenting: refused with a log line, nothing changes, no completion.
  EXPECT_FALSE(root->presentViewController(second, true, [&] { ++completions; }));
  dispatch::RunLoop::main().drain();
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(root->presentedViewController(), first);
  EXPECT_FALSE(second->isViewLoaded());

  EXPECT_TRUE(first->dismissViewControllerAnimated(true, [&] { ++completions; }));
  EXPECT_EQ(completions, 2);
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(first->view()->superview(), nullptr);
  EXPECT_EQ(first->log, "load wa da wd dd ");
  EXPECT_FALSE(root->dismissViewControllerAnimated(false, nullptr));
  EXPECT_TRUE(root->presentViewController(second, false, nullptr));
  EXPECT_TRUE(root->dismissViewControllerAnimated(false, nullptr));
}

TEST_F(ViewControllerTest, ChildrenPresentThroughTheirOutermostParent) {
  auto child = std::make_shared<Recorder>();
  auto nav = std::make_shared<NavigationController>(child);
  window->setRootViewController(nav);
  window->setHidden(false);
  auto a = std::make_shared<Recorder>();
  EXPECT_TRUE(child->presentViewController(a, false, nullptr));
  EXPECT_EQ(nav->presentedViewController(), a);
  EXPECT_EQ(child->presentedViewController(), a);
  EXPECT_FALSE(nav->presentViewController(std::make_shared<Recorder>(), false, nullptr));
  EXPECT_EQ(nav->visibleViewController(), a);
  EXPECT_TRUE(child->dismissViewControllerAnimated(false, nullptr));
}

using AlertTest = Fixture;

TEST_F(AlertTest, DriverFindsTheAlertAndChoosingAnActionDismissesItThenRunsTheHandler) {
  auto root = std::make_shared<ViewController>();
  window->setWindowLevel(666666.0);
  window->setRootViewController(root);
  window->setHidden(false);
  auto alert = AlertController::alertControllerWithTitleMessagePreferredStyle(
      std::nullopt, "Notes is currently restricted!", AlertControllerStyle::ActionSheet);
  alert->popoverPresentationController()->setSourceView(root->view());
  alert->popoverPresentationController()->setSourceRect(root->view()->bounds());
  std::string seen;
  bool wasUpDuringHandler = true;
  alert->addAction(AlertAction::actionWithTitleStyleHandler("Ok", AlertActionStyle::Default, [&](const auto& action) {
    seen = *action->title();
    wasUpDuringHandler = AlertController::visibleAlert() != nullptr;
    window->setHidden(true);
  }));
  EXPECT_EQ(AlertController::visibleAlert(), nullptr);
  ASSERT_TRUE(root->presentViewController(alert, true, nullptr));

  auto up = AlertController::visibleAlert();
  ASSERT_EQ(up, alert);
  EXPECT_FALSE(up->alertTitle().has_value());
  EXPECT_EQ(up->message(), "Notes is currently restricted!");
  EXPECT_EQ(up->preferredStyle(), AlertControllerStyle::ActionSheet);
  EXPECT_EQ(up->popoverPresentationController()->sourceView(), root->view());
  EXPECT_EQ(up->popoverPresentationController()->sourceRect(), window->bounds());
  // The alert takes the touches of its window while it is up.
  EXPECT_EQ(Window::hitTestScreen({10, 10})->viewController(), alert);

  EXPECT_FALSE(up->chooseActionWithTitle("Cancel"));
  EXPECT_TRUE(up->chooseActionWithTitle("Ok"));
  EXPECT_EQ(seen, "Ok");
  EXPECT_FALSE(wasUpDuringHandler);
  EXPECT_EQ(AlertController::visibleAlert(), nullptr);
  EXPECT_TRUE(window->isHidden());
  EXPECT_FALSE(up->chooseAction(0));  // no longer up
}

TEST_F(AlertTest, ChoosingFromAnotherThreadRunsTheHandlerOnTheMainThread) {
  auto root = std::make_shared<ViewController>();
  window->setRootViewController(root);
  window->setHidden(false);
  auto alert = std::make_shared<AlertController>("t", "m", AlertControllerStyle::Alert);
  bool onMain = false;
  alert->addAction(AlertAction::actionWithTitleStyleHandler(
      "Ok", AlertActionStyle::Default, [&](const auto&) { onMain = dispatch::isMainThread(); }));
  ASSERT_TRUE(root->presentViewController(alert, false, nullptr));
  dispatch::RunLoop::main();  // this thread is the main one
  std::thread([&] { alert->chooseAction(0); }).join();
  EXPECT_FALSE(onMain);
  dispatch::RunLoop::main().drain();
  EXPECT_TRUE(onMain);
}

using NavigationTest = Fixture;

TEST_F(NavigationTest, PushAndBackRunTheAppearanceCallbacks) {
  auto root = std::make_shared<Recorder>("root");
  root->setTitle("Wardvane");
  auto nav = std::make_shared<NavigationController>(root);
  nav->navigationBar()->setTranslucent(false);
  window->setRootViewController(nav);
  window->makeKeyAndVisible();
  EXPECT_EQ(root->log, "load wa da ");
  EXPECT_EQ(root->navigationController(), nav);
  EXPECT_EQ(root->view()->frame().origin.y, 64);  // below the opaque bar

  auto detail = std::make_shared<Recorder>("detail");
  nav->pushViewController(detail, true);
  EXPECT_EQ(nav->topViewController(), detail);
  EXPECT_EQ(root->log, "load wa da wd dd ");
  EXPECT_EQ(detail->log, "load wa da ");
  EXPECT_EQ(nav->backButtonTitle(), "Wardvane");
  EXPECT_EQ(detail->view()->superview(), nav->view());
  EXPECT_EQ(root->view()->superview(), nullptr);

  EXPECT_TRUE(nav->goBack());
  EXPECT_EQ(detail->log, "load wa da wd dd ");
  EXPECT_EQ(root->log, "load wa da wd dd wa da ");  // appears again on return
  EXPECT_EQ(detail->parentViewController(), nullptr);
  EXPECT_FALSE(nav->goBack());  // nothing below the root
  EXPECT_FALSE(nav->backButtonTitle().has_value());
  // The bar stays above the content.
  EXPECT_EQ(nav->view()->subviews().back(), nav->navigationBar());
}

TEST(BarButtonItem, TapSendsTheActionWhenEnabledAndHasAViewToAnchorOn) {
  int taps = 0;
  auto item = std::make_shared<BarButtonItem>("Sort", BarButtonItemStyle::Plain,
                                              [&](const std::shared_ptr<BarButtonItem>&) { ++taps; });
  EXPECT_TRUE(item->tap());
  item->setEnabled(false);
  EXPECT_FALSE(item->tap());
  EXPECT_EQ(taps, 1);
  ASSERT_NE(item->view(), nullptr);
  EXPECT_EQ(item->view(), item->view());
  EXPECT_FALSE(item->view()->bounds().isEmpty());
}

}  // namespace
}  // namespace uikit
