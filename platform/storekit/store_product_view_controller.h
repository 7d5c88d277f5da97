#pragma once
// A stand-in for the store's product page: a view controller that loads the page of one
// item and tells its delegate when the user is done with it. Whether a page loads, and
// when, is set by tests and drivers through SKTestProductPages; every load answers on the
// main run loop, as on the phone. The controller belongs to the main thread; the test
// settings are thread-safe.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/storekit/storekit.h"
#include "platform/uikit/view_controller.h"

namespace storekit {

// The load parameter naming the item (an integer).
inline constexpr const char* SKStoreProductParameterITunesItemIdentifier = "id";

class SKStoreProductViewController;

class SKStoreProductViewControllerDelegate {
 public:
  virtual ~SKStoreProductViewControllerDelegate() = default;
  // The user tapped "Done"; the page stays up until whoever showed it takes it down.
  virtual void productViewControllerDidFinish(const std::shared_ptr<SKStoreProductViewController>& controller) = 0;
};

class SKStoreProductViewController : public uikit::ViewController {
 public:
  using LoadCompletion = std::function<void(bool loaded, const std::optional<SKError>& error)>;

  static std::shared_ptr<SKStoreProductViewController> init();
  std::string className() const override { return "SKStoreProductViewController"; }

  std::shared_ptr<SKStoreProductViewControllerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<SKStoreProductViewControllerDelegate> delegate) { delegate_ = std::move(delegate); }

  // Starts loading the page of the parameters' item; the completion (may be empty) runs
  // later on the main run loop with the outcome. The controller lives until then.
  void loadProductWithParametersCompletionBlock(const foundation::Dictionary& parameters, LoadCompletion completion);
  // The parameters of the last load started.
  const std::optional<foundation::Dictionary>& loadParameters() const { return parameters_; }
  bool isLoaded() const { return loaded_; }
  // The item identifier of the last load; 0 when the parameters named none.
  std::int64_t itemIdentifier() const;

  // The user taps "Done".
  void done();

 private:
  friend class SKTestProductPages;
  SKStoreProductViewController() = default;
  void finishLoad(bool loaded, LoadCompletion completion);

  std::weak_ptr<SKStoreProductViewControllerDelegate> delegate_;
  std::optional<foundation::Dictionary> parameters_;
  bool loaded_ = false;
};

// What the store answers for product pages.
class SKTestProductPages {
 public:
  // Pages of this item fail to load (with SKErrorStoreProductNotAvailable); every other
  // page loads.
  static void setPageFails(std::int64_t itemIdentifier, bool fails);
  // Held loads wait until a test answers them with answerHeldLoad (in any order).
  static void setHoldsLoads(bool hold);
  static std::size_t heldLoadCount();
  // Answers the held load at `index` (in the order they started) now, on the calling
  // (main) thread; false when there is none.
  static bool answerHeldLoad(std::size_t index);
  // Every load started, by item identifier, in order.
  static std::vector<std::int64_t> loadsStarted();
  // Every page loads at once again; no loads held or recorded.
  static void reset();
};

}  // namespace storekit
