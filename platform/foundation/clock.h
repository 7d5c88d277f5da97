#pragma once
// The one clock of the process. It runs on the system clocks unless a test or a driver
// takes it over by hand; then time moves only when told, and everything that waits on
// time (run-loop timers, delayed blocks) sees the move.

#include <functional>

namespace foundation {

class Clock {
 public:
  // Wall-clock time, seconds since 1970 (what the platform's "now" date reads).
  static double now();
  // Monotonic seconds for timers and intervals; never goes back.
  static double monotonic();

  // Takes the clock over by hand, with the wall clock at `wallNow` (seconds since 1970).
  static void useManual(double wallNow);
  // Returns to the system clocks.
  static void useSystem();
  static bool isManual();
  // Manual mode: moves both clocks forward by `seconds` (> 0) and wakes the waiters.
  static void advance(double seconds);
  // Manual mode: sets the wall clock alone (as when the device clock is set back).
  static void setWall(double wallNow);

  // Called after every manual move, on the thread that made it. Run loops and timer
  // threads listen so they re-check their due times. Returns a token for removal.
  static int addListener(std::function<void()> onMove);
  static void removeListener(int token);
};

}  // namespace foundation
