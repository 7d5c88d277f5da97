#include "platform/system/reachability.h"

#include <mutex>
#include <optional>
#include <set>

namespace system_facts {

struct ReachabilityTarget::Registry {
  std::mutex mu;
  std::set<ReachabilityTarget*> scheduled;
  std::optional<std::uint32_t> flags;
  bool available = true;
  static Registry& shared() {
    static Registry* r = new Registry();
    return *r;
  }
  void deliver(std::uint32_t f) {
    std::lock_guard lock(mu);
    flags = f;
    for (ReachabilityTarget* t : scheduled)
      if (t->callback_ && t->queue_) t->queue_->async([cb = t->callback_, f] { cb(f); });
  }
};

std::shared_ptr<ReachabilityTarget> ReachabilityTarget::createWithName(const std::string& host) {
  auto& r = Registry::shared();
  {
    std::lock_guard lock(r.mu);
    if (!r.available || host.empty()) return nullptr;
  }
  std::shared_ptr<ReachabilityTarget> t(new ReachabilityTarget());
  t->host_ = host;
  return t;
}

ReachabilityTarget::~ReachabilityTarget() { setDispatchQueue(nullptr); }

bool ReachabilityTarget::setCallback(Callback callback) {
  auto& r = Registry::shared();
  std::lock_guard lock(r.mu);
  callback_ = std::move(callback);
  return true;
}

bool ReachabilityTarget::setDispatchQueue(dispatch::QueuePtr queue) {
  auto& r = Registry::shared();
  std::lock_guard lock(r.mu);
  queue_ = queue;
  if (!queue) {
    r.scheduled.erase(this);
    return true;
  }
  r.scheduled.insert(this);
  if (r.flags && callback_) queue->async([cb = callback_, f = *r.flags] { cb(f); });
  return true;
}

void setReachabilityFlags(std::uint32_t flags) { ReachabilityTarget::Registry::shared().deliver(flags); }

void resetReachabilityFlags() {
  auto& r = ReachabilityTarget::Registry::shared();
  std::lock_guard lock(r.mu);
  r.flags.reset();
}

void setReachabilityAvailable(bool available) {
  auto& r = ReachabilityTarget::Registry::shared();
  std::lock_guard lock(r.mu);
  r.available = available;
}

}  // namespace system_facts
