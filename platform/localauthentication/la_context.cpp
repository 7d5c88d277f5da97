#include "platform/localauthentication/la_context.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace localauthentication {
namespace {

// One worker thread delivers every reply, in order; it lives as long as the process.
class Worker {
 public:
  static Worker& shared() {
    static Worker* w = new Worker;  // never destroyed: replies may run until exit
    return *w;
  }
  void post(std::function<void()> job) {
    std::lock_guard lock(mu_);
    jobs_.push_back(std::move(job));
    ++posted_;
    cv_.notify_all();
  }
  void waitUntilIdle() {
    std::unique_lock lock(mu_);
    auto target = posted_;
    idle_.wait(lock, [&] { return done_ >= target; });
  }

 private:
  Worker() : thread_([this] { run(); }) { thread_.detach(); }
  void run() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(mu_);
        cv_.wait(lock, [&] { return !jobs_.empty(); });
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
      std::lock_guard lock(mu_);
      ++done_;
      idle_.notify_all();
    }
  }
  std::mutex mu_;
  std::condition_variable cv_, idle_;
  std::deque<std::function<void()>> jobs_;
  std::uint64_t posted_ = 0, done_ = 0;
  std::thread thread_;
};

struct State {
  std::mutex mu;
  ReaderConfiguration config;
  std::vector<LAContext::Reply> pending;
  std::uint64_t prompts = 0;
  std::string lastReason;
};
State& state() {
  static State s;
  return s;
}

void deliver(const LAContext::Reply& reply, Outcome outcome) {
  if (!reply) return;
  Worker::shared().post([reply, outcome] {
    switch (outcome) {
      case Outcome::Success: reply(true, std::nullopt); break;
      case Outcome::Cancel: reply(false, LAError{LAErrorCode::UserCancel, "Canceled by user."}); break;
      default: reply(false, LAError{LAErrorCode::AuthenticationFailed, "Application retry limit exceeded."}); break;
    }
  });
}

}  // namespace

void Reader::configure(const ReaderConfiguration& c) {
  std::lock_guard lock(state().mu);
  state().config = c;
}

ReaderConfiguration Reader::configuration() {
  std::lock_guard lock(state().mu);
  return state().config;
}

std::optional<Outcome> Reader::outcomeNamed(const std::string& name) {
  if (name == "success") return Outcome::Success;
  if (name == "fail") return Outcome::Fail;
  if (name == "cancel") return Outcome::Cancel;
  if (name == "wait") return Outcome::Wait;
  return std::nullopt;
}

void Reader::configureFromEnvironment() {
  ReaderConfiguration c;
  auto flag = [](const char* name, bool dflt) {
    const char* v = std::getenv(name);
    if (!v || !*v) return dflt;
    return std::string(v) != "0";
  };
  c.available = flag("WARDVANE_LA_AVAILABLE", true);
  c.canEvaluate = flag("WARDVANE_LA_CAN_EVALUATE", true);
  if (const char* o = std::getenv("WARDVANE_LA_OUTCOME"))
    if (auto parsed = outcomeNamed(o)) c.outcome = *parsed;
  configure(c);
}

std::size_t Reader::answerPending(Outcome outcome) {
  std::vector<LAContext::Reply> replies;
  {
    std::lock_guard lock(state().mu);
    replies.swap(state().pending);
  }
  for (auto& r : replies) deliver(r, outcome == Outcome::Wait ? Outcome::Fail : outcome);
  return replies.size();
}

std::size_t Reader::pendingPrompts() {
  std::lock_guard lock(state().mu);
  return state().pending.size();
}

std::uint64_t Reader::prompts() {
  std::lock_guard lock(state().mu);
  return state().prompts;
}

std::string Reader::lastReason() {
  std::lock_guard lock(state().mu);
  return state().lastReason;
}

void Reader::resetCounters() {
  std::lock_guard lock(state().mu);
  state().prompts = 0;
  state().lastReason.clear();
}

void Reader::waitUntilIdle() { Worker::shared().waitUntilIdle(); }

bool LAContext::isAvailable() { return Reader::configuration().available; }

bool LAContext::canEvaluatePolicy(LAPolicy policy, LAError* error) const {
  auto c = Reader::configuration();
  if (c.available && c.canEvaluate) return true;
  if (error) *error = LAError{LAErrorCode::BiometryNotAvailable, "Biometry is not available on this device."};
  return false;
}

void LAContext::evaluatePolicyLocalizedReasonReply(LAPolicy policy, const std::string& reason, Reply reply) {
  Outcome outcome;
  bool unavailable;
  {
    std::lock_guard lock(state().mu);
    auto& s = state();
    unavailable = !s.config.available || !s.config.canEvaluate;
    outcome = s.config.outcome;
    if (!unavailable) {
      ++s.prompts;
      s.lastReason = reason;
      if (outcome == Outcome::Wait) {
        s.pending.push_back(std::move(reply));
        return;
      }
    }
  }
  if (unavailable) {
    if (reply)
      Worker::shared().post([reply] {
        reply(false, LAError{LAErrorCode::BiometryNotAvailable, "Biometry is not available on this device."});
      });
    return;
  }
  deliver(reply, outcome);
}

}  // namespace localauthentication
