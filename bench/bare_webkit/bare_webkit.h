#pragma once
// A bare WebKitGTK web view for the benchmarks' reference figures: WebKitGTK's own web
// context and view in an offscreen window, none of our layers (no extension, no request
// interception, no delegate), on the display and main loop our engine already set up.
// Like our web views it offers the page the bridge channel (a script message handler named
// "wardvaneBridge"); each message posted there is read as text and counted, nothing more.
// Also what the engine's processes hold in memory. Main thread only.

#include <memory>
#include <string>
#include <vector>

namespace bench {

class BareWebKitView {
 public:
  BareWebKitView(int width, int height);
  ~BareWebKitView();
  BareWebKitView(const BareWebKitView&) = delete;
  BareWebKitView& operator=(const BareWebKitView&) = delete;
  // Loads the HTML under `baseURI` and waits until the engine says it finished; seconds.
  double load(const std::string& html, const std::string& baseURI);
  // Evaluates each script (all sent at once) and waits for every answer and, beyond them,
  // for `messages` bridge messages from the page; seconds.
  double evaluateAll(const std::vector<std::string>& scripts, int messages = 0);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Resident memory of this process's descendants (the engine's web and network processes,
// a private display server), in KiB, proportional where the kernel says (Pss).
long engineProcessesKiB();

}  // namespace bench
