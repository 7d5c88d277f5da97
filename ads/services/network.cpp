#include "ads/services/network.h"

std::shared_ptr<QMANetwork> QMANetwork::init() {
  std::shared_ptr<QMANetwork> n(new QMANetwork());
  n->lockQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.network");
  n->enableCheckingQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.network-enable");
  return n;
}

QMANetwork::~QMANetwork() {
  if (networkReachabilityRef_) networkReachabilityRef_->setDispatchQueue(nullptr);
}

void QMANetwork::enableNetworkChecking() {
  lockQueue_->sync([&] {
    if (networkReachabilityRef_) return;
    setNetworkType(QMANetworkTypeUndetermined);
    auto target = system_facts::ReachabilityTarget::createWithName(kReachabilityHost);
    if (!target) return;
    // The callback holds the monitor weakly; the monitor keeps itself alive while it checks.
    std::weak_ptr<QMANetwork> weak = shared_from_this();
    if (!target->setCallback([weak](std::uint32_t flags) {
          if (auto self = weak.lock()) self->setNetworkTypeFromFlags(flags);
        }) ||
        !target->setDispatchQueue(enableCheckingQueue_)) {
      target->setDispatchQueue(nullptr);
      return;
    }
    networkReachabilityRef_ = target;
    selfReference_ = shared_from_this();
  });
}

void QMANetwork::disableNetworkChecking() {
  std::shared_ptr<QMANetwork> keep;  // released after leaving the queue
  lockQueue_->sync([&] {
    if (networkReachabilityRef_) {
      networkReachabilityRef_->setDispatchQueue(nullptr);
      networkReachabilityRef_.reset();
    }
    setNetworkType(QMANetworkTypeUndetermined);
    keep.swap(selfReference_);
  });
}

std::uint64_t QMANetwork::networkType() const {
  std::uint64_t t = 0;
  lockQueue_->sync([&] { t = networkType_; });
  return t;
}

void QMANetwork::setNetworkType(std::uint64_t type) {
  lockQueue_->async([self = shared_from_this(), type] {
    if (type == self->networkType_) return;
    if (type != 0) {
      ++self->changeCount_;
      if (type >= QMANetworkTypeWiFi) self->lastKnownNetworkType_ = type;
    }
    self->networkType_ = type;
  });
}

void QMANetwork::setNetworkTypeFromFlags(std::uint32_t flags) {
  // Without the reachable flag nothing is reachable, whatever interface the route would use.
  if (!(flags & system_facts::kReachabilityFlagsReachable)) {
    setNetworkType(QMANetworkTypeNotReachable);
  } else if (flags & system_facts::kReachabilityFlagsIsWWAN) {
    setNetworkType(QMANetworkTypeCellular);
  } else {
    setNetworkType(QMANetworkTypeWiFi);
  }
}

std::optional<std::string> QMANetwork::stringForNetworkType(std::uint64_t type) {
  if (type == QMANetworkTypeWiFi) return "wi";
  if (type == QMANetworkTypeCellular) return "ed";
  return std::nullopt;
}

std::optional<std::string> QMANetwork::networkTypeString() const { return stringForNetworkType(networkType()); }

std::optional<std::string> QMANetwork::lastKnownNetworkTypeString() const { return stringForNetworkType(lastKnownNetworkType()); }

std::uint64_t QMANetwork::lastKnownNetworkType() const {
  std::uint64_t t = 0;
  lockQueue_->sync([&] { t = lastKnownNetworkType_; });
  return t;
}

std::uint64_t QMANetwork::changeCount() const {
  std::uint64_t c = 0;
  lockQueue_->sync([&] { c = changeCount_; });
  return c;
}

bool QMANetwork::isChecking() const {
  bool on = false;
  lockQueue_->sync([&] { on = networkReachabilityRef_ != nullptr; });
  return on;
}
