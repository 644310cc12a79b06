#include "process/installer_lock.h"

#include <algorithm>

#include "log/log.h"

namespace varnok {
namespace {

using Status = InstallerLockState::Status;

void LogNotOpened(unsigned long error) {
  LogError("operation : ExecuteUninstallCommand; remarks : \"Windows Installer's lock "
           "(Global\\_MSIExecute) could not be opened. Trying again, within this run's wait.\"; "
           "error_code : %lu;",
           error);
}

void LogOutcome(const InstallerLockState& state, unsigned long long waited_ms) {
  const int waited = static_cast<int>(waited_ms);
  if (state.status == Status::kFree) {
    LogInfo("operation : ExecuteUninstallCommand; remarks : \"Windows Installer is free. Starting "
            "the removal.\"; waited_ms : %d;",
            waited);
  } else if (state.status == Status::kHeld) {
    LogError("operation : ExecuteUninstallCommand; remarks : \"Windows Installer is still busy "
             "after the wait. Starting the removal anyway.\"; waited_ms : %d;",
             waited);
  } else {
    LogError("operation : ExecuteUninstallCommand; remarks : \"Windows Installer's lock "
             "(Global\\_MSIExecute) still could not be opened after the wait. Starting the removal "
             "anyway.\"; error_code : %lu; waited_ms : %d;",
             state.error, waited);
  }
}

void LogNothingLeft(const InstallerLockState& state) {
  if (state.status == Status::kHeld) {
    LogError("operation : ExecuteUninstallCommand; remarks : \"Windows Installer is busy with "
             "another installation (Global\\_MSIExecute is held), and this run has already waited "
             "10 minutes for it. Starting without waiting.\";");
  } else {
    LogError("operation : ExecuteUninstallCommand; remarks : \"Windows Installer's lock "
             "(Global\\_MSIExecute) could not be opened, and this run has already waited 10 "
             "minutes for it. Starting without waiting.\"; error_code : %lu;",
             state.error);
  }
}

}  // namespace

void InstallerLockWait::BeforeLaunch(unsigned long limit_ms) {
  InstallerLockState state = platform_.WaitForInstallerLock(0);
  if (state.status == Status::kFree) return;
  if (left_ms_ == 0) {
    LogNothingLeft(state);
    return;
  }
  unsigned long long allowed = std::min<unsigned long long>(left_ms_, limit_ms);
  if (allowed == 0) return;  // the row's own time-out is used up; its caller says so
  const unsigned long long started = platform_.NowMs();
  unsigned long long now = started;
  bool wait_logged = false;
  bool error_logged = false;
  while (state.status != Status::kFree && allowed > 0) {
    if (state.status == Status::kHeld) {
      if (!wait_logged) {
        LogInfo("operation : ExecuteUninstallCommand; remarks : \"Windows Installer is busy with "
                "another installation (Global\\_MSIExecute is held). Waiting for it.\"; "
                "wait_limit_ms : %d;",
                static_cast<int>(allowed));
        wait_logged = true;
      }
      state = platform_.WaitForInstallerLock(static_cast<unsigned long>(allowed));
    } else {
      if (!error_logged) LogNotOpened(state.error);
      error_logged = true;
      platform_.Sleep(static_cast<unsigned>(std::min<unsigned long long>(kInstallerLockRetryMs,
                                                                         allowed)));
      state = platform_.WaitForInstallerLock(0);
    }
    const unsigned long long later = std::max(now, platform_.NowMs());
    Spend(later - now);
    allowed = later - now < allowed ? allowed - (later - now) : 0;
    now = later;
  }
  LogOutcome(state, now - started);
}

// A clock that wakes late past the end of a wait spends what was left, never more.
void InstallerLockWait::Spend(unsigned long long elapsed_ms) {
  left_ms_ = elapsed_ms < left_ms_ ? left_ms_ - elapsed_ms : 0;
}

}  // namespace varnok
