#include "platform/webkit/document_heaps.h"

#include <chrono>

#include "platform/dispatch/thread_checks.h"

namespace webkit {

namespace {
bool sameLimits(const ScriptLimits& a, const ScriptLimits& b) {
  return a.heapBytes == b.heapBytes && a.runSeconds == b.runSeconds;
}
}  // namespace

DocumentHeaps::DocumentHeaps(Prepare prepare, std::string label)
    : prepare_(std::move(prepare)), queue_(dispatch::Queue::createSerial(std::move(label))) {}

DocumentHeaps::Prepared DocumentHeaps::make(ScriptLimits limits) const {
  Prepared p;
  p.heap = std::make_unique<ScriptContext>(limits);
  p.error = prepare_(*p.heap);
  return p;
}

DocumentHeaps::Prepared DocumentHeaps::take(ScriptLimits limits) {
  WV_DCHECK_NOT_ON_QUEUE(queue_);
  Prepared taken, stale;
  {
    std::unique_lock lock(mu_);
    // A spare on its way with these limits is worth a short wait: made here instead, a
    // second heap would be built beside it, both threads allocating at once. The wait
    // is bounded, so a queue held up elsewhere costs no more than making one here.
    if (!spare_.heap && making_ && sameLimits(makingLimits_, limits)) {
      spareMade_.wait_for(lock, std::chrono::milliseconds(kWaitMilliseconds), [&] { return !making_; });
    }
    if (spare_.heap && sameLimits(spareLimits_, limits)) taken = std::move(spare_);
    else if (spare_.heap) stale = std::move(spare_);
    if (!making_) {
      making_ = true;
      makingLimits_ = limits;
      queue_->async([this, limits] {
        Prepared next = make(limits);
        std::unique_ptr<ScriptContext> replaced;
        std::lock_guard made(mu_);
        replaced = std::move(spare_.heap);  // destroyed here, on the queue, after the lock
        spare_ = std::move(next);
        spareLimits_ = limits;
        making_ = false;
        spareMade_.notify_all();
      });
    }
  }
  if (stale.heap) retire(std::move(stale.heap));
  if (!taken.heap) taken = make(limits);
  return taken;
}

void DocumentHeaps::retire(std::unique_ptr<ScriptContext> heap) {
  WV_DCHECK_NOT_ON_QUEUE(queue_);
  if (!heap) return;
  heap->setNativeOwner(nullptr);
  queue_->async([heap = std::shared_ptr<ScriptContext>(std::move(heap))]() mutable { heap.reset(); });
}

void DocumentHeaps::waitUntilIdle() {
  WV_DCHECK_NOT_ON_QUEUE(queue_);
  queue_->sync([] {});
}

}  // namespace webkit
