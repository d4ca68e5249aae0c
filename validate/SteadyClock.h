#pragma once

#include <chrono>

// The clock of time limits and reported durations: steady, so that a change of
// the system's time neither ends a check early nor stretches it.
using SteadyClock = std::chrono::steady_clock;

// Seconds elapsed since `start`.
inline double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}
