// Launching processes, restoring the shell and running uninstall commands, for real under Wine.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "process/process_launch.h"
#include "process/shell_restore.h"
#include "process/shell_watch.h"
#include "process/system_launch_platform.h"
#include "process/uninstall_execution.h"
#include "process/user_session.h"
#include "support/win/wine_support.h"

namespace varnok {
namespace {

std::string CurrentDirectory() {
  char dir[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, dir);
  return dir;
}

class ExecuteFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = dir_ / "Program Folder";
    ASSERT_TRUE(CreateDirectoryA(app_.c_str(), nullptr));
    exe_ = app_ + "\\exit_with.exe";
    ASSERT_TRUE(CopyFileA(testing::ToolPath("exit_with.exe").c_str(), exe_.c_str(), FALSE));
  }
  testing::TempDir dir_;
  std::string app_;
  std::string exe_;
};

TEST_F(ExecuteFileTest, RunsInTheGivenFolderAndReturnsTheExitCode) {
  struct Row {
    const char* code;
    int expected;
  };
  const Row rows[] = {{"0", 0}, {"1603", 1603}, {"3010", 3010}, {"-5", -5},
                      {"crash", static_cast<int>(0xC0000005)}};
  const std::string before = CurrentDirectory();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    const std::string cwd_file = dir_ / "cwd.txt";
    DeleteFileA(cwd_file.c_str());
    const std::string command = "\"" + exe_ + "\" " + row.code + " --cwd \"" + cwd_file + "\"";
    EXPECT_EQ(ExecuteFile(command, "", app_, 1), row.expected);
    EXPECT_EQ(testing::ReadFileBytes(cwd_file), app_);
    EXPECT_EQ(CurrentDirectory(), before);
  }
}

TEST_F(ExecuteFileTest, RejectsAndFailsWithoutMovingTheDirectory) {
  const std::string before = CurrentDirectory();
  EXPECT_EQ(ExecuteFile(exe_ + " 0", "", app_, 1), 87);  // no quote, no executable
  EXPECT_EQ(ExecuteFile("   ", "", app_, 1), 87);
  EXPECT_EQ(CurrentDirectory(), before);
  EXPECT_EQ(ExecuteFile("\"" + (app_ + "\\missing.exe") + "\"", "", app_, 1), 2);
  EXPECT_EQ(CurrentDirectory(), before);
  // An executable with no command line needs no quote.
  EXPECT_EQ(ExecuteFile("", exe_, app_, 1), 2);  // exit_with without arguments exits 2
  EXPECT_EQ(CurrentDirectory(), before);
}

TEST_F(ExecuteFileTest, ProgramThatNeverEndsIsKilledAtTheTimeout) {
  const ULONGLONG start = GetTickCount64();
  const std::string command = "\"" + exe_ + "\" 0 --sleep 4000000000";
  EXPECT_EQ(ExecuteFile(command, "", app_, 1), 258);
  const ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 59000u);
  EXPECT_LT(elapsed, 75000u);
  EXPECT_EQ(testing::ProcessCount("exit_with.exe"), 0);
}

void EndAllShells() {
  win32::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (_stricmp(entry.szExeFile, "explorer.exe") != 0) continue;
    win32::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (process) {
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), 5000);
    }
  }
}

bool ShellAppearsWithin(DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (GetTickCount64() < deadline) {
    if (testing::ProcessCount("explorer.exe") > 0) return true;
    Sleep(25);
  }
  return false;
}

// The test bed keeps a desktop shell running; put one back (detached from our standard handles).
void StartDetachedShell() { testing::Child shell("explorer.exe /desktop"); }

TEST(DesktopShell, AShellEndedDuringALaunchIsStartedAgainInItsSession) {
  if (testing::ProcessCount("explorer.exe") == 0) StartDetachedShell();
  ASSERT_TRUE(ShellAppearsWithin(10000));
  DWORD own_session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &own_session));
  EXPECT_EQ(SessionsWithShell(), std::set<unsigned long>{own_session});

  ShellWatch watch(SystemLaunchPlatform());
  watch.BeforeLaunch();
  EndAllShells();  // as an uninstaller might
  ASSERT_EQ(testing::ProcessCount("explorer.exe"), 0);
  watch.AfterLaunch();
  EXPECT_TRUE(ShellAppearsWithin(10000));
  EndAllShells();
  StartDetachedShell();
}

TEST(DesktopShell, NoShellIsStartedWhereThereWasNone) {
  EndAllShells();
  ASSERT_EQ(testing::ProcessCount("explorer.exe"), 0);
  ShellWatch watch(SystemLaunchPlatform());
  watch.BeforeLaunch();
  watch.AfterLaunch();
  watch.AtRunEnd();
  Sleep(1500);
  EXPECT_EQ(testing::ProcessCount("explorer.exe"), 0);
  StartDetachedShell();
}

TEST(DesktopShell, OwnProcessDoesNotCount) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string self = strrchr(path, '\\') + 1;
  EXPECT_FALSE(IsProcessRunning(self));
  testing::Child other("\"" + testing::ToolPath("exit_with.exe") + "\" 0 --sleep 20000");
  ASSERT_TRUE(other.started());
  EXPECT_TRUE(IsProcessRunning("Exit_With.EXE"));
  other.Kill(0);
}

}  // namespace
}  // namespace varnok

namespace varnok {
namespace {

TEST_F(ExecuteFileTest, UserSessionLaunchUsesTheUsersOwnEnvironment) {
  // Wine hands out a token of the current user for any session, so the launch can be shown here.
  SetEnvironmentVariableA("VARNOK_PARENT_ONLY", "leaked");
  const std::string env_file = dir_ / "env.txt";
  const int result = CreateProcessInUserSession(" 3010 --env VARNOK_PARENT_ONLY \"" + env_file + "\"",
                                                60000, 1, exe_, false, kInteractiveDesktop);
  SetEnvironmentVariableA("VARNOK_PARENT_ONLY", nullptr);
  EXPECT_EQ(result, 3010);
  EXPECT_EQ(testing::ReadFileBytes(env_file), "<unset>");  // built from the user's profile
}

TEST_F(ExecuteFileTest, MovedUninstallerIsFoundInItsSearchFolder) {
  const std::string moved = dir_ / "Moved";
  ASSERT_TRUE(CreateDirectoryA(moved.c_str(), nullptr));
  ASSERT_TRUE(MoveFileA(exe_.c_str(), (moved + "\\EXIT_WITH.EXE").c_str()));
  UninstallCommand command;
  command.executable = exe_;  // no longer there
  command.arguments = "1641 --cwd \"" + (dir_ / "cwd.txt") + "\"";
  command.command_line = "\"" + exe_ + "\" " + command.arguments;
  RowFiles files(SystemLaunchPlatform(), RowAccess());
  LaunchTarget target;
  target.file = LocateUninstaller(files, command.command_line, {"", moved}).file;
  EXPECT_EQ(target.file, moved + "\\EXIT_WITH.EXE");
  std::string remarks;
  ShellWatch shells(SystemLaunchPlatform());
  EXPECT_EQ(ExecuteUninstallCommand(SystemLaunchPlatform(), shells, command, target, &remarks), 1641);
  EXPECT_EQ(testing::ReadFileBytes(dir_ / "cwd.txt"), moved);
  EXPECT_EQ(remarks, "");

  ASSERT_TRUE(DeleteFileA((moved + "\\EXIT_WITH.EXE").c_str()));
  target.file = LocateUninstaller(files, command.command_line, {dir_ / "Nowhere"}).file;
  EXPECT_EQ(target.file, "");
  EXPECT_EQ(ExecuteUninstallCommand(SystemLaunchPlatform(), shells, command, target, &remarks), 51005);
}

}  // namespace
}  // namespace varnok
