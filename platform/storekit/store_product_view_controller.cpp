#include "platform/storekit/store_product_view_controller.h"

#include <mutex>
#include <set>

#include "platform/dispatch/run_loop.h"

namespace storekit {
namespace {

struct HeldLoad {
  std::shared_ptr<SKStoreProductViewController> controller;
  SKStoreProductViewController::LoadCompletion completion;
};

struct PagesState {
  std::mutex lock;
  std::set<std::int64_t> failing;
  bool hold = false;
  std::vector<std::int64_t> started;
  std::vector<HeldLoad> held;
};

PagesState& pages() {
  static PagesState* s = new PagesState;
  return *s;
}

bool pageFails(std::int64_t item) {
  std::lock_guard l(pages().lock);
  return pages().failing.count(item) != 0;
}

}  // namespace

std::shared_ptr<SKStoreProductViewController> SKStoreProductViewController::init() {
  return std::shared_ptr<SKStoreProductViewController>(new SKStoreProductViewController());
}

std::int64_t SKStoreProductViewController::itemIdentifier() const {
  if (!parameters_) return 0;
  auto it = parameters_->find(SKStoreProductParameterITunesItemIdentifier);
  if (it == parameters_->end()) return 0;
  if (const auto* integer = it->second.asInteger()) return *integer;
  return 0;
}

void SKStoreProductViewController::loadProductWithParametersCompletionBlock(const foundation::Dictionary& parameters,
                                                                           LoadCompletion completion) {
  parameters_ = parameters;
  loaded_ = false;
  auto self = std::static_pointer_cast<SKStoreProductViewController>(shared_from_this());
  {
    std::lock_guard l(pages().lock);
    pages().started.push_back(itemIdentifier());
    if (pages().hold) {
      pages().held.push_back({self, std::move(completion)});
      return;
    }
  }
  dispatch::RunLoop::main().performBlock([self, completion = std::move(completion)]() mutable {
    self->finishLoad(!pageFails(self->itemIdentifier()), std::move(completion));
  });
}

void SKStoreProductViewController::finishLoad(bool loaded, LoadCompletion completion) {
  loaded_ = loaded;
  std::optional<SKError> error;
  if (!loaded) error = SKError{SKErrorDomain, SKErrorStoreProductNotAvailable, "The product is not available."};
  if (completion) completion(loaded, error);
}

void SKStoreProductViewController::done() {
  auto self = std::static_pointer_cast<SKStoreProductViewController>(shared_from_this());
  if (auto d = delegate()) d->productViewControllerDidFinish(self);
}

void SKTestProductPages::setPageFails(std::int64_t itemIdentifier, bool fails) {
  std::lock_guard l(pages().lock);
  if (fails) {
    pages().failing.insert(itemIdentifier);
  } else {
    pages().failing.erase(itemIdentifier);
  }
}

void SKTestProductPages::setHoldsLoads(bool hold) {
  std::lock_guard l(pages().lock);
  pages().hold = hold;
}

std::size_t SKTestProductPages::heldLoadCount() {
  std::lock_guard l(pages().lock);
  return pages().held.size();
}

bool SKTestProductPages::answerHeldLoad(std::size_t index) {
  HeldLoad load;
  {
    std::lock_guard l(pages().lock);
    auto& held = pages().held;
    if (index >= held.size()) return false;
    load = std::move(held[index]);
    held.erase(held.begin() + static_cast<std::ptrdiff_t>(index));
  }
  load.controller->finishLoad(!pageFails(load.controller->itemIdentifier()), std::move(load.completion));
  return true;
}

std::vector<std::int64_t> SKTestProductPages::loadsStarted() {
  std::lock_guard l(pages().lock);
  return pages().started;
}

void SKTestProductPages::reset() {
  std::vector<HeldLoad> dropped;  // released outside the lock
  std::lock_guard l(pages().lock);
  pages().failing.clear();
  pages().hold = false;
  pages().started.clear();
  dropped.swap(pages().held);
}

}  // namespace storekit
