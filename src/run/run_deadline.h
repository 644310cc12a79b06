// Every run ends: a watchdog that no file-system call can block ends the run at a hard deadline,
// a short one until the inventory is read (the first log line's open included), then one derived
// from the work the inventory asks for.
#pragma once

#include <vector>

#include "inventory/uninstall_entry.h"

namespace varnok {

// The exit code of a run that its watchdog stopped. The agent retries later.
constexpr int kExitStoppedByWatchdog = 51007;

// From the start of the program until the inventory has been read.
constexpr unsigned long long kStartDeadlineMs = 5 * 60000ULL;
// One row outside an owner's budget: its launch and the one more launch after an exit of 1618
// (30 minutes each), the wait for its row (3 minutes), the watch of what it left (65 s), one file
// step that stalls (30 s), the shell's second looks, and a margin for a slow machine.
constexpr unsigned long long kRowDeadlineMs = 70 * 60000ULL;
// All of one owner's per-user rows: the owner's 30 minutes, what a step begun just before they
// run out may add, and the same margin.
constexpr unsigned long long kOwnerDeadlineMs = 40 * 60000ULL;
// Once per run: Windows Installer's lock (10 minutes), and the end of the run (the shell, the
// private temporary folders, the summary).
constexpr unsigned long long kRunOverheadDeadlineMs = 15 * 60000ULL;

// What the rows that matched the name ask of the run.
struct RunWork {
  int rows = 0;    // rows with time-outs of their own: machine-wide, or any row outside LocalSystem
  int owners = 0;  // owners whose per-user rows share one budget (under LocalSystem)
};

// The rows of `hits` as the watchdog counts them: under LocalSystem a user's rows share their
// owner's budget; otherwise every row has its own time-outs.
RunWork WorkOf(const std::vector<UninstallEntry>& hits, bool local_system);

// How long the run may take from the moment its inventory has been read.
unsigned long long WorkDeadlineMs(const RunWork& work);

// What the run tells its watchdog.
class RunDeadline {
 public:
  virtual ~RunDeadline() = default;
  // The run must have ended `ms` from now; replaces the deadline set before.
  virtual void Set(unsigned long long ms) = 0;
};

}  // namespace varnok
