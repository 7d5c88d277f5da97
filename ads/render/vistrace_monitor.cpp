#include "ads/render/vistrace_monitor.h"

#include "ads/render/sdk_core_controller.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/thread_checks.h"

std::shared_ptr<QMAVistraceMonitor> QMAVistraceMonitor::initWithView(const std::shared_ptr<uikit::View>& view) {
  if (!view) return nullptr;
  std::shared_ptr<QMAVistraceMonitor> monitor(new QMAVistraceMonitor());
  monitor->monitoredView_ = view;
  monitor->lockQueue_ = dispatch::Queue::createSerial(kQueueLabel);
  return monitor;
}

QMAVistraceMonitor::~QMAVistraceMonitor() {
  // No block of the lock queue holds the monitor any more: its fields are this thread's.
  std::shared_ptr<QMAScheduler> scheduler = std::move(updateScheduler_);
  if (!scheduler) return;
  // The scheduler's timer lives on the main run loop: stop it there.
  QMARunOnMainThread([scheduler] { scheduler->stop(); });
}

std::shared_ptr<QMAVistraceMonitorDelegate> QMAVistraceMonitor::delegate() {
  std::shared_ptr<QMAVistraceMonitorDelegate> d;
  lockQueue_->sync([&] { d = delegate_.lock(); });
  return d;
}

void QMAVistraceMonitor::setDelegate(std::weak_ptr<QMAVistraceMonitorDelegate> delegate) {
  auto self = shared_from_this();
  lockQueue_->async([self, delegate = std::move(delegate)] { self->delegate_ = delegate; });
}

QMARect QMAVistraceMonitor::monitoredViewVisibleBounds() {
  QMARect r;
  lockQueue_->sync([&] { r = monitoredViewVisibleBounds_; });
  return r;
}

bool QMAVistraceMonitor::monitoredViewVisible() {
  bool v = false;
  lockQueue_->sync([&] { v = monitoredViewVisible_; });
  return v;
}

bool QMAVistraceMonitor::isMonitoring() {
  bool running = false;
  lockQueue_->sync([&] { running = updateScheduler_ != nullptr; });
  return running;
}

void QMAVistraceMonitor::startMonitoring() {
  std::shared_ptr<QMAScheduler> started;
  lockQueue_->sync([&] {
    if (updateScheduler_) return;
    double interval = QMASDKCoreController::sharedInstance()->vistraceSamplingInterval();
    if (!(interval > 0)) interval = kDefaultSamplingInterval;
    updateScheduler_ = QMAScheduler::initWithInterval(interval);
    started = updateScheduler_;
  });
  if (!started) return;
  std::weak_ptr<QMAVistraceMonitor> weak = weak_from_this();
  QMARunOnMainThread([started, weak] {
    started->taskIDScheduledOnQueueBlock(dispatch::Queue::main(), [weak] {
      if (auto monitor = weak.lock()) monitor->updateViewBounds();
    });
    started->start();
  });
}

void QMAVistraceMonitor::stopMonitoring() {
  std::shared_ptr<QMAScheduler> stopped;
  lockQueue_->sync([&] { stopped = std::move(updateScheduler_); });
  if (!stopped) return;
  QMARunOnMainThread([stopped] { stopped->stop(); });
}

void QMAVistraceMonitor::sample() {
  std::weak_ptr<QMAVistraceMonitor> weak = weak_from_this();
  QMARunOnMainThread([weak] {
    if (auto monitor = weak.lock()) monitor->updateViewBounds();
  });
}

void QMAVistraceMonitor::updateViewBounds() {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  auto view = monitoredView_.lock();
  const QMARect bounds = view ? qma_visibleBounds(*view) : QMARect{};
  const bool visible = !(bounds == QMARect{});
  lockQueue_->async([keep, bounds, visible] {
    keep->monitoredViewVisibleBounds_ = bounds;
    keep->monitoredViewVisible_ = visible;
  });
  if (auto d = delegate()) d->vistraceMonitorDidRefresh(*this);
}
