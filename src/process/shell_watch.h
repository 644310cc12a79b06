// Making sure the desktop shell runs where an uninstaller ended it. The shell belongs to a user's
// session: it is started again only in a session that had one before and lost it, as that
// session's user; never as SYSTEM in session 0, where nobody sees it and where it would count as
// "running" for every later check.
#pragma once

#include <optional>
#include <set>

#include "process/launch_platform.h"

namespace varnok {

// The desktop name of per-user launches: the interactive desktop, where a prompt can be seen.
constexpr char kInteractiveDesktop[] = "winsta0\\default";

class ShellWatch {
 public:
  explicit ShellWatch(LaunchPlatform& platform) : platform_(platform) {}

  // Before a launch: notes the sessions that have a shell. The first note of a run is kept.
  void BeforeLaunch();
  // After it: starts the shell in every session that had one before the launch and has none now.
  void AfterLaunch();
  // After the run: the same against the sessions that had a shell before the first launch;
  // nothing when nothing was launched.
  void AtRunEnd();

 private:
  void RestoreLost(const std::set<unsigned long>& before);

  LaunchPlatform& platform_;
  std::optional<std::set<unsigned long>> first_;
  std::set<unsigned long> last_;
};

}  // namespace varnok
