#pragma once
// Something that runs blocks later, on a thread of its own choosing: a dispatch queue or
// an operation queue. Foundation services that deliver callbacks "on a queue" (the
// notification centre) take one, without depending on the dispatch layer itself.

#include <functional>

namespace foundation {

class Executor {
 public:
  virtual ~Executor() = default;
  virtual void execute(std::function<void()> block) = 0;
  // Whether the calling thread is already running on this executor.
  virtual bool runsOnCurrentThread() const = 0;
};

}  // namespace foundation
