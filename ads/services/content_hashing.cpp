#include "ads/services/content_hashing.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/user_defaults.h"
#include "platform/uikit/text_view.h"
#include "platform/uikit/view_controller.h"
#include "platform/uikit/web_view.h"
#include "platform/uikit/window.h"

// ---- QMAContentQueue

std::shared_ptr<QMAContentQueue> QMAContentQueue::initWithQueueSize(std::uint64_t size) {
  return std::make_shared<QMAContentQueue>(size);
}

void QMAContentQueue::enqueueContent(const std::shared_ptr<QMAContent>& content) {
  std::lock_guard lock(lock_);
  if (!content || size_ == 0) return;
  if (contents_.size() >= size_ && !sequenceNumbers_.empty()) {
    contents_.erase(sequenceNumbers_.front());
    sequenceNumbers_.erase(sequenceNumbers_.begin());
  }
  const std::uint64_t number = content->sequenceNumber();
  if (contents_.count(number)) std::erase(sequenceNumbers_, number);
  contents_[number] = content;
  sequenceNumbers_.push_back(number);
}

void QMAContentQueue::deduplicate(const std::shared_ptr<QMAContent>& content) {
  std::lock_guard lock(lock_);
  if (!content) return;
  std::vector<std::uint64_t> marked;
  for (const auto& [number, stored] : contents_) {
    if (stored == content || stored->fingerprint() != content->fingerprint()) continue;
    marked.push_back(std::min(number, content->sequenceNumber()));
  }
  for (auto number : marked) {
    contents_.erase(number);
    std::erase(sequenceNumbers_, number);
  }
}

std::shared_ptr<QMAContent> QMAContentQueue::highestLocked() const {
  std::shared_ptr<QMAContent> best;
  std::int64_t bestScore = 0;
  for (const auto& [number, content] : contents_) {
    if (content->score() > bestScore) {
      best = content;
      bestScore = content->score();
    }
  }
  return best;
}

std::shared_ptr<QMAContent> QMAContentQueue::contentWithHighestScore() const {
  std::lock_guard lock(lock_);
  return highestLocked();
}

std::shared_ptr<QMAContent> QMAContentQueue::contentWithSequenceNumber(std::uint64_t sequenceNumber) const {
  std::lock_guard lock(lock_);
  auto it = contents_.find(sequenceNumber);
  return it == contents_.end() ? nullptr : it->second;
}

std::optional<std::string> QMAContentQueue::serveFingerprintWithPenaltyDeduction() {
  std::lock_guard lock(lock_);
  auto best = highestLocked();
  if (!best) return std::nullopt;
  best->deductServedPenalty();
  return best->fingerprint();
}

std::size_t QMAContentQueue::count() const {
  std::lock_guard lock(lock_);
  return contents_.size();
}

std::vector<std::uint64_t> QMAContentQueue::sequenceNumbers() const {
  std::lock_guard lock(lock_);
  return sequenceNumbers_;
}

// ---- QMAViewHierarchyTraverser

std::shared_ptr<QMAViewHierarchyTraverser> QMAViewHierarchyTraverser::init() {
  auto traverser = std::make_shared<QMAViewHierarchyTraverser>();
  traverser->SDKLowPrioritySerialQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.view-hierarchy");
  return traverser;
}

void QMAViewHierarchyTraverser::traverseViewTraversalBlockCompletionBlock(const std::shared_ptr<uikit::View>& root,
                                                                          TraversalBlock traversalBlock,
                                                                          CompletionBlock completionBlock) {
  if (traversing_ || !root || !traversalBlock) {
    // Without a completion there is no one to tell.
    if (completionBlock) dispatch::Queue::main()->async([completionBlock] { completionBlock(false); });
    return;
  }
  if (!completionBlock) return;
  traversing_ = true;
  const std::int64_t number = ++sequenceNumber_;
  auto visit = std::make_shared<TraversalBlock>(std::move(traversalBlock));
  std::vector<std::shared_ptr<uikit::View>> stack{root};
  while (!stack.empty()) {
    auto view = std::move(stack.back());
    stack.pop_back();
    std::weak_ptr<uikit::View> weakView = view;
    SDKLowPrioritySerialQueue_->async([weakView, visit, number] {
      dispatch::Queue::main()->sync([&] {
        if (auto v = weakView.lock()) (*visit)(v, number);
      });
    });
    for (const auto& subview : view->subviews()) stack.push_back(subview);
  }
  std::weak_ptr<QMAViewHierarchyTraverser> weakSelf = weak_from_this();
  SDKLowPrioritySerialQueue_->async([weakSelf, completionBlock = std::move(completionBlock)] {
    dispatch::Queue::main()->async([weakSelf, completionBlock] {
      completionBlock(true);
      if (auto self = weakSelf.lock()) self->setTraversing(false);
    });
  });
}

// ---- QMAContentHashing

QMAContentHashing& QMAContentHashing::sharedInstance() {
  static QMAContentHashing instance;
  return instance;
}

std::string QMAContentHashing::textOfView(const std::shared_ptr<uikit::View>& view) {
  if (auto web = std::dynamic_pointer_cast<uikit::WebView>(view)) {
    return web->stringByEvaluatingJavaScriptFromString("document.body.innerText");
  }
  if (auto text = std::dynamic_pointer_cast<uikit::TextView>(view)) return text->text();
  return {};
}

void QMAContentHashing::startContentHashing() {
  std::lock_guard lock(lock_);
  if (scheduler_) return;
  auto serialQueue = dispatch::Queue::createSerial("com.quillon.pelmark.content-hashing");
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  std::uint64_t capacity = 10;
  if (!defaults->objectForKey(kCapacityKey).isNull()) capacity = static_cast<std::uint64_t>(defaults->integerForKey(kCapacityKey));
  double interval = 10.0;
  if (!defaults->objectForKey(kIntervalKey).isNull()) interval = defaults->doubleForKey(kIntervalKey);
  // A period that is 0, negative or not a number would spin the walk: keep the default.
  if (!(interval > 0) || !std::isfinite(interval)) interval = 10.0;

  contentQueue_ = QMAContentQueue::initWithQueueSize(capacity);
  scheduler_ = QMAScheduler::initWithInterval(interval);
  serialQueue_ = serialQueue;
  auto traverser = QMAViewHierarchyTraverser::init();
  std::weak_ptr<QMAContentQueue> weakQueue = contentQueue_;
  scheduler_->taskIDScheduledOnQueueBlock(dispatch::Queue::main(), [this, traverser, serialQueue, weakQueue] {
    runScreenWalk(traverser, serialQueue, weakQueue);
  });
  scheduler_->start();
}

void QMAContentHashing::stopContentHashing() {
  std::shared_ptr<QMAScheduler> scheduler;
  {
    std::lock_guard lock(lock_);
    serialQueue_.reset();
    scheduler = std::move(scheduler_);
  }
  if (scheduler) scheduler->stop();
}

std::optional<std::string> QMAContentHashing::fingerprintWithServedPenaltyDeduction() {
  std::shared_ptr<QMAContentQueue> queue = contentQueue();
  if (!queue) return std::nullopt;
  return queue->serveFingerprintWithPenaltyDeduction();
}

bool QMAContentHashing::isRunning() const {
  std::lock_guard lock(lock_);
  return scheduler_ != nullptr;
}

std::shared_ptr<QMAContentQueue> QMAContentHashing::contentQueue() const {
  std::lock_guard lock(lock_);
  return contentQueue_;
}

dispatch::QueuePtr QMAContentHashing::serialQueue() const {
  std::lock_guard lock(lock_);
  return serialQueue_;
}

void QMAContentHashing::runScreenWalk(const std::shared_ptr<QMAViewHierarchyTraverser>& traverser,
                                      const dispatch::QueuePtr& serialQueue,
                                      const std::weak_ptr<QMAContentQueue>& contentQueue) {
  auto window = uikit::Window::keyWindow();
  auto root = window ? window->rootViewController() : nullptr;
  auto view = root ? root->view() : nullptr;
  auto record = std::make_shared<std::shared_ptr<QMAContent>>();
  traverser->traverseViewTraversalBlockCompletionBlock(
      view,
      [record, serialQueue](const std::shared_ptr<uikit::View>& visited, std::int64_t number) {
        if (!*record) *record = QMAContent::initWithSequenceNumber(static_cast<std::uint64_t>(number));
        std::string text = textOfView(visited);
        if (text.empty()) return;  // adds nothing to a record
        serialQueue->async([content = *record, text = std::move(text)] { content->updateContentWithText(text); });
      },
      [record, serialQueue, contentQueue](bool finished) {
        if (!finished) return;
        serialQueue->async([content = *record, contentQueue] {
          auto queue = contentQueue.lock();
          if (!content || !queue || content->fingerprint().empty()) return;
          queue->deduplicate(content);
          queue->enqueueContent(content);
        });
      });
}
