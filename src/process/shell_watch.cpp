#include "process/shell_watch.h"

#include "log/log.h"

namespace varnok {

void ShellWatch::BeforeLaunch() {
  last_ = platform_.SessionsWithShell();
  if (!first_) first_ = last_;
}

void ShellWatch::AfterLaunch() { RestoreLost(last_); }

void ShellWatch::AtRunEnd() {
  if (first_) RestoreLost(*first_);
}

void ShellWatch::RestoreLost(const std::set<unsigned long>& before) {
  if (before.empty()) return;
  const std::set<unsigned long> now = platform_.SessionsWithShell();
  // As LocalSystem, the user's own shell in the user's session; otherwise only this session's,
  // in this process's own context.
  const bool system = platform_.IsRunningAsSystem();
  const unsigned long current = system ? 0 : platform_.CurrentSessionId();
  for (unsigned long session : before) {
    if (now.count(session) != 0) continue;
    if (system ? session == 0 : session != current) continue;
    LogInfo("operation : RestoreDesktopShell; remarks : \"explorer.exe is not running. Starting "
            "it.\"; session_id : %d;",
            static_cast<int>(session));
    if (system) {
      const std::string shell = platform_.WindowsDirectory() + "\\explorer.exe";
      platform_.CreateProcessInUserSession("\"" + shell + "\"", 0, session, shell,
                                           kInteractiveDesktop);
    } else {
      platform_.StartShellHere();
    }
  }
}

}  // namespace varnok
