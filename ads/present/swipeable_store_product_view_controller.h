#pragma once
// The store page a swipe pulls over a banner: a controller that loads one store item and
// is shown full screen until the user closes it, which it tells its delegate. The product
// loads while the page is already showing; its result is not observed.
//
// Threads: main thread.

#include <memory>
#include <optional>

#include "platform/foundation/value.h"
#include "platform/uikit/view_controller.h"

// The key of the store item identifier among the load parameters.
inline constexpr const char* SKStoreProductParameterITunesItemIdentifier = "id";

class QMASwipeableStoreProductViewController;

class QMAStoreProductViewControllerDelegate {
 public:
  virtual ~QMAStoreProductViewControllerDelegate() = default;
  // The user closed the page; the delegate takes it down.
  virtual void productViewControllerDidFinish(QMASwipeableStoreProductViewController& controller) = 0;
};

class QMASwipeableStoreProductViewController : public uikit::ViewController {
 public:
  std::string className() const override { return "SKStoreProductViewController"; }

  void loadProductWithParameters(const foundation::Dictionary& parameters, std::function<void(bool)> completion);
  // The parameters of the last load; nullopt before one.
  const std::optional<foundation::Dictionary>& productParameters() const { return parameters_; }

  std::shared_ptr<QMAStoreProductViewControllerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<QMAStoreProductViewControllerDelegate> d) { delegate_ = std::move(d); }

  // The user's "Done".
  void userDidFinish();

 private:
  std::optional<foundation::Dictionary> parameters_;
  std::weak_ptr<QMAStoreProductViewControllerDelegate> delegate_;
};
