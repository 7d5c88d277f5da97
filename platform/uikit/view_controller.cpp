#include "platform/uikit/view_controller.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

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
  if (completion) completion();
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
  target->beingDismissed_ = true;
  target->setAppeared(false, animated);
  target->beingDismissed_ = false;
  if (target->isViewLoaded()) target->view()->removeFromSuperview();
  target->presenting_.reset();
  presenter->presented_.reset();
  if (completion) completion();
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
