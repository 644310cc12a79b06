#include "process/installer_lock.h"

#include <gtest/gtest.h>

#include "support/host/fake_launch_platform.h"
#include "support/host/log_capture.h"

namespace varnok {
namespace {

// The lines' texts after "operation : ExecuteUninstallCommand; remarks : \"".
const std::string kLock = "Windows Installer's lock (Global\\_MSIExecute) ";
std::string Busy(int limit) {
  return "INFO Windows Installer is busy with another installation (Global\\_MSIExecute is "
         "held). Waiting for it.\"; wait_limit_ms : " + std::to_string(limit) + ";";
}
std::string Free(int waited) {
  return "INFO Windows Installer is free. Starting the removal.\"; waited_ms : " + std::to_string(waited) + ";";
}
std::string StillBusy(int waited) {
  return "ERROR Windows Installer is still busy after the wait. Starting the removal anyway.\"; "
         "waited_ms : " + std::to_string(waited) + ";";
}
const std::string kNotOpened =
    "ERROR " + kLock + "could not be opened. Trying again, within this run's wait.\"; error_code : 5;";
std::string StillNotOpened(int waited) {
  return "ERROR " + kLock + "still could not be opened after the wait. Starting the removal "
         "anyway.\"; error_code : 5; waited_ms : " + std::to_string(waited) + ";";
}
const std::string kHeldAndSpent = "ERROR Windows Installer is busy with another installation "
    "(Global\\_MSIExecute is held), and this run has already waited 10 minutes for it. Starting "
    "without waiting.\";";
const std::string kNotOpenedAndSpent = "ERROR " + kLock + "could not be opened, and this run has "
    "already waited 10 minutes for it. Starting without waiting.\"; error_code : 5;";

TEST(InstallerLockWait, WaitsForTheLockAndRetriesOneThatCannotBeOpenedWithinTheRunsTenMinutes) {
  struct Case {
    const char* what;
    unsigned long long held_until;
    unsigned long long failing_until;
    unsigned long late_ms;  // how late the clock wakes from each wait
    std::vector<std::string> lines;  // of two launches in a row
  };
  const unsigned long long kFor = 3600000;  // longer than any run waits
  const Case cases[] = {
      {"free", 0, 0, 0, {}},
      {"held for 5 s", 5000, 0, 0, {Busy(600000), Free(5000)}},
      {"not opened for 3 s, then free", 0, 3000, 0, {kNotOpened, Free(3000)}},
      {"not opened for 2 s, then held until 7 s", 7000, 2000, 0,
       {kNotOpened, Busy(598000), Free(7000)}},
      {"held for ever", kFor, 0, 0, {Busy(600000), StillBusy(600000), kHeldAndSpent}},
      {"not opened for ever", 0, kFor, 0, {kNotOpened, StillNotOpened(600000), kNotOpenedAndSpent}},
      {"held, and the clock wakes 5 s late", kFor, 0, 5000,
       {Busy(600000), StillBusy(605000), kHeldAndSpent}},
      {"not opened, and the clock wakes 0.7 s late from each pause", 0, kFor, 700,
       {kNotOpened, StillNotOpened(600100), kNotOpenedAndSpent}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::FakeLaunchPlatform platform;
    platform.installer_lock_held_until = c.held_until;
    platform.installer_lock_failing_until = c.failing_until;
    platform.late_ms = c.late_ms;
    InstallerLockWait wait(platform);
    testing::TakeLogLines();
    wait.BeforeLaunch();
    wait.BeforeLaunch();
    const std::string op = "operation : ExecuteUninstallCommand; remarks : \"";
    std::vector<std::string> lines;
    for (const auto& line : testing::TakeLogLines()) {
      ASSERT_EQ(line.message.rfind(op, 0), 0u) << line.message;
      lines.push_back((line.level == LogLevel::kError ? "ERROR " : "INFO ") + line.message.substr(op.size()));
    }
    EXPECT_EQ(lines, c.lines);
  }
}

}  // namespace
}  // namespace varnok
