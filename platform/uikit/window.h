#pragma once
// Windows: the roots of view hierarchies, stacked by window level. A window starts
// hidden. Every window of the process is listed (frontmost last), so a driver can see
// what is on screen and act on it as a finger would.

#include <memory>
#include <vector>

#include "platform/uikit/view.h"

namespace uikit {

class ViewController;

using WindowLevel = double;
inline constexpr WindowLevel WindowLevelNormal = 0;
inline constexpr WindowLevel WindowLevelStatusBar = 1000;
inline constexpr WindowLevel WindowLevelAlert = 2000;

class Window : public View {
 public:
  Window();
  explicit Window(Rect frame);
  ~Window() override;

  std::string className() const override { return "Window"; }

  WindowLevel windowLevel() const { return windowLevel_; }
  void setWindowLevel(WindowLevel level) { windowLevel_ = level; }

  // Showing the window shows its root controller's view (appearance callbacks);
  // hiding it ends that.
  void setHidden(bool hidden) override;

  std::shared_ptr<ViewController> rootViewController() const { return rootViewController_; }
  // The root's view fills the window and follows its size.
  void setRootViewController(const std::shared_ptr<ViewController>& vc);

  void makeKeyWindow();
  void makeKeyAndVisible();
  bool isKeyWindow() const;

  // Every live window, back to front: by level, then by the order they were shown.
  static std::vector<std::shared_ptr<Window>> allWindows();
  // The shown ones, back to front.
  static std::vector<std::shared_ptr<Window>> visibleWindows();
  static std::shared_ptr<Window> keyWindow();
  // The view a finger at `p` (screen coordinates) would touch, in the frontmost window
  // that takes it.
  static std::shared_ptr<View> hitTestScreen(Point p);

 private:
  WindowLevel windowLevel_ = WindowLevelNormal;
  std::shared_ptr<ViewController> rootViewController_;
  unsigned long long order_ = 0;
};

}  // namespace uikit
