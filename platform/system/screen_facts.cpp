#include "platform/system/screen_facts.h"

#include <mutex>

namespace system_facts {
namespace {
std::mutex mu;
ScreenFacts current;
}  // namespace

ScreenFacts screen() {
  std::lock_guard lock(mu);
  return current;
}

void setScreen(const ScreenFacts& facts) {
  std::lock_guard lock(mu);
  current = facts;
}

}  // namespace system_facts
