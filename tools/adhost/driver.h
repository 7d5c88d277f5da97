#pragma once
// adhost's text driver: one command a line in, one answer line out ("ok ...", "error: ...",
// or an empty line for a blank line or a "#" comment). It acts as a person and a finger
// would: it makes ads and loads them, taps what is on screen through hit testing, moves the
// hand clock, sends the application to the background and back, and reads the screen and
// the delegate messages heard.
//
// Waiting: network answers arrive when they arrive, so "wait NAME [EVENT]" runs the main
// run loop until that ad's next delegate message (of that kind) comes, at most the wait
// limit of real time. With the hand clock it moves time only to short timers of the pages
// (50 ms at most), never far: long timers (the reload timer, time-outs) fire only when
// "clock advance" moves the clock past them.
//
// Main thread only.

#include <memory>
#include <string>

namespace adhost {

class TextDriver {
 public:
  // Writes answers to `out` (a file descriptor); with `echo`, each command first as
  // "> command". `waitLimit`: the real seconds "wait" waits at most.
  TextDriver(int out, bool echo, double waitLimit);
  ~TextDriver();
  TextDriver(const TextDriver&) = delete;
  TextDriver& operator=(const TextDriver&) = delete;

  // Reads commands from `fd` on the main run loop; at its end the application ends.
  void attach(int fd);
  // Runs one command line and answers it (the answer is also returned).
  std::string execute(const std::string& line);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace adhost
