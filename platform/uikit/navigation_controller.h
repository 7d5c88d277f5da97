#pragma once
// A stack of controllers under a navigation bar: push, back (pop), and the appearance
// callbacks of the controllers that come and go.

#include <memory>
#include <optional>
#include <vector>

#include "platform/uikit/navigation_item.h"
#include "platform/uikit/view_controller.h"

namespace uikit {

class NavigationBar : public View {
 public:
  using View::View;
  std::string className() const override { return "NavigationBar"; }

  bool isTranslucent() const { return translucent_; }
  void setTranslucent(bool t) { translucent_ = t; }
  std::optional<Color> barTintColor() const { return barTintColor_; }
  void setBarTintColor(std::optional<Color> c) { barTintColor_ = c; }
  // The title's text colour (the foreground colour of the title text attributes).
  std::optional<Color> titleTextColor() const { return titleTextColor_; }
  void setTitleTextColor(std::optional<Color> c) { titleTextColor_ = c; }

 private:
  bool translucent_ = true;
  std::optional<Color> barTintColor_;
  std::optional<Color> titleTextColor_;
};

enum class StatusBarStyle { Default = 0, LightContent = 1 };

class NavigationController : public ViewController {
 public:
  inline static constexpr double BarHeight = 44;

  explicit NavigationController(std::shared_ptr<ViewController> root);
  std::string className() const override { return "NavigationController"; }

  void loadView() override;

  std::shared_ptr<NavigationBar> navigationBar();
  std::vector<std::shared_ptr<ViewController>> viewControllers();
  std::shared_ptr<ViewController> topViewController();
  // The controller whose view is on screen: what the top presents, or the top.
  std::shared_ptr<ViewController> visibleViewController();

  void pushViewController(const std::shared_ptr<ViewController>& vc, bool animated);
  // Answers the controller taken off, or none when only the root is left.
  std::shared_ptr<ViewController> popViewControllerAnimated(bool animated);
  void popToRootViewControllerAnimated(bool animated);
  // What the bar's back button does: pops when there is something to go back to and the
  // top does not hide the button. Answers whether it popped.
  bool goBack();
  // The back button's title (the previous controller's title), when there is one.
  std::optional<std::string> backButtonTitle();

 protected:
  std::vector<std::shared_ptr<ViewController>> childrenShown() const override;

 private:
  void adoptRoot();
  Rect contentFrame();

  std::shared_ptr<ViewController> pendingRoot_;
  std::shared_ptr<NavigationBar> bar_;
};

}  // namespace uikit
