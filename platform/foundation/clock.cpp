#include "platform/foundation/clock.h"

#include <time.h>

#include <map>
#include <mutex>

namespace foundation {
namespace {

struct State {
  std::mutex mu;
  bool manual = false;
  double wall = 0;
  double mono = 0;
  int nextToken = 1;
  std::map<int, std::function<void()>> listeners;
};

// Never destroyed: work on other threads may read the time while the process exits.
State& state() {
  static State* s = new State();
  return *s;
}

double systemClock(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void notifyListeners() {
  std::map<int, std::function<void()>> copy;
  {
    std::lock_guard lock(state().mu);
    copy = state().listeners;
  }
  for (auto& [token, fn] : copy) fn();
}

}  // namespace

double Clock::now() {
  auto& s = state();
  std::lock_guard lock(s.mu);
  return s.manual ? s.wall : systemClock(CLOCK_REALTIME);
}

double Clock::monotonic() {
  auto& s = state();
  std::lock_guard lock(s.mu);
  return s.manual ? s.mono : systemClock(CLOCK_MONOTONIC);
}

void Clock::useManual(double wallNow) {
  {
    auto& s = state();
    std::lock_guard lock(s.mu);
    if (!s.manual) s.mono = systemClock(CLOCK_MONOTONIC);
    s.manual = true;
    s.wall = wallNow;
  }
  notifyListeners();
}

void Clock::useSystem() {
  {
    std::lock_guard lock(state().mu);
    state().manual = false;
  }
  notifyListeners();
}

bool Clock::isManual() {
  std::lock_guard lock(state().mu);
  return state().manual;
}

void Clock::advance(double seconds) {
  {
    auto& s = state();
    std::lock_guard lock(s.mu);
    if (!s.manual || !(seconds > 0)) return;
    s.wall += seconds;
    s.mono += seconds;
  }
  notifyListeners();
}

void Clock::setWall(double wallNow) {
  {
    auto& s = state();
    std::lock_guard lock(s.mu);
    if (!s.manual) return;
    s.wall = wallNow;
  }
  notifyListeners();
}

int Clock::addListener(std::function<void()> onMove) {
  auto& s = state();
  std::lock_guard lock(s.mu);
  int token = s.nextToken++;
  s.listeners.emplace(token, std::move(onMove));
  return token;
}

void Clock::removeListener(int token) {
  std::lock_guard lock(state().mu);
  state().listeners.erase(token);
}

}  // namespace foundation
