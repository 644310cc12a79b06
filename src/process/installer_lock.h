// Waiting for Windows Installer's lock before a Windows Installer removal. While another
// installation runs, msiexec fails at once with 1618; waiting a while turns that into a removal.
#pragma once

#include "process/launch_platform.h"

namespace varnok {

// The longest wait for the lock in one run. Not per launch: a lock held for ever (or by a user
// who opened it) delays the run once, not once per row.
constexpr unsigned long kInstallerLockWaitMs = 10 * 60000UL;
// How long a lock that cannot be opened is left alone before the next try.
constexpr unsigned kInstallerLockRetryMs = 1000;
// A wait bounded by the run's wait alone.
constexpr unsigned long kNoInstallerWaitLimit = 0xFFFFFFFFUL;

class InstallerLockWait {
 public:
  explicit InstallerLockWait(LaunchPlatform& platform) : platform_(platform) {}

  // Returns at once when the lock is free. When it is held: one line, a wait for it, one line
  // with how long it took. When it cannot be opened: one line naming the error, then a new try
  // every kInstallerLockRetryMs (a user who can make the open fail cannot fill the log). All
  // within what is left of this run's wait and within `limit_ms` (the time a row has left; with
  // none left, nothing is waited for); the launch follows whatever the outcome.
  void BeforeLaunch(unsigned long limit_ms = kNoInstallerWaitLimit);

 private:
  void Spend(unsigned long long elapsed_ms);

  LaunchPlatform& platform_;
  unsigned long long left_ms_ = kInstallerLockWaitMs;
};

}  // namespace varnok
