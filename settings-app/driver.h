#pragma once
// The text driver of WardvaneApp: one command a line, one answer a line (screen dumps
// are a block between "=== screen" and "=== end"; a blank line or a "#" comment gets an
// empty answer line). It acts as a finger would: under the fingerprint cover nothing can
// be touched, and under an alert only the alert.
//
// Main thread only.

#include <memory>
#include <string>

namespace wardvane::app {

class TextDriver {
 public:
  // Writes answers to `out` (a file descriptor); with `echo`, each command first as "> command".
  explicit TextDriver(int out, bool echo = false);
  ~TextDriver();
  TextDriver(const TextDriver&) = delete;
  TextDriver& operator=(const TextDriver&) = delete;

  // Reads commands from `fd` on the main run loop; at its end the application ends.
  void attach(int fd);
  // Runs one command line and answers it; the answer is also returned ("" for a blank
  // line or a comment).
  std::string execute(const std::string& line);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wardvane::app
