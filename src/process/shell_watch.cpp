#include "process/shell_watch.h"

#include "log/log.h"

namespace varnok {

const char* ShellStartHold(const SessionPhase& phase, bool own_session) {
  if (phase.connect_state == SessionPhase::kStateUnknown) {
    // Another session's state cannot be read once its user has logged off.
    if (!own_session) return "the state of the session cannot be read";
  } else if (phase.connect_state != SessionPhase::kStateActive) {
    return "the session is not active";
  }
  if (phase.userinit) return "the session is logging on (userinit.exe runs)";
  if (phase.logon_ui && phase.lock != SessionPhase::Lock::kLocked) {
    return "the session is logging on or off (LogonUI.exe runs)";
  }
  return nullptr;
}

void ShellWatch::BeforeLaunch() {
  last_ = platform_.SessionsWithShell();
  if (!first_) first_ = last_;
}

void ShellWatch::AfterLaunch() { RestoreLost(last_); }

void ShellWatch::AtRunEnd() {
  if (first_) RestoreLost(*first_);
}

std::vector<unsigned long> ShellWatch::Missing(const std::set<unsigned long>& before, bool system,
                                               unsigned long current) {
  std::vector<unsigned long> missing;
  if (before.empty()) return missing;
  const std::set<unsigned long> now = platform_.SessionsWithShell();
  for (unsigned long session : before) {
    if (now.count(session) != 0) continue;
    if (system ? session == 0 : session != current) continue;
    missing.push_back(session);
  }
  return missing;
}

void ShellWatch::RestoreLost(const std::set<unsigned long>& before) {
  // As LocalSystem, the user's own shell in the user's session; otherwise only this session's,
  // in this process's own context.
  const bool system = platform_.IsRunningAsSystem();
  const unsigned long current = system ? 0 : platform_.CurrentSessionId();
  if (Missing(before, system, current).empty()) return;
  platform_.Sleep(kShellSecondLookMs);
  for (unsigned long session : Missing(before, system, current)) {
    if (const char* hold = ShellStartHold(platform_.ReadSessionPhase(session), !system)) {
      LogInfo("operation : RestoreDesktopShell; remarks : \"explorer.exe is not running, but %s. "
              "Leaving it.\"; session_id : %d;",
              hold, static_cast<int>(session));
      continue;
    }
    LogInfo("operation : RestoreDesktopShell; remarks : \"explorer.exe is not running. Starting "
            "it.\"; session_id : %d;",
            static_cast<int>(session));
    if (system) {
      const std::string shell = platform_.WindowsDirectory() + "\\explorer.exe";
      platform_.CreateProcessInUserSession("\"" + shell + "\"", 0, session, shell,
                                           kInteractiveDesktop, std::nullopt);
    } else {
      platform_.StartShellHere();
    }
  }
}

}  // namespace varnok
