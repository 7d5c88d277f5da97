#include "platform/uikit/view_controller.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/dispatch/queue.h"
#include "platform/system/screen_facts.h"
#include "platform/uikit/application.h"
#include "platform/uikit/navigation_controller.h"
#include "platform/uikit/navigation_item.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/window.h"

namespace uikit {

ViewController::~ViewController() = default;

runtime::ClassRef ViewController::runtimeClass() {
  static std::mutex lock;
  std::lock_guard guard(lock);
  if (auto cls = runtime::objc_getClass("UIViewController")) return cls;
  auto cls = runtime::Class::make("UIViewController");
  runtime::objc_registerClassPair(cls);
  return cls;
}

runtime::Id ViewController::runtimeObject() {
  if (!runtimeObject_) runtimeObject_ = std::make_shared<ViewControllerObject>(runtimeClass(), weak_from_this());
  return runtimeObject_;
}

std::shared_ptr<View> ViewController::view() {
  if (!view_ && !loading_) {
    loading_ = true;
    loadView();
    if (!view_) setView(std::make_shared<View>(Screen::mainScreen().bounds()));
    loading_ = false;
    viewDidLoad();
  }
  return view_;
}

void ViewController::setView(const std::shared_ptr<View>& view) {
  if (view_ && view_ != view) view_->setViewController({});
  view_ = view;
  if (view_) view_->setViewController(weak_from_this());
}

void ViewController::loadView() { setView(std::make_shared<View>(Screen::mainScreen().bounds())); }

void ViewController::setTitle(const std::string& title) {
  title_ = title;
  navigationItem()->setTitle(title);
}

std::shared_ptr<NavigationItem> ViewController::navigationItem() {
  if (!navigationItem_) {
    navigationItem_ = std::make_shared<NavigationItem>();
    navigationItem_->setTitle(title_);
  }
  return navigationItem_;
}

void ViewController::addChildViewController(const std::shared_ptr<ViewController>& child) {
  if (!child || child.get() == this || child->parentViewController().get() == this) return;
  child->removeFromParentViewController();
  child->willMoveToParentViewController(shared_from_this());
  children_.push_back(child);
  child->parent_ = weak_from_this();
}

void ViewController::removeFromParentViewController() {
  auto parent = parent_.lock();
  if (!parent) return;
  auto self = shared_from_this();
  auto& list = parent->children_;
  list.erase(std::remove(list.begin(), list.end(), self), list.end());
  parent_.reset();
  didMoveToParentViewController(nullptr);
}

std::shared_ptr<NavigationController> ViewController::navigationController() const {
  for (auto vc = std::const_pointer_cast<ViewController>(shared_from_this()); vc; vc = vc->parentViewController())
    if (auto nav = std::dynamic_pointer_cast<NavigationController>(vc)) return nav;
  return nullptr;
}

std::shared_ptr<ViewController> ViewController::presentationContext() {
  auto vc = shared_from_this();
  while (auto up = vc->parentViewController()) vc = up;
  return vc;
}

std::shared_ptr<ViewController> ViewController::presentedViewController() const {
  auto vc = std::const_pointer_cast<ViewController>(shared_from_this());
  while (auto up = vc->parentViewController()) vc = up;
  return vc->presented_;
}

bool ViewController::canPresentViewController(const std::shared_ptr<ViewController>& vc) {
  if (!vc) return false;
  auto context = presentationContext();
  if (context->presented_) return false;
  if (vc->presentingViewController() || vc->parentViewController() || vc == context) return false;
  return isViewLoaded() && view()->window();
}

bool ViewController::presentViewController(const std::shared_ptr<ViewController>& vc, bool animated,
                                           Completion completion) {
  if (!vc) return false;
  auto context = presentationContext();
  if (context->presented_) {
    std::fprintf(stderr, "Warning: Attempt to present %s on %s which is already presenting %s\n",
                 vc->className().c_str(), className().c_str(), context->presented_->className().c_str());
    return false;
  }
  if (vc->presentingViewController() || vc->parentViewController() || vc == context) {
    std::fprintf(stderr, "Warning: Attempt to present %s which is already shown\n", vc->className().c_str());
    return false;
  }
  auto window = isViewLoaded() ? view()->window() : nullptr;
  if (!window) {
    std::fprintf(stderr, "Warning: Attempt to present %s on %s whose view is not in the window hierarchy\n",
                 vc->className().c_str(), className().c_str());
    return false;
  }
  if (animated && vc->transitioningDelegate()) {
    if (presentWithTransition(context, vc, window, completion)) return true;
  }
  context->presented_ = vc;
  vc->presenting_ = context;
  auto v = vc->view();
  v->setFrame(window->bounds());
  v->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  window->addSubview(v);
  if (!window->isHidden()) {
    vc->beingPresented_ = true;
    vc->setAppeared(true, animated);
    vc->beingPresented_ = false;
  }
  // The interface turns to an orientation the new controller supports.
  const std::uint64_t mask = vc->supportedInterfaceOrientations();
  const long current = static_cast<long>(system_facts::screen().orientation);
  if (mask != 0 && !(mask & (std::uint64_t{1} << current))) {
    for (long o : {1L, 4L, 3L, 2L}) {
      if (!(mask & (std::uint64_t{1} << o))) continue;
      Application::sharedApplication()->setStatusBarOrientation(o);
      break;
    }
  }
  // As on the device, the completion belongs to the end of the transition, a later turn of
  // the main run loop: whatever the presenter does right after this call comes first.
  if (completion) dispatch::Queue::main()->async(std::move(completion));
  return true;
}

bool ViewController::dismissViewControllerAnimated(bool animated, Completion completion) {
  auto context = presentationContext();
  std::shared_ptr<ViewController> target = context->presented_;
  std::shared_ptr<ViewController> presenter = context;
  if (!target) {
    // A presented controller dismisses itself through its presenter.
    presenter = context->presentingViewController();
    if (!presenter) return false;
    target = context;
  }
  // What the dismissed controller presents goes with it.
  if (target->presented_) target->ViewController::dismissViewControllerAnimated(animated, nullptr);
  if (animated && target->transitioningDelegate() && !target->transition_) {
    if (dismissWithTransition(presenter, target, completion)) return true;
  }
  target->beingDismissed_ = true;
  target->setAppeared(false, animated);
  target->beingDismissed_ = false;
  if (target->isViewLoaded()) target->view()->removeFromSuperview();
  target->presenting_.reset();
  presenter->presented_.reset();
  if (completion) completion();
  return true;
}

namespace {

// Where a view sits, to put it back after a transition borrowed it for its container.
struct Place {
  std::weak_ptr<View> view;
  std::weak_ptr<View> superview;
  std::size_t index = 0;
  explicit Place(const std::shared_ptr<View>& v) : view(v) {
    auto s = v ? v->superview() : nullptr;
    superview = s;
    if (!s) return;
    const auto& subs = s->subviews();
    index = static_cast<std::size_t>(std::find(subs.begin(), subs.end(), v) - subs.begin());
  }
  void restore() const {
    auto v = view.lock();
    auto s = superview.lock();
    if (!v || !s || v->superview() == s) return;
    s->insertSubviewAtIndex(v, std::min(index, s->subviews().size()));
  }
};

}  // namespace

bool ViewController::presentWithTransition(const std::shared_ptr<ViewController>& context,
                                           const std::shared_ptr<ViewController>& vc,
                                           const std::shared_ptr<Window>& window, Completion completion) {
  auto delegate = vc->transitioningDelegate();
  auto animator = delegate->animationControllerForPresentedController(vc, context, shared_from_this());
  if (!animator) return false;
  auto interaction = delegate->interactionControllerForPresentation(animator);
  context->presented_ = vc;
  vc->presenting_ = context;
  auto container = std::make_shared<View>(window->bounds());
  window->addSubview(container);
  const Place from(context->view());
  auto v = vc->view();
  v->setFrame(window->bounds());
  v->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  vc->beingPresented_ = true;
  std::weak_ptr<ViewController> weakContext = context, weakVC = vc;
  std::weak_ptr<Window> weakWindow = window;
  vc->transition_ = std::make_shared<ViewControllerContextTransitioning>(
      context, vc, container, interaction != nullptr,
      [weakContext, weakVC, weakWindow, container, from, completion](bool didComplete) {
        auto presented = weakVC.lock();
        auto presenter = weakContext.lock();
        auto shownIn = weakWindow.lock();
        from.restore();
        container->removeFromSuperview();
        if (!presented) return;
        auto keep = presented->transition_;
        presented->transition_.reset();
        presented->beingPresented_ = false;
        auto shown = presented->view();
        if (didComplete && shownIn) {
          shownIn->addSubview(shown);
          shown->setFrame(shownIn->bounds());
          if (!shownIn->isHidden()) {
            presented->beingPresented_ = true;
            presented->setAppeared(true, true);
            presented->beingPresented_ = false;
          }
          if (completion) completion();
        } else {
          shown->removeFromSuperview();
          presented->presenting_.reset();
          if (presenter && presenter->presented_ == presented) presenter->presented_.reset();
        }
      });
  auto transition = vc->transition_;
  if (interaction) interaction->startInteractiveTransition(transition, animator);
  else animator->animateTransition(transition);
  return true;
}

bool ViewController::dismissWithTransition(const std::shared_ptr<ViewController>& presenter,
                                           const std::shared_ptr<ViewController>& target, Completion completion) {
  auto window = target->isViewLoaded() ? target->view()->window() : nullptr;
  if (!window) return false;
  auto delegate = target->transitioningDelegate();
  auto animator = delegate->animationControllerForDismissedController(target);
  if (!animator) return false;
  auto interaction = delegate->interactionControllerForDismissal(animator);
  auto container = std::make_shared<View>(window->bounds());
  window->addSubview(container);
  const Place to(presenter->view());
  const Place from(target->view());
  target->beingDismissed_ = true;
  std::weak_ptr<ViewController> weakPresenter = presenter, weakTarget = target;
  target->transition_ = std::make_shared<ViewControllerContextTransitioning>(
      target, presenter, container, interaction != nullptr,
      [weakPresenter, weakTarget, container, to, from, completion](bool didComplete) {
        auto dismissed = weakTarget.lock();
        auto presenting = weakPresenter.lock();
        to.restore();
        if (!didComplete) from.restore();
        container->removeFromSuperview();
        if (!dismissed) return;
        auto keep = dismissed->transition_;
        dismissed->transition_.reset();
        if (didComplete) {
          dismissed->setAppeared(false, true);
          dismissed->beingDismissed_ = false;
          if (dismissed->isViewLoaded()) dismissed->view()->removeFromSuperview();
          dismissed->presenting_.reset();
          if (presenting && presenting->presented_ == dismissed) presenting->presented_.reset();
          if (completion) completion();
        } else {
          dismissed->beingDismissed_ = false;
        }
      });
  auto transition = target->transition_;
  if (interaction) interaction->startInteractiveTransition(transition, animator);
  else animator->animateTransition(transition);
  return true;
}

std::shared_ptr<void> ViewController::associatedObject(const void* key) const {
  auto it = associatedObjects_.find(key);
  return it == associatedObjects_.end() ? nullptr : it->second;
}

void ViewController::setAssociatedObject(const void* key, std::shared_ptr<void> object) {
  if (object) {
    associatedObjects_[key] = std::move(object);
  } else {
    associatedObjects_.erase(key);
  }
}

void ViewController::appearanceWill(bool appearing, bool animated) {
  if (appearing) viewWillAppear(animated);
  else viewWillDisappear(animated);
  for (auto& child : childrenShown()) child->appearanceWill(appearing, animated);
}

void ViewController::appearanceDid(bool appearing, bool animated) {
  appeared_ = appearing;
  if (appearing) viewDidAppear(animated);
  else viewDidDisappear(animated);
  for (auto& child : childrenShown()) child->appearanceDid(appearing, animated);
}

void ViewController::setAppeared(bool appeared, bool animated) {
  if (appeared_ == appeared) return;
  auto keep = shared_from_this();
  appearanceWill(appeared, animated);
  appearanceDid(appeared, animated);
  if (presented_) presented_->setAppeared(appeared, animated);
}

}  // namespace uikit
