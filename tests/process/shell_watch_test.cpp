#include "process/shell_watch.h"

#include <gtest/gtest.h>

#include <map>

#include "support/host/fake_launch_platform.h"
#include "support/host/log_capture.h"

namespace varnok {
namespace {

using testing::FakeLaunchPlatform;
using Sessions = std::set<unsigned long>;

TEST(ShellWatch, AShellComesBackOnlyWhereItWasLost) {
  struct Case {
    const char* what;
    bool system;
    Sessions before, after;
    std::vector<std::string> starts;
  };
  const std::string shell = "[C:\\Windows\\explorer.exe] [\"C:\\Windows\\explorer.exe\"] 0";
  const Case cases[] = {
      {"nothing lost", true, {1, 2}, {1, 2}, {}},
      {"the user whose shell ended gets it back, as that user", true, {1, 2}, {2},
       {"session 1 " + shell}},
      {"every session that lost one", true, {1, 3}, {}, {"session 1 " + shell, "session 3 " + shell}},
      {"never a shell as SYSTEM in session 0", true, {0, 2}, {}, {"session 2 " + shell}},
      {"a session that never had one gets none", true, {}, {}, {}},
      {"a new shell elsewhere does not count", true, {1}, {4}, {"session 1 " + shell}},
      {"run by hand: this session only, in the program's own context", false, {1, 2}, {}, {"shell here"}},
      {"run by hand: another session's loss is not ours to mend", false, {2}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = c.system;
    platform.current_session = 1;
    platform.shells = c.before;
    ShellWatch watch(platform);
    watch.BeforeLaunch();
    platform.shells = c.after;  // what the uninstaller left
    testing::TakeLogLines();
    watch.AfterLaunch();
    EXPECT_EQ(platform.calls, c.starts);
    EXPECT_EQ(testing::TakeLogLines().size(), c.starts.size());
  }
}

TEST(ShellWatch, AShellStillMissingAfterOneWaitIsStartedOnce) {
  struct Case {
    const char* what;
    Sessions before, after;
    std::map<unsigned long, unsigned long long> returns;  // session -> when its own shell starts
    std::vector<std::string> starts;
    unsigned long long waited_ms;
  };
  const std::string shell = "[C:\\Windows\\explorer.exe] [\"C:\\Windows\\explorer.exe\"] 0";
  const Case cases[] = {
      {"the uninstaller restarts it within the wait: not started twice", {1}, {}, {{1, 4999}}, {}, 5000},
      {"it comes back too late: started", {1}, {}, {{1, 5001}}, {"session 1 " + shell}, 5000},
      {"two sessions share one wait", {1, 2}, {}, {{2, 3000}}, {"session 1 " + shell}, 5000},
      {"nothing lost: no wait", {1}, {1}, {}, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = true;
    platform.shells = c.before;
    ShellWatch watch(platform);
    watch.BeforeLaunch();
    platform.shells = c.after;
    platform.shell_returns = c.returns;
    watch.AfterLaunch();
    EXPECT_EQ(platform.now_ms, c.waited_ms);
    watch.AtRunEnd();
    EXPECT_EQ(platform.calls, c.starts);
  }
}

TEST(ShellWatch, ASessionLoggingOnOrOffIsLeftAlone) {
  using Lock = SessionPhase::Lock;
  struct Case {
    const char* what;
    bool system;
    SessionPhase phase;
    const char* hold;  // nullptr: the shell is started
  };
  const char* logon = "the session is logging on (userinit.exe runs)";
  const char* logon_ui = "the session is logging on or off (LogonUI.exe runs)";
  const Case cases[] = {
      {"userinit.exe runs: logging on", true, {0, Lock::kUnlocked, true, false}, logon},
      {"LogonUI.exe in an unlocked session: logging on or off", true, {0, Lock::kUnlocked, false, true}, logon_ui},
      {"LogonUI.exe, lock unknown", true, {0, Lock::kUnknown, false, true}, logon_ui},
      {"LogonUI.exe as the lock screen of a session at work", true, {0, Lock::kLocked, false, true}, nullptr},
      {"disconnected", true, {4, Lock::kUnlocked, false, false}, "the session is not active"},
      {"a state that cannot be read", true, {-1, Lock::kUnknown, false, false},
       "the state of the session cannot be read"},
      {"run by hand: its own session's state unread", false, {-1, Lock::kUnknown, false, false}, nullptr},
      {"run by hand: its own session logging on", false, {-1, Lock::kUnknown, true, false}, logon},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = c.system;
    platform.shells = {1};
    platform.phases = {{1, c.phase}};
    ShellWatch watch(platform);
    watch.BeforeLaunch();
    platform.shells.clear();
    testing::TakeLogLines();
    watch.AfterLaunch();
    const std::string remarks = c.hold ? std::string("explorer.exe is not running, but ") + c.hold + ". Leaving it."
                                       : "explorer.exe is not running. Starting it.";
    EXPECT_EQ(testing::TakeLogLines().back().message,
              "operation : RestoreDesktopShell; remarks : \"" + remarks + "\"; session_id : 1;");
    EXPECT_EQ(platform.calls.size(), c.hold ? 0u : 1u);
  }
}

TEST(ShellWatch, TheRunEndsAgainstTheSessionsBeforeTheFirstLaunch) {
  FakeLaunchPlatform platform;
  platform.system = true;
  ShellWatch watch(platform);
  watch.AtRunEnd();  // nothing launched: nothing to mend
  EXPECT_TRUE(platform.calls.empty());

  platform.shells = {1, 2};
  watch.BeforeLaunch();
  platform.shells = {1};  // the first uninstaller ended session 2's shell ...
  watch.BeforeLaunch();   // ... before the second launch was noted (a restart failed, say)
  watch.AfterLaunch();
  EXPECT_TRUE(platform.calls.empty());  // nothing lost since this launch's note
  testing::TakeLogLines();
  watch.AtRunEnd();
  EXPECT_EQ(platform.calls, (std::vector<std::string>{"session 2 [C:\\Windows\\explorer.exe] [\"C:\\Windows\\explorer.exe\"] 0"}));
  EXPECT_EQ(testing::TakeLogLines().back().message,
            "operation : RestoreDesktopShell; remarks : \"explorer.exe is not running. Starting it.\"; "
            "session_id : 2;");
}

}  // namespace
}  // namespace varnok
