#pragma once
// Script heaps for new documents, made ahead and destroyed off the main thread. A new
// document needs a heap with the page environment in place; making one (the heap, the
// natives, the environment) is most of what a small document costs. So one spare heap,
// prepared for the limits of the last document, waits on a serial queue of its own while
// the main thread works, and an old document's heap goes to that queue to be destroyed.
//
// Threads: a duktape heap is single-threaded, never shared. It is made and prepared on
// the queue, handed over whole to the thread that takes it (through this object's lock),
// and from then on only that thread touches it, until it hands it back whole with retire().
// take() and retire() may be called from any thread but the queue's own (checked in debug
// builds); the web view calls them on the main thread.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/queue.h"
#include "platform/webkit/script_context.h"

namespace webkit {

class DocumentHeaps {
 public:
  // Puts what every document needs into a new heap: runs on the queue or on the caller of
  // take(), so it must touch nothing but the heap. Answers an error's text, or "".
  using Prepare = std::function<std::string(ScriptContext&)>;

  struct Prepared {
    std::unique_ptr<ScriptContext> heap;
    std::string error;  // what Prepare answered
  };

  explicit DocumentHeaps(Prepare prepare, std::string label = "webkit.document-heaps");
  DocumentHeaps(const DocumentHeaps&) = delete;
  DocumentHeaps& operator=(const DocumentHeaps&) = delete;

  // A prepared heap with these limits: the spare one if it is ready and was made with the
  // same limits, else one made here and now. Either way the next spare is made on the
  // queue. The heap has no native owner yet.
  Prepared take(ScriptLimits limits);
  // Destroys the heap on the queue. Its native owner is cleared first, here, so anything
  // the page still runs while it goes (duktape runs finalizers then) reaches no owner;
  // that run is bounded by the heap's run time like any entry into the page.
  void retire(std::unique_ptr<ScriptContext> heap);

  // Waits until the queue has done everything asked of it so far (tests, benchmarks).
  void waitUntilIdle();

 private:
  Prepared make(ScriptLimits limits) const;

  // How long take() waits for a spare on its way before making a heap itself: a few
  // times what making one costs.
  static constexpr int kWaitMilliseconds = 2;

  const Prepare prepare_;
  const dispatch::QueuePtr queue_;
  std::mutex mu_;
  std::condition_variable spareMade_;
  Prepared spare_;             // (mu_)
  ScriptLimits spareLimits_;   // (mu_)
  bool making_ = false;        // a spare is being made on the queue (mu_)
  ScriptLimits makingLimits_;  // (mu_)
};

}  // namespace webkit
