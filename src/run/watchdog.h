// The run's watchdog, Windows build only: a thread of its own, waiting for nothing but its
// deadline, that no file-system call can block. At the deadline it stops the run where it is,
// has a last line written with a time-out of its own, and ends the process with
// kExitStoppedByWatchdog. What the run started keeps running.
#pragma once

#include <memory>

#include "run/run_deadline.h"

namespace varnok {

// How long the last line may take: the log's lock is waited for 3 s.
constexpr unsigned long kLastLineWaitMs = 5000;

class Watchdog : public RunDeadline {
 public:
  // Armed for `first_ms` from now, for the thread that makes it (the run's). Every deadline is
  // divided by `time_divisor`, so that a test runs in seconds what a run is allowed minutes for;
  // the last line names the deadline as it was set. Without its threads (Windows could not make
  // them) nothing is watched.
  explicit Watchdog(unsigned long long first_ms, unsigned time_divisor = 1);
  ~Watchdog() override;
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void Set(unsigned long long ms) override;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace varnok
