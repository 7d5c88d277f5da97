#pragma once
// Samples one view for viewability: its visible bounds in window coordinates and whether
// it is visible at all, once on request or every sampling interval of the SDK-core
// controller while monitoring runs, and tells its delegate after each sample.
//
// Threads: startMonitoring, stopMonitoring, sample and the accessors from any thread;
// samples run on the main thread (sample hops there, the scheduler's task runs on the main
// queue). The fields live behind the serial queue "com.quillon.pelmark.vistrace-monitor".
// The delegate is held weakly: the slot that owns a monitor is its delegate.

#include <memory>

#include "ads/services/geometry.h"
#include "ads/services/scheduler.h"
#include "platform/dispatch/queue.h"
#include "platform/uikit/view.h"

class QMAVistraceMonitor;

class QMAVistraceMonitorDelegate {
 public:
  virtual ~QMAVistraceMonitorDelegate() = default;
  // After every sample, on the main thread.
  virtual void vistraceMonitorDidRefresh(QMAVistraceMonitor& monitor) = 0;
};

class QMAVistraceMonitor : public std::enable_shared_from_this<QMAVistraceMonitor> {
 public:
  static constexpr const char* kQueueLabel = "com.quillon.pelmark.vistrace-monitor";
  // Used when the server's sampling interval is not above 0, so that samples never run
  // back to back on the main thread.
  static constexpr double kDefaultSamplingInterval = 0.4;

  // Nullptr without a view.
  static std::shared_ptr<QMAVistraceMonitor> initWithView(const std::shared_ptr<uikit::View>& view);
  ~QMAVistraceMonitor();

  std::shared_ptr<uikit::View> monitoredView() const { return monitoredView_.lock(); }
  std::shared_ptr<QMAVistraceMonitorDelegate> delegate();
  void setDelegate(std::weak_ptr<QMAVistraceMonitorDelegate> delegate);
  QMARect monitoredViewVisibleBounds();
  bool monitoredViewVisible();
  bool isMonitoring();

  void startMonitoring();
  void stopMonitoring();
  void sample();
  // One sample (main thread).
  void updateViewBounds();

 private:
  QMAVistraceMonitor() = default;

  std::weak_ptr<uikit::View> monitoredView_;
  dispatch::QueuePtr lockQueue_;
  std::shared_ptr<QMAScheduler> updateScheduler_;
  std::weak_ptr<QMAVistraceMonitorDelegate> delegate_;
  QMARect monitoredViewVisibleBounds_;
  bool monitoredViewVisible_ = false;
};
