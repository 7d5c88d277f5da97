#include "platform/uikit/navigation_controller.h"

#include "platform/system/screen_facts.h"
#include "platform/uikit/screen.h"

namespace uikit {

NavigationController::NavigationController(std::shared_ptr<ViewController> root) : pendingRoot_(std::move(root)) {}

void NavigationController::adoptRoot() {
  if (!pendingRoot_) return;
  auto root = std::move(pendingRoot_);
  pendingRoot_.reset();
  pushViewController(root, false);
}

std::vector<std::shared_ptr<ViewController>> NavigationController::viewControllers() {
  adoptRoot();
  return childViewControllers();
}

std::shared_ptr<ViewController> NavigationController::topViewController() {
  adoptRoot();
  auto& c = childViewControllers();
  return c.empty() ? nullptr : c.back();
}

std::shared_ptr<ViewController> NavigationController::visibleViewController() {
  auto top = topViewController();
  if (auto p = presentedViewController()) return p;
  return top;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::childrenShown() const {
  auto& c = childViewControllers();
  if (c.empty()) return {};
  return {c.back()};
}

std::shared_ptr<NavigationBar> NavigationController::navigationBar() {
  if (!bar_) {
    double top = system_facts::screen().statusBarHidden ? 0 : system_facts::screen().statusBarHeight;
    bar_ = std::make_shared<NavigationBar>(Rect{0, top, Screen::mainScreen().bounds().size.width, BarHeight});
    bar_->setAutoresizingMask(ViewAutoresizingFlexibleWidth);
  }
  return bar_;
}

void NavigationController::loadView() {
  auto v = std::make_shared<View>(Screen::mainScreen().bounds());
  setView(v);
  v->addSubview(navigationBar());
  adoptRoot();
  if (auto top = topViewController()) {
    auto tv = top->view();
    tv->setFrame(contentFrame());
    v->insertSubviewAtIndex(tv, 0);
  }
}

Rect NavigationController::contentFrame() {
  Rect b = isViewLoaded() ? view()->bounds() : Screen::mainScreen().bounds();
  auto bar = navigationBar();
  if (bar->isTranslucent()) return b;
  double top = bar->frame().maxY();
  return {0, top, b.size.width, std::max(0.0, b.size.height - top)};
}

void NavigationController::pushViewController(const std::shared_ptr<ViewController>& vc, bool animated) {
  adoptRoot();
  if (!vc || vc->parentViewController().get() == this) return;
  auto old = topViewController();
  bool shown = isAppeared();
  if (old && shown) old->setAppeared(false, animated);
  addChildViewController(vc);
  if (isViewLoaded()) {
    if (old && old->isViewLoaded()) old->view()->removeFromSuperview();
    auto v = vc->view();
    v->setFrame(contentFrame());
    view()->insertSubviewAtIndex(v, 0);
  }
  vc->didMoveToParentViewController(std::static_pointer_cast<ViewController>(shared_from_this()));
  if (shown) vc->setAppeared(true, animated);
}

std::shared_ptr<ViewController> NavigationController::popViewControllerAnimated(bool animated) {
  adoptRoot();
  auto stack = childViewControllers();
  if (stack.size() < 2) return nullptr;
  auto top = stack.back();
  auto below = stack[stack.size() - 2];
  bool shown = isAppeared();
  if (shown) top->setAppeared(false, animated);
  top->willMoveToParentViewController(nullptr);
  if (top->isViewLoaded()) top->view()->removeFromSuperview();
  top->removeFromParentViewController();
  if (isViewLoaded()) {
    auto v = below->view();
    v->setFrame(contentFrame());
    view()->insertSubviewAtIndex(v, 0);
  }
  if (shown) below->setAppeared(true, animated);
  return top;
}

void NavigationController::popToRootViewControllerAnimated(bool animated) {
  while (viewControllers().size() > 1) popViewControllerAnimated(animated);
}

bool NavigationController::goBack() {
  auto top = topViewController();
  if (!top || viewControllers().size() < 2 || top->navigationItem()->hidesBackButton()) return false;
  return popViewControllerAnimated(true) != nullptr;
}

std::optional<std::string> NavigationController::backButtonTitle() {
  auto stack = viewControllers();
  if (stack.size() < 2 || stack.back()->navigationItem()->hidesBackButton()) return std::nullopt;
  auto t = stack[stack.size() - 2]->navigationItem()->title();
  return t.empty() ? std::string("Back") : t;
}

}  // namespace uikit
