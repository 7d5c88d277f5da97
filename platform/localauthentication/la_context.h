#pragma once
// The fingerprint check. The device's reader is a stand-in that tests, drivers or the
// environment configure: whether the framework is there at all, whether the policy can
// be evaluated now, and how the owner answers the prompt. Replies come on a worker
// thread of the framework, never on the caller's.
//
// Environment, read by configureFromEnvironment():
//   WARDVANE_LA_AVAILABLE=0|1        the framework is present (default 1)
//   WARDVANE_LA_CAN_EVALUATE=0|1     the policy can be evaluated now (default 1)
//   WARDVANE_LA_OUTCOME=success|fail|cancel|wait   the owner's answer (default success);
//                                    "wait" holds every prompt until answerPending()

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace localauthentication {

enum class LAPolicy { DeviceOwnerAuthenticationWithBiometrics = 1, DeviceOwnerAuthentication = 2 };

enum class LAErrorCode : int {
  AuthenticationFailed = -1,
  UserCancel = -2,
  UserFallback = -3,
  SystemCancel = -4,
  PasscodeNotSet = -5,
  BiometryNotAvailable = -6,
  BiometryNotEnrolled = -7,
  BiometryLockout = -8,
};

struct LAError {
  LAErrorCode code;
  std::string localizedDescription;
};

enum class Outcome { Success, Fail, Cancel, Wait };

struct ReaderConfiguration {
  bool available = true;
  bool canEvaluate = true;
  Outcome outcome = Outcome::Success;
};

// The device's fingerprint reader (process-wide, like the hardware it stands for).
class Reader {
 public:
  static void configure(const ReaderConfiguration& c);
  static ReaderConfiguration configuration();
  // Applies the WARDVANE_LA_* variables over the defaults.
  static void configureFromEnvironment();
  // Parses "success", "fail", "cancel" or "wait".
  static std::optional<Outcome> outcomeNamed(const std::string& name);

  // Answers every prompt still waiting (outcome "wait") with `outcome`, on the worker
  // thread. Answers how many were waiting.
  static std::size_t answerPending(Outcome outcome);
  static std::size_t pendingPrompts();
  // Prompts shown since the start (or the last reset), and the last reason shown.
  static std::uint64_t prompts();
  static std::string lastReason();
  static void resetCounters();
  // Blocks until the worker has delivered every reply it was given so far.
  static void waitUntilIdle();
};

class LAContext {
 public:
  using Reply = std::function<void(bool success, std::optional<LAError> error)>;

  // Whether the class exists on this system.
  static bool isAvailable();

  // Whether `policy` can be evaluated now; fills `error` when not and one is asked for.
  bool canEvaluatePolicy(LAPolicy policy, LAError* error) const;
  // Shows the prompt with `reason`; `reply` runs once, on the framework's worker thread.
  void evaluatePolicyLocalizedReasonReply(LAPolicy policy, const std::string& reason, Reply reply);
};

}  // namespace localauthentication
