#pragma once
// View controllers: a lazily loaded view, appearance callbacks, containment and modal
// presentation. Controllers live in shared_ptr (std::make_shared) and belong to the
// main thread.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/runtime.h"
#include "platform/uikit/view.h"
#include "platform/uikit/view_controller_transitioning.h"

namespace uikit {

class NavigationController;
class NavigationItem;
class ViewController;

// A controller as an object of the runtime: what a category that a library adds to the
// runtime's class "UIViewController" receives. It holds its controller weakly.
class ViewControllerObject : public runtime::Object {
 public:
  ViewControllerObject(runtime::ClassRef cls, std::weak_ptr<ViewController> controller)
      : runtime::Object(std::move(cls)), controller_(std::move(controller)) {}
  std::shared_ptr<ViewController> controller() const { return controller_.lock(); }

 private:
  std::weak_ptr<ViewController> controller_;
};

class ViewController : public std::enable_shared_from_this<ViewController> {
 public:
  using Completion = std::function<void()>;

  ViewController() = default;
  virtual ~ViewController();
  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;

  virtual std::string className() const { return "ViewController"; }

  // The view, loaded on first use through loadView and then viewDidLoad.
  std::shared_ptr<View> view();
  bool isViewLoaded() const { return view_ != nullptr; }
  // Replaces the view (from loadView, or later); the controller marks it as its own.
  void setView(const std::shared_ptr<View>& view);
  // Makes a plain view the size of the main screen; subclasses make their own.
  virtual void loadView();
  virtual void viewDidLoad() {}

  virtual void viewWillAppear(bool animated) {}
  virtual void viewDidAppear(bool animated) {}
  virtual void viewWillDisappear(bool animated) {}
  virtual void viewDidDisappear(bool animated) {}

  const std::string& title() const { return title_; }
  virtual void setTitle(const std::string& title);
  // Title and bar buttons a navigation bar shows for this controller; made on first use.
  std::shared_ptr<NavigationItem> navigationItem();

  // Containment.
  std::shared_ptr<ViewController> parentViewController() const { return parent_.lock(); }
  const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const { return children_; }
  void addChildViewController(const std::shared_ptr<ViewController>& child);
  void removeFromParentViewController();
  virtual void willMoveToParentViewController(const std::shared_ptr<ViewController>& parent) {}
  virtual void didMoveToParentViewController(const std::shared_ptr<ViewController>& parent) {}
  // The nearest navigation controller among this controller and its parents.
  std::shared_ptr<NavigationController> navigationController() const;

  // The interface orientations (a mask of InterfaceOrientationMask bits) this controller
  // can be shown in; every one unless a subclass says otherwise. A controller presented
  // while the interface stands in an orientation it does not support turns the interface
  // to one it does, as the system does.
  virtual std::uint64_t supportedInterfaceOrientations() const { return 30; }
  // The interface's orientation (1 to 4): where the status bar stands.
  long interfaceOrientation() const;
  // The interface has turned from `fromInterfaceOrientation` while this controller was on
  // screen; its view has its new size already.
  virtual void didRotateFromInterfaceOrientation(long fromInterfaceOrientation) {}
  // Tells this controller, the children it shows and what it presents that the interface
  // turned (the application does, for the controllers of its visible windows).
  void interfaceDidRotateFromOrientation(long fromInterfaceOrientation);

  // Modal presentation. The presentation belongs to the outermost parent of this
  // controller; its view goes on top of that parent's window. Refused (logged on
  // standard error, answers false) when that parent already presents a controller,
  // when `vc` is already shown somewhere, or when this controller is not in a window.
  // The completion runs once the transition has ended: from the main queue, after the
  // caller's own turn, as on the device (even without animation).
  // Subclasses may pass the call on to another controller.
  virtual bool presentViewController(const std::shared_ptr<ViewController>& vc, bool animated, Completion completion);
  // Whether presentViewController would accept `vc` now (nothing is logged).
  bool canPresentViewController(const std::shared_ptr<ViewController>& vc);
  // Dismisses what this controller (or its outermost parent) presents, or, for a
  // presented controller, itself. Answers whether anything was dismissed. Subclasses may
  // pass the call on to another controller.
  virtual bool dismissViewControllerAnimated(bool animated, Completion completion);
  // Inside the appearance callbacks of a presentation or a dismissal of this controller.
  bool isBeingPresented() const { return beingPresented_; }
  bool isBeingDismissed() const { return beingDismissed_; }
  // 0 full screen (the default); other styles leave the presenting screen partly visible.
  long modalPresentationStyle() const { return modalPresentationStyle_; }
  void setModalPresentationStyle(long style) { modalPresentationStyle_ = style; }
  // 0 cover vertical (the default).
  long modalTransitionStyle() const { return modalTransitionStyle_; }
  void setModalTransitionStyle(long style) { modalTransitionStyle_ = style; }

  // Gives the animator (and a finger's interaction controller) of an animated presentation
  // of this controller and of its dismissal; held weakly.
  std::shared_ptr<ViewControllerTransitioningDelegate> transitioningDelegate() const { return transitioningDelegate_.lock(); }
  void setTransitioningDelegate(std::weak_ptr<ViewControllerTransitioningDelegate> d) { transitioningDelegate_ = std::move(d); }
  // The custom transition of this controller under way; null when none is.
  const std::shared_ptr<ViewControllerContextTransitioning>& transitionContext() const { return transition_; }

  // Objects attached to the controller under a key of the caller's; they live as long as
  // the controller (or until replaced).
  std::shared_ptr<void> associatedObject(const void* key) const;
  void setAssociatedObject(const void* key, std::shared_ptr<void> object);
  std::shared_ptr<ViewController> presentedViewController() const;
  std::shared_ptr<ViewController> presentingViewController() const { return presenting_.lock(); }

  // The runtime's class of controllers, "UIViewController", registered on first use: a
  // library adds its category methods to it, and messages to a controller's runtime
  // object find them.
  static runtime::ClassRef runtimeClass();
  // This controller as an object of that class; one per controller, made on first use.
  runtime::Id runtimeObject();

  // Appearance: runs viewWill…/viewDid… when the state changes, passing it on to the
  // children the controller shows and to what it presents.
  void setAppeared(bool appeared, bool animated);
  bool isAppeared() const { return appeared_; }

 protected:
  // The children whose views this container shows now (all of them by default).
  virtual std::vector<std::shared_ptr<ViewController>> childrenShown() const { return children_; }

 private:
  std::shared_ptr<ViewController> presentationContext();
  bool presentWithTransition(const std::shared_ptr<ViewController>& context, const std::shared_ptr<ViewController>& vc,
                             const std::shared_ptr<Window>& window, Completion completion);
  bool dismissWithTransition(const std::shared_ptr<ViewController>& presenter, const std::shared_ptr<ViewController>& target,
                             Completion completion);
  void appearanceWill(bool appearing, bool animated);
  void appearanceDid(bool appearing, bool animated);

  std::shared_ptr<View> view_;
  std::string title_;
  std::shared_ptr<NavigationItem> navigationItem_;
  std::weak_ptr<ViewController> parent_;
  std::vector<std::shared_ptr<ViewController>> children_;
  std::shared_ptr<ViewController> presented_;
  std::weak_ptr<ViewController> presenting_;
  bool appeared_ = false;
  bool loading_ = false;
  bool beingPresented_ = false;
  bool beingDismissed_ = false;
  long modalPresentationStyle_ = 0;
  long modalTransitionStyle_ = 0;
  std::map<const void*, std::shared_ptr<void>> associatedObjects_;
  std::weak_ptr<ViewControllerTransitioningDelegate> transitioningDelegate_;
  std::shared_ptr<ViewControllerContextTransitioning> transition_;
  runtime::Id runtimeObject_;
};

}  // namespace uikit
