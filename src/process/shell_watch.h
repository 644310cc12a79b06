// Making sure the desktop shell runs where an uninstaller ended it. The shell belongs to a user's
// session: it is started again only in a session that had one before and lost it, as that
// session's user; never as SYSTEM in session 0, where nobody sees it and where it would count as
// "running" for every later check.
#pragma once

#include <optional>
#include <set>
#include <vector>

#include "process/launch_platform.h"

namespace varnok {

// The desktop name of per-user launches: the interactive desktop, where a prompt can be seen.
constexpr char kInteractiveDesktop[] = "winsta0\\default";

// How long a missing shell is given to come back by itself before it is started: an uninstaller
// that restarts the shell does so within seconds, and a second explorer.exe in a session that
// has a shell opens a File Explorer window on the user's desktop.
constexpr unsigned kShellSecondLookMs = 5000;

// Why the shell is not started in a session now, or nullptr when it may be: the session is not
// Active, its state cannot be read (except in `own_session`, the program's own, which exists
// while the program runs), userinit.exe runs in it (a logon), or LogonUI.exe runs in it and it is
// not known to be locked (a logon or a logoff; behind a lock screen the user's session is at work).
const char* ShellStartHold(const SessionPhase& phase, bool own_session);

class ShellWatch {
 public:
  explicit ShellWatch(LaunchPlatform& platform) : platform_(platform) {}

  // Before a launch: notes the sessions that have a shell. The first note of a run is kept.
  void BeforeLaunch();
  // After it: starts the shell in every session that had one before the launch, has none now and
  // still has none kShellSecondLookMs later, unless ShellStartHold holds it.
  void AfterLaunch();
  // After the run: the same against the sessions that had a shell before the first launch;
  // nothing when nothing was launched.
  void AtRunEnd();

 private:
  void RestoreLost(const std::set<unsigned long>& before);
  std::vector<unsigned long> Missing(const std::set<unsigned long>& before, bool system,
                                     unsigned long current);

  LaunchPlatform& platform_;
  std::optional<std::set<unsigned long>> first_;
  std::set<unsigned long> last_;
};

}  // namespace varnok
