#include "platform/uikit/window.h"

#include <algorithm>
#include <mutex>

#include "platform/uikit/view_controller.h"

namespace uikit {
namespace {
// The process's windows. Windows register themselves while they live; the list holds
// no reference, so a window goes away with its last owner.
struct Registry {
  std::mutex mu;
  std::vector<Window*> windows;
  std::weak_ptr<Window> key;
  unsigned long long nextOrder = 1;
};
Registry& registry() {
  static Registry r;
  return r;
}
}  // namespace

Window::Window() : Window(RectZero) {}

Window::Window(Rect frame) : View(frame) {
  View::setHidden(true);
  auto& r = registry();
  std::lock_guard lock(r.mu);
  r.windows.push_back(this);
  order_ = r.nextOrder++;
}

Window::~Window() {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  r.windows.erase(std::remove(r.windows.begin(), r.windows.end(), this), r.windows.end());
}

void Window::setHidden(bool hidden) {
  bool was = isHidden();
  View::setHidden(hidden);
  if (was == hidden) return;
  if (!hidden) {
    auto& r = registry();
    std::lock_guard lock(r.mu);
    order_ = r.nextOrder++;  // a window shown again comes to the front of its level
  }
  if (rootViewController_) rootViewController_->setAppeared(!hidden, false);
}

void Window::setRootViewController(const std::shared_ptr<ViewController>& vc) {
  if (vc == rootViewController_) return;
  if (auto old = rootViewController_) {
    old->setAppeared(false, false);
    if (old->isViewLoaded() && old->view()->superview().get() == this) old->view()->removeFromSuperview();
  }
  rootViewController_ = vc;
  if (!vc) return;
  auto v = vc->view();
  v->setFrame(bounds());
  v->setAutoresizingMask(ViewAutoresizingFlexibleWidth | ViewAutoresizingFlexibleHeight);
  insertSubviewAtIndex(v, 0);
  if (!isHidden()) vc->setAppeared(true, false);
}

void Window::makeKeyWindow() {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  r.key = std::static_pointer_cast<Window>(shared_from_this());
}

void Window::makeKeyAndVisible() {
  makeKeyWindow();
  setHidden(false);
}

bool Window::isKeyWindow() const {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  return r.key.lock().get() == this;
}

std::vector<std::shared_ptr<Window>> Window::allWindows() {
  std::vector<std::shared_ptr<Window>> out;
  {
    auto& r = registry();
    std::lock_guard lock(r.mu);
    for (Window* w : r.windows)
      if (auto sp = std::static_pointer_cast<Window>(w->weak_from_this().lock())) out.push_back(sp);
  }
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
    if (a->windowLevel_ != b->windowLevel_) return a->windowLevel_ < b->windowLevel_;
    return a->order_ < b->order_;
  });
  return out;
}

std::vector<std::shared_ptr<Window>> Window::visibleWindows() {
  auto all = allWindows();
  std::erase_if(all, [](const auto& w) { return w->isHidden(); });
  return all;
}

std::shared_ptr<Window> Window::keyWindow() {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  return r.key.lock();
}

std::shared_ptr<View> Window::hitTestScreen(Point p) {
  auto windows = visibleWindows();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    auto& w = *it;
    if (auto hit = w->hitTest(w->convertPointFromView(p, nullptr))) return hit;
  }
  return nullptr;
}

}  // namespace uikit
