// Waiting for Windows Installer's lock before a Windows Installer removal. While another
// installation runs, msiexec fails at once with 1618; waiting a while turns that into a removal.
#pragma once

#include "process/launch_platform.h"

namespace varnok {

// The longest wait for the lock in one run. Not per launch: a lock held for ever (or by a user
// who opened it) delays the run once, not once per row.
constexpr unsigned long kInstallerLockWaitMs = 10 * 60000UL;

class InstallerLockWait {
 public:
  explicit InstallerLockWait(LaunchPlatform& platform) : platform_(platform) {}

  // When the lock is held: one line, a wait for it (within what is left of this run's wait),
  // one line with how long it took. The launch follows whatever the outcome.
  void BeforeLaunch();

 private:
  LaunchPlatform& platform_;
  unsigned long long left_ms_ = kInstallerLockWaitMs;
};

}  // namespace varnok
