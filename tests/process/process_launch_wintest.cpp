// Launching processes, restoring the shell and running uninstall commands, for real under Wine.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>

#include "process/launched_file.h"
#include "process/process_launch.h"
#include "process/shell_restore.h"
#include "process/shell_watch.h"
#include "process/stuck_window.h"
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

// Ended processes may take a moment to leave the process list.
bool NoneLeftWithin(const std::string& name, DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (testing::ProcessCount(name) > 0) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(50);
  }
  return true;
}

TEST_F(ExecuteFileTest, AtTheTimeoutTheProgramAndEverythingItStartedEnd) {
  const ULONGLONG start = GetTickCount64();
  const std::string command =
      "\"" + exe_ + "\" 0 --child \"0 --sleep 4000000000\" --sleep 4000000000";
  EXPECT_EQ(ExecuteFile(command, "", app_, 1), 258);
  const ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 59000u);
  EXPECT_LT(elapsed, 75000u);
  EXPECT_TRUE(NoneLeftWithin("exit_with.exe", 5000));
}

TEST_F(ExecuteFileTest, UserSessionLaunchEndsItsFirstProcessAtItsTimeout) {
  // A process of a user's session cannot join a job of the agent's session 0, so a per-user
  // launch runs in none: at its time-out only the first process can be ended.
  const std::string marker = dir_ / "helper-ran.txt";
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(CreateProcessInUserSession("\"" + exe_ + "\" 0 --child \"0 --count \\\"" + marker +
                                           "\\\" --sleep 6000\" --sleep 4000000000",
                                       3000, 1, exe_, kInteractiveDesktop, std::nullopt),
            258);
  EXPECT_GE(GetTickCount64() - start, 2900u);
  EXPECT_EQ(testing::ProcessCount("exit_with.exe"), 1);  // the helper, which ends on its own
  EXPECT_TRUE(NoneLeftWithin("exit_with.exe", 10000));
  EXPECT_EQ(testing::ReadFileBytes(marker), "run\n");
}

TEST_F(ExecuteFileTest, AHelperThatOutlivesItsUninstallerIsNeitherWaitedForNorEnded) {
  // The helper finishes the removal after the uninstaller returned, as NSIS's copy of itself does.
  const std::string done = dir_ / "helper-done.txt";
  const ULONGLONG start = GetTickCount64();
  const std::string command =
      "\"" + exe_ + "\" 0 --child \"0 --sleep 3000 --count \\\"" + done + "\\\"\"";
  EXPECT_EQ(ExecuteFile(command, "", app_, 1), 0);
  EXPECT_LT(GetTickCount64() - start, 2500u);
  EXPECT_FALSE(testing::FileExists(done));
  const ULONGLONG deadline = GetTickCount64() + 15000;
  while (!testing::FileExists(done) && GetTickCount64() < deadline) Sleep(100);
  EXPECT_EQ(testing::ReadFileBytes(done), "run\n");
}

// Launches whose log lines are read back: the agent's log is pointed at the test's folder before
// the first line.
class LaunchLogTest : public ExecuteFileTest {
 protected:
  void SetUp() override {
    ExecuteFileTest::SetUp();
    ASSERT_TRUE(CreateDirectoryA((install_ / "logs").c_str(), nullptr));
  }
  std::string Log() const { return testing::ReadFileBytes(install_ / "logs\\fmprereqhandler.log"); }
  testing::TempDir install_;
  testing::AgentInstallDir agent_{install_.path()};
};

TEST_F(LaunchLogTest, AUserSessionLaunchRunsOnlyWhenItWasCreatedFromTheFileItWasBoundTo) {
  // Wine hands out a token for any session, but creates no junction or symbolic link: a folder
  // swapped under the path is shown by binding the launch to another file's identity.
  const std::string marker = dir_ / "ran.txt";
  FileIdentity mine;
  FileIdentity other;
  ASSERT_EQ(ReadFileIdentity(exe_, &mine), 0u);
  ASSERT_EQ(ReadFileIdentity(testing::ToolPath("plain.exe"), &other), 0u);
  ASSERT_NE(mine, other);
  const std::string command = "\"" + exe_ + "\" 7 --count \"" + marker + "\"";
  EXPECT_EQ(CreateProcessInUserSession(command, 60000, 1, exe_, kInteractiveDesktop, other),
            kLaunchedFileChanged);
  EXPECT_FALSE(testing::FileExists(marker));  // ended before it ran
  const std::string log = Log();
  EXPECT_NE(log.find("remarks : \"The new process was not created from the file the row's owner "
                     "checked (a folder on its path was changed in between): it was ended before it "
                     "ran.\"; file_path : \"" + exe_ + "\"; image_path : \"" + exe_ + "\"; error_code : 0; "
                     "return_value : 1006;"),
            std::string::npos)
      << log;
  EXPECT_EQ(testing::ProcessCount("exit_with.exe"), 0);
  EXPECT_EQ(CreateProcessInUserSession(command, 60000, 1, exe_, kInteractiveDesktop, mine), 7);
  EXPECT_EQ(testing::ReadFileBytes(marker), "run\n");
}

TEST_F(ExecuteFileTest, AFileHeldToRunCannotBeChangedUntilItsProgramHasBeenCreated) {
  const std::string held_exe = app_ + "\\held.exe";
  ASSERT_TRUE(CopyFileA(exe_.c_str(), held_exe.c_str(), FALSE));
  SystemPlatform platform;
  HeldFile held;
  ASSERT_EQ(platform.HoldFile(held_exe, &held), 0u);
  FileIdentity identity;
  ASSERT_EQ(ReadFileIdentity(held_exe, &identity), 0u);
  EXPECT_EQ(held.identity, identity);
  EXPECT_EQ(held.security.owner_sid, testing::CurrentUserSid());  // read through the hold
  // Nobody may write, replace or rename it; it may still be read.
  win32::UniqueFileHandle writer(
      CreateFileA(held_exe.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileA(held_exe.c_str(), (held_exe + ".old").c_str()));
  EXPECT_FALSE(DeleteFileA(held_exe.c_str()));
  EXPECT_GT(testing::ReadFileBytes(held_exe).size(), 1024u);
  // Handed to a launch, it is let go as soon as the program has been created: the program
  // itself may delete it, as an uninstaller's copy deletes the original.
  EXPECT_EQ(platform.ExecuteFile("\"" + exe_ + "\" 0 --delete-file \"" + held_exe + "\"", exe_, app_, 1, 0,
                                 nullptr, false, held.id, ""),
            0);
  EXPECT_FALSE(testing::FileExists(held_exe));
  platform.ReleaseFile(held.id);  // a second release does nothing
}

TEST_F(LaunchLogTest, AWindowNobodyCanAnswerIsEndedWithinNinetySecondsOnlyWhereWatched) {
  // The same message box twice at once: a direct launch watched as in session 0, and a launch in
  // a user's session, which is never ended early (someone there can answer it).
  int watched = 0;
  ULONGLONG watched_ms = 0;
  std::thread session_zero([&] {
    const ULONGLONG start = GetTickCount64();
    watched = ExecuteFile("\"" + exe_ + "\" 0 --child \"0 --sleep 4000000000\" --message-box "
                          "\"Uninstall Stuck\"",
                          "", app_, 2, kStuckWindowIdleMs);
    watched_ms = GetTickCount64() - start;
  });
  const ULONGLONG start = GetTickCount64();
  const int in_session = CreateProcessInUserSession(
      "\"" + exe_ + "\" 0 --message-box \"Asks The User\"", 75000, 1, exe_, kInteractiveDesktop,
      std::nullopt);
  const ULONGLONG in_session_ms = GetTickCount64() - start;
  session_zero.join();

  EXPECT_EQ(watched, 258);
  EXPECT_GE(watched_ms, 60000u);
  EXPECT_LT(watched_ms, 90000u);
  EXPECT_EQ(in_session, 258);  // its time-out, not the window
  EXPECT_GE(in_session_ms, 75000u);
  EXPECT_TRUE(NoneLeftWithin("exit_with.exe", 5000));  // the watched launch's helper too
  const std::string log = Log();
  const std::string line = "[ ERROR ] operation : ExecuteFile; status : failure; remarks : \"The "
                           "uninstaller shows a window in session 0, where nobody can answer it, "
                           "and has done nothing for 60 s. Ending it.\"; window_title : \"Uninstall "
                           "Stuck\"; window_class : \"#32770\"; process : \"" + exe_ + "\"; "
                           "process_id : ";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find("Asks The User"), std::string::npos) << log;
}

TEST_F(LaunchLogTest, AQuestionNeverShownIsFoundAndAWindowOfNoSizeIsNot) {
  // Watched with a 2-second limit. A program started hidden has its first window hidden.
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(ExecuteFile("\"" + exe_ + "\" 0 --hidden-dialog \"Hidden Question\" 600000", "", app_, 2,
                        2000),
            258);
  EXPECT_LT(GetTickCount64() - start, 15000u);
  EXPECT_NE(Log().find("window_title : \"Hidden Question\"; window_class : \"#32770\";"),
            std::string::npos)
      << Log();
  EXPECT_EQ(ExecuteFile("\"" + exe_ + "\" 7 --zero-window \"No Size\" 6000", "", app_, 1, 2000), 7);
  EXPECT_EQ(Log().find("No Size"), std::string::npos);
}

TEST_F(ExecuteFileTest, AnUninstallerThatReadsItsCommandLineAsDelphiDoesIsSilentOnEveryRoute) {
  const std::string stand_in = app_ + "\\VarnokParamStr.exe";
  ASSERT_TRUE(CopyFileA(testing::ToolPath("paramstr.exe").c_str(), stand_in.c_str(), FALSE));
  UninstallCommand command;
  command.command_line = "\"" + stand_in + "\" /S";
  command.executable = stand_in;
  command.arguments = "/S";
  LaunchTarget direct;
  direct.file = stand_in;
  LaunchTarget owner = direct;
  // Wine hands out a token of the current user for any session, so this route runs here too.
  owner.access.route = RowAccess::Route::kOwnerSession;
  owner.access.session_id = 1;
  ShellWatch shells(SystemLaunchPlatform());
  InstallerLockWait installer(SystemLaunchPlatform());
  PrivateTempFolders temps(SystemLaunchPlatform());
  std::string remarks;
  for (const LaunchTarget* target : {&direct, &owner}) {
    EXPECT_EQ(ExecuteUninstallCommand(SystemLaunchPlatform(), shells, installer, temps, command,
                                      *target, &remarks),
              0);
  }
  EXPECT_EQ(testing::ReadFileBytes(stand_in + ".log"), "silent\nsilent\n");
}

TEST_F(LaunchLogTest, AWindowOfAProgramAtWorkIsNotEnded) {
  // A progress window while the program uses the CPU, watched with a 2-second limit.
  const std::string command = "\"" + exe_ + "\" 7 --busy-window \"Removing files\" 6000";
  EXPECT_EQ(ExecuteFile(command, "", app_, 1, 2000), 7);
  EXPECT_EQ(Log().find("nobody can answer"), std::string::npos);
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

TEST(DesktopShell, AShellEndedDuringALaunchIsStartedAgainInItsSession) {
  ASSERT_TRUE(testing::EnsureDesktopShell());
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
  testing::EnsureDesktopShell();  // put the test bed's shell back
}

TEST(DesktopShell, AShellThatComesBackWithinTheWaitIsNotStartedTwice) {
  ASSERT_TRUE(testing::EnsureDesktopShell());
  ShellWatch watch(SystemLaunchPlatform());
  watch.BeforeLaunch();
  EndAllShells();
  ASSERT_EQ(testing::ProcessCount("explorer.exe"), 0);
  std::thread uninstaller([] {  // restarts the shell itself a moment later
    Sleep(1000);
    testing::Child shell("explorer.exe /desktop");
  });
  watch.AfterLaunch();
  uninstaller.join();
  Sleep(1500);
  EXPECT_EQ(testing::ProcessCount("explorer.exe"), 1);
  EndAllShells();
  testing::EnsureDesktopShell();  // put the test bed's shell back
}

TEST(DesktopShell, LogonProgramsAreFoundInTheirSession) {
  DWORD own_session = 0;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &own_session));
  const SessionPhase before = ReadSessionPhase(own_session);
  EXPECT_FALSE(before.userinit || before.logon_ui);
  // Wine 8 answers no session information at all; Windows answers Active for the test's own.
  EXPECT_TRUE(before.connect_state == SessionPhase::kStateUnknown ||
              before.connect_state == SessionPhase::kStateActive);
  testing::TempDir dir;
  for (const char* name : {"userinit.exe", "logonui.exe"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(CopyFileA(testing::ToolPath("exit_with.exe").c_str(), (dir / name).c_str(), FALSE));
    testing::Child logon("\"" + (dir / name) + "\" 0 --sleep 20000");
    ASSERT_TRUE(logon.started());
    const SessionPhase phase = ReadSessionPhase(own_session);
    EXPECT_EQ(phase.userinit, name[0] == 'u');
    EXPECT_EQ(phase.logon_ui, name[0] == 'l');
    const SessionPhase elsewhere = ReadSessionPhase(own_session + 1);
    EXPECT_FALSE(elsewhere.userinit || elsewhere.logon_ui);
    logon.Kill(0);
  }
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
  testing::EnsureDesktopShell();  // put the test bed's shell back
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
  const int result = CreateProcessInUserSession(
      "\"" + exe_ + "\" 3010 --env VARNOK_PARENT_ONLY \"" + env_file + "\"", 60000, 1, exe_,
      kInteractiveDesktop, std::nullopt);
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
  InstallerLockWait installer(SystemLaunchPlatform());
  PrivateTempFolders temps(SystemLaunchPlatform());
  EXPECT_EQ(ExecuteUninstallCommand(SystemLaunchPlatform(), shells, installer, temps, command,
                                    target, &remarks),
            1641);
  EXPECT_EQ(testing::ReadFileBytes(dir_ / "cwd.txt"), moved);
  EXPECT_EQ(remarks, "");

  ASSERT_TRUE(DeleteFileA((moved + "\\EXIT_WITH.EXE").c_str()));
  target.file = LocateUninstaller(files, command.command_line, {dir_ / "Nowhere"}).file;
  EXPECT_EQ(target.file, "");
  EXPECT_EQ(ExecuteUninstallCommand(SystemLaunchPlatform(), shells, installer, temps, command,
                                    target, &remarks),
            51005);
}

}  // namespace
}  // namespace varnok
