#pragma once
// The home screen's text driver: one command a line in, one line out saying what the
// home screen did. Main thread only.

#include <string>

namespace springboard {
class HomeScreen;
}

namespace homescreen {

// Puts the process clock in manual mode at a local time "YYYY-MM-DD HH:MM[:SS]".
bool setManualClock(const std::string& localTime);

class Driver {
 public:
  explicit Driver(springboard::HomeScreen& home) : home_(home) {}
  // Runs one command line; returns the answer line (without newline): empty for a blank
  // line or a comment ("#..."). An app identifier or alert title is the rest of the line,
  // spaces included. Sets `quit` for "quit".
  std::string execute(const std::string& line, bool* quit = nullptr);
  static std::string help();

 private:
  std::string clockLine() const;
  std::string alertLine() const;
  std::string tap(const std::string& where, const std::string& bundleIdentifier);
  springboard::HomeScreen& home_;
};

}  // namespace homescreen
