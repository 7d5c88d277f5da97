#pragma once
// Network reachability: targets named after a host whose callbacks report the flag word
// of the route to it. The flags are one system fact that tests and drivers set; every
// scheduled target hears each change on its own dispatch queue.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/queue.h"

namespace system_facts {

inline constexpr std::uint32_t kReachabilityFlagsReachable = 1u << 1;
inline constexpr std::uint32_t kReachabilityFlagsIsWWAN = 1u << 18;

class ReachabilityTarget {
 public:
  using Callback = std::function<void(std::uint32_t flags)>;
  // Nullptr for an empty host name.
  static std::shared_ptr<ReachabilityTarget> createWithName(const std::string& host);
  ~ReachabilityTarget();

  const std::string& host() const { return host_; }
  bool setCallback(Callback callback);
  // Delivers callbacks on `queue` (nullptr: unschedules). Once scheduled, the current
  // flags are delivered when they are known. Answers whether it succeeded.
  bool setDispatchQueue(dispatch::QueuePtr queue);

  struct Registry;

 private:
  ReachabilityTarget() = default;
  std::string host_;
  Callback callback_;
  dispatch::QueuePtr queue_;
};

// Sets the route's flags and tells every scheduled target.
void setReachabilityFlags(std::uint32_t flags);
// Forgets the flags: targets scheduled afterwards hear nothing until they are set again.
void resetReachabilityFlags();
// Makes target creation fail (as when the system cannot make one).
void setReachabilityAvailable(bool available);

}  // namespace system_facts
