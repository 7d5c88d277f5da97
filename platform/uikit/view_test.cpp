#include "platform/uikit/view.h"

#include <gtest/gtest.h>

#include "platform/system/screen_facts.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/controls.h"
#include "platform/uikit/window.h"

namespace uikit {
namespace {

TEST(Geometry, RectOperations) {
  Rect r{10, 20, 30, 40};
  EXPECT_TRUE(r.contains({10, 20}));
  EXPECT_FALSE(r.contains({40, 20}));  // right edge belongs to the neighbour
  EXPECT_EQ((Rect{-5, 0, 10, 10}.standardized()), (Rect{-5, 0, 10, 10}));
  EXPECT_EQ((Rect{10, 10, -10, -10}.standardized()), (Rect{0, 0, 10, 10}));
  EXPECT_EQ(r.intersection({0, 0, 20, 30}), (Rect{10, 20, 10, 10}));
  EXPECT_TRUE(r.intersection({100, 100, 5, 5}).isEmpty());
  EXPECT_EQ(r.insetBy(5, 5), (Rect{15, 25, 20, 30}));
  EXPECT_EQ(toString(r.offsetBy(-1, 0.5)), "{{9, 20.5}, {30, 40}}");
}

TEST(View, HierarchyMovesViewsAndRefusesCycles) {
  auto a = std::make_shared<View>(Rect{0, 0, 100, 100});
  auto b = std::make_shared<View>(Rect{0, 0, 50, 50});
  auto c = std::make_shared<View>(Rect{0, 0, 10, 10});
  a->addSubview(b);
  b->addSubview(c);
  c->addSubview(a);  // would make a cycle
  EXPECT_EQ(a->superview(), nullptr);
  a->addSubview(c);  // moves c from b to a
  EXPECT_TRUE(b->subviews().empty());
  ASSERT_EQ(a->subviews().size(), 2u);
  EXPECT_EQ(a->subviews()[1], c);
  a->sendSubviewToBack(c);
  EXPECT_EQ(a->subviews()[0], c);
  a->bringSubviewToFront(c);
  EXPECT_EQ(a->subviews()[1], c);
  a->addSubview(c);  // re-adding keeps one entry, on top
  EXPECT_EQ(a->subviews().size(), 2u);
  c->removeFromSuperview();
  EXPECT_EQ(c->superview(), nullptr);
  EXPECT_EQ(a->subviews().size(), 1u);
}

TEST(View, ConvertsBetweenViewsThroughBoundsOrigins) {
  auto root = std::make_shared<View>(Rect{100, 200, 300, 300});
  auto scroller = std::make_shared<View>(Rect{10, 10, 100, 100});
  auto leaf = std::make_shared<View>(Rect{5, 50, 20, 20});
  root->addSubview(scroller);
  scroller->addSubview(leaf);
  scroller->setBounds({0, 40, 100, 100});  // scrolled down by 40
  EXPECT_EQ(leaf->convertPointToView({0, 0}, root.get()), (Point{15, 20}));
  EXPECT_EQ(leaf->convertPointToView({0, 0}, nullptr), (Point{115, 220}));
  EXPECT_EQ(root->convertPointToView({15, 20}, leaf.get()), (Point{0, 0}));
  EXPECT_EQ(leaf->convertRectFromView({115, 220, 4, 4}, nullptr), (Rect{0, 0, 4, 4}));
  // Converting between siblings goes through their common ancestor.
  auto other = std::make_shared<View>(Rect{200, 0, 50, 50});
  root->addSubview(other);
  EXPECT_EQ(leaf->convertPointToView({0, 0}, other.get()), (Point{-185, 20}));
}

TEST(View, HitTestFindsFrontmostInteractiveView) {
  auto root = std::make_shared<View>(Rect{0, 0, 200, 200});
  auto back = std::make_shared<View>(Rect{0, 0, 100, 100});
  auto front = std::make_shared<View>(Rect{50, 50, 100, 100});
  root->addSubview(back);
  root->addSubview(front);
  EXPECT_EQ(root->hitTest({60, 60}), front);
  EXPECT_EQ(root->hitTest({10, 10}), back);
  EXPECT_EQ(root->hitTest({190, 10}), root);
  EXPECT_EQ(root->hitTest({300, 10}), nullptr);

  struct Case {
    const char* what;
    void (*apply)(View&);
  } cases[] = {
      {"hidden", [](View& v) { v.setHidden(true); }},
      {"transparent", [](View& v) { v.setAlpha(0); }},
      {"not interactive", [](View& v) { v.setUserInteractionEnabled(false); }},
  };
  for (auto& c : cases) {
    auto f = std::make_shared<View>(Rect{50, 50, 100, 100});
    root->addSubview(f);
    c.apply(*f);
    EXPECT_EQ(root->hitTest({60, 60}), front) << c.what;
    f->removeFromSuperview();
  }
  // A subview sticking out of its superview is not reached outside the superview.
  auto outside = std::make_shared<View>(Rect{90, 90, 50, 50});
  back->addSubview(outside);
  EXPECT_EQ(root->hitTest({95, 95}), front);
  front->removeFromSuperview();
  EXPECT_EQ(root->hitTest({95, 95}), outside);
  EXPECT_EQ(root->hitTest({120, 120}), root);
}

TEST(View, AutoresizingFollowsTheSuperviewSize) {
  auto parent = std::make_shared<View>(Rect{0, 0, 100, 100});
  auto fill = std::make_shared<View>(Rect{10, 10, 80, 80});
  fill->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  auto pinnedRight = std::make_shared<View>(Rect{80, 0, 20, 20});
  pinnedRight->setAutoresizingMask(ViewAutoresizingFlexibleLeftMargin);
  auto fixed = std::make_shared<View>(Rect{0, 0, 20, 20});
  auto all = std::make_shared<View>(Rect{25, 25, 50, 50});
  all->setAutoresizingMask(63);
  for (auto& v : {fill, pinnedRight, fixed, all}) parent->addSubview(v);
  parent->setFrame({0, 0, 200, 300});
  EXPECT_EQ(fill->frame(), (Rect{10, 10, 180, 280}));
  EXPECT_EQ(pinnedRight->frame(), (Rect{180, 0, 20, 20}));
  EXPECT_EQ(fixed->frame(), (Rect{0, 0, 20, 20}));
  EXPECT_EQ(all->frame(), (Rect{50, 75, 100, 150}));

  parent->setAutoresizesSubviews(false);
  parent->setFrame({0, 0, 100, 100});
  EXPECT_EQ(fill->frame(), (Rect{10, 10, 180, 280}));
}

TEST(View, LayoutRunsOnMarkedViewsOnly) {
  struct Counting : View {
    using View::View;
    int layouts = 0;
    void layoutSubviews() override { ++layouts; }
  };
  auto parent = std::make_shared<Counting>(Rect{0, 0, 100, 100});
  auto child = std::make_shared<Counting>(Rect{0, 0, 10, 10});
  parent->addSubview(child);
  parent->layoutIfNeeded();
  EXPECT_EQ(parent->layouts, 1);
  EXPECT_EQ(child->layouts, 1);
  parent->layoutIfNeeded();
  EXPECT_EQ(parent->layouts, 1);
  parent->setFrame({0, 0, 120, 100});  // a new size asks for layout
  parent->layoutIfNeeded();
  EXPECT_EQ(parent->layouts, 2);
  EXPECT_EQ(child->layouts, 1);
}

TEST(Screen, BoundsFollowTheScreenFactsAndOrientation) {
  auto saved = system_facts::screen();
  auto facts = saved;
  facts.width = 320;
  facts.height = 568;
  system_facts::setScreen(facts);
  EXPECT_EQ(Screen::mainScreen().bounds(), (Rect{0, 0, 320, 568}));
  facts.orientation = system_facts::InterfaceOrientation::LandscapeLeft;
  system_facts::setScreen(facts);
  EXPECT_EQ(Screen::mainScreen().bounds(), (Rect{0, 0, 568, 320}));
  system_facts::setScreen(saved);
}

TEST(Window, ListsWindowsByLevelAndFindsTheTouchedView) {
  auto normal = std::make_shared<Window>(Rect{0, 0, 375, 667});
  auto top = std::make_shared<Window>(Rect{0, 0, 375, 667});
  top->setWindowLevel(666666.0);
  EXPECT_TRUE(normal->isHidden());  // windows start hidden
  auto button = std::make_shared<View>(Rect{10, 10, 50, 50});
  normal->addSubview(button);
  normal->makeKeyAndVisible();
  top->setHidden(false);
  EXPECT_TRUE(normal->isKeyWindow());
  EXPECT_EQ(Window::keyWindow(), normal);
  auto visible = Window::visibleWindows();
  ASSERT_GE(visible.size(), 2u);
  EXPECT_EQ(visible.back(), top);
  EXPECT_EQ(button->window(), normal);

  // The high window swallows the touch while it is shown.
  EXPECT_EQ(Window::hitTestScreen({20, 20}), top);
  top->setHidden(true);
  EXPECT_EQ(Window::hitTestScreen({20, 20}), button);

  visible.clear();
  Window* raw = top.get();
  top.reset();  // a window leaves the list with its last owner
  for (auto& w : Window::allWindows()) EXPECT_NE(w.get(), raw);
}

// Records the windows a view was told it moved to.
struct WindowWatcher : View {
  using View::View;
  std::vector<std::shared_ptr<Window>> moves;
  void didMoveToWindow() override { moves.push_back(window()); }
};

TEST(Window, ViewsOfAMovedSubtreeHearTheirNewWindowOnce) {
  auto window = std::make_shared<Window>(Rect{0, 0, 375, 667});
  auto container = std::make_shared<WindowWatcher>(Rect{0, 0, 100, 100});
  auto leaf = std::make_shared<WindowWatcher>(Rect{0, 0, 10, 10});
  container->addSubview(leaf);
  EXPECT_TRUE(leaf->moves.empty());  // no window before or after
  window->addSubview(container);
  ASSERT_EQ(leaf->moves.size(), 1u);
  EXPECT_EQ(leaf->moves[0], window);
  EXPECT_EQ(container->moves.size(), 1u);
  auto other = std::make_shared<View>(Rect{0, 0, 50, 50});
  window->addSubview(other);
  other->addSubview(leaf);  // within the same window: nothing to hear
  EXPECT_EQ(leaf->moves.size(), 1u);
  container->removeFromSuperview();
  EXPECT_EQ(container->moves.size(), 2u);
  EXPECT_EQ(container->moves[1], nullptr);
  EXPECT_EQ(leaf->moves.size(), 1u);  // it had moved out of the container
}

TEST(Button, AFingerTapsOnlyAButtonThatTakesTouches) {
  auto button = std::make_shared<Button>(Rect{0, 0, 32, 32});
  int taps = 0;
  button->addTargetActionForControlEvents([&](const std::shared_ptr<Control>&) { ++taps; }, ControlEvents::TouchUpInside);
  EXPECT_TRUE(button->userTap());
  button->setEnabled(false);
  EXPECT_FALSE(button->userTap());
  button->setEnabled(true);
  button->setHidden(true);
  EXPECT_FALSE(button->userTap());
  EXPECT_EQ(taps, 1);
}

}  // namespace
}  // namespace uikit
