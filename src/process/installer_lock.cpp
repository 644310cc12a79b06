#include "process/installer_lock.h"

#include "log/log.h"

namespace varnok {

void InstallerLockWait::BeforeLaunch() {
  if (!platform_.IsInstallerLockHeld()) return;
  if (left_ms_ == 0) {
    LogError("operation : ExecuteUninstallCommand; remarks : \"Windows Installer is busy with "
             "another installation (Global\\_MSIExecute is held), and this run has already waited "
             "10 minutes for it. Starting without waiting.\";");
    return;
  }
  LogInfo("operation : ExecuteUninstallCommand; remarks : \"Windows Installer is busy with another "
          "installation (Global\\_MSIExecute is held). Waiting for it.\"; wait_limit_ms : %d;",
          static_cast<int>(left_ms_));
  const unsigned long long started = platform_.NowMs();
  const bool free = platform_.WaitForInstallerLock(static_cast<unsigned long>(left_ms_));
  const unsigned long long waited = platform_.NowMs() - started;
  left_ms_ = free && waited < left_ms_ ? left_ms_ - waited : 0;
  if (free) {
    LogInfo("operation : ExecuteUninstallCommand; remarks : \"Windows Installer is free. Starting "
            "the removal.\"; waited_ms : %d;",
            static_cast<int>(waited));
  } else {
    LogError("operation : ExecuteUninstallCommand; remarks : \"Windows Installer is still busy "
             "after the wait. Starting the removal anyway.\"; waited_ms : %d;",
             static_cast<int>(waited));
  }
}

}  // namespace varnok
