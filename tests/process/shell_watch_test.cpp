#include "process/shell_watch.h"

#include <gtest/gtest.h>

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
