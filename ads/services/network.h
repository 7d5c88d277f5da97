#pragma once
// Whether the network can be reached and over which kind of link: what every ad request
// says as "net" (now) and "net_last" (the last reachable kind).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/queue.h"
#include "platform/system/reachability.h"

enum QMANetworkType : std::uint64_t {
  QMANetworkTypeUndetermined = 0,
  QMANetworkTypeNotReachable = 1,
  QMANetworkTypeWiFi = 2,      // reachable, not over the cellular network: "wi"
  QMANetworkTypeCellular = 3,  // reachable over the cellular network: "ed"
};

class QMANetwork : public std::enable_shared_from_this<QMANetwork> {
 public:
  // The host whose route is watched; only the kind of route to it matters.
  static constexpr const char* kReachabilityHost = "www.quillon.com";

  static std::shared_ptr<QMANetwork> init();
  ~QMANetwork();

  void enableNetworkChecking();
  void disableNetworkChecking();
  std::uint64_t networkType() const;
  void setNetworkType(std::uint64_t type);
  void setNetworkTypeFromFlags(std::uint32_t flags);
  std::optional<std::string> networkTypeString() const;
  std::optional<std::string> lastKnownNetworkTypeString() const;
  std::uint64_t lastKnownNetworkType() const;
  std::uint64_t changeCount() const;
  bool isChecking() const;
  // The queue reachability callbacks arrive on.
  const dispatch::QueuePtr& enableCheckingQueue() const { return enableCheckingQueue_; }

  static std::optional<std::string> stringForNetworkType(std::uint64_t type);

 private:
  QMANetwork() = default;
  std::shared_ptr<QMANetwork> selfReference_;
  std::uint64_t changeCount_ = 0;
  std::uint64_t networkType_ = 0;
  std::uint64_t lastKnownNetworkType_ = 0;
  dispatch::QueuePtr lockQueue_;
  dispatch::QueuePtr enableCheckingQueue_;
  std::shared_ptr<system_facts::ReachabilityTarget> networkReachabilityRef_;
};
