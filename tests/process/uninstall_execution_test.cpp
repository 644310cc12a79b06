#include "process/uninstall_execution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "support/host/fake_launch_platform.h"
#include "support/host/log_capture.h"

namespace varnok {
namespace {

using testing::FakeLaunchPlatform;

const char kCode[] = "{12345678-90AB-CDEF-1234-567890ABCDEF}";
const char kOwner[] = "S-1-5-21-1-2-3-1002";
const std::string kMsiexec = "C:\\Windows\\system32\\msiexec.exe";

UninstallCommand Msi(bool per_user) {
  UninstallCommand c;
  c.is_msi = true;
  c.per_user = per_user;
  c.product_code = kCode;
  c.command_line = std::string("msiexec.exe /X ") + kCode + " /qn /norestart";
  c.executable = kMsiexec;
  c.arguments = std::string("/X ") + kCode + " /qn /norestart";
  return c;
}

UninstallCommand Exe(bool per_user, const std::string& exe, const std::string& args) {
  UninstallCommand c;
  c.per_user = per_user;
  c.executable = exe;
  c.arguments = args;
  c.command_line = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
  c.search_folders = {""};
  return c;
}

// One launch, with the shell watched as a run does.
int Execute(FakeLaunchPlatform& platform, const UninstallCommand& command, const LaunchTarget& target,
            std::string* remarks) {
  ShellWatch shells(platform);
  InstallerLockWait installer(platform);
  PrivateTempFolders temps(platform);
  return ExecuteUninstallCommand(platform, shells, installer, temps, command, target, remarks);
}

LaunchTarget Direct(const std::string& file = "") {
  LaunchTarget target;
  target.file = file;
  return target;
}

LaunchTarget Owner(RowAccess::Route route, const std::string& file = "",
                   unsigned long timeout_ms = kUninstallTimeoutMs) {
  LaunchTarget target;
  target.access.route = route;
  target.access.session_id = route == RowAccess::Route::kOwnerSession ? 3 : 0;
  target.access.owner_sid = kOwner;
  target.file = file;
  target.user_timeout_ms = timeout_ms;
  return target;
}

TEST(ExecuteUninstallCommand, RoutesEachKindOfRow) {
  const std::string msi_direct = "direct [\"" + kMsiexec + "\" /X " + kCode + " /qn /norestart] [" +
                                 kMsiexec + "] in [C:\\Windows\\system32] 30 installer";
  using Route = RowAccess::Route;
  struct Row {
    const char* what;
    bool system;
    UninstallCommand command;
    LaunchTarget target;
    int result;
    std::vector<std::string> calls;
    unsigned long late_ms = 0;           // how late the clock wakes from the wait
  };
  const Row rows[] = {
      {"machine-wide MSI under SYSTEM", true, Msi(false), Direct(), 0, {msi_direct}},
      {"per-user MSI in its owner's session", true, Msi(true), Owner(Route::kOwnerSession), 0,
       {"session 3 [" + kMsiexec + "] [\"" + kMsiexec + "\" /X " + kCode + " /qn /norestart] 1800000"}},
      {"per-user MSI whose owner has no session is never run as SYSTEM", true, Msi(true),
       Owner(Route::kNoOwnerSession), 1312, {}},
      {"per-user MSI whose owner's token is unusable", true, Msi(true),
       Owner(Route::kOwnerUnavailable), 1312, {}},
      {"per-user row of a normal user runs directly, by its full path", false,
       Exe(true, "C:\\u.exe", "/S"), Direct("C:\\u.exe"), 0,
       {"direct [\"C:\\u.exe\" /S] [C:\\u.exe] in [C:\\] 30"}},
      {"machine-wide EXE under SYSTEM", true, Exe(false, "C:\\App\\u.exe", ""),
       Direct("C:\\App\\u.exe"), 0, {"direct [\"C:\\App\\u.exe\"] [C:\\App\\u.exe] in [C:\\App] 30"}},
      {"the located substitute runs, in its own folder", true,
       Exe(false, "C:\\Old\\unins000.exe", "/VERYSILENT"), Direct("D:\\App\\UNINS000.EXE"), 0,
       {"direct [\"D:\\App\\UNINS000.EXE\" /VERYSILENT] [D:\\App\\UNINS000.EXE] in [D:\\App] 30"}},
      {"per-user EXE in its owner's session", true, Exe(true, "C:\\u.exe", "/S"),
       Owner(Route::kOwnerSession, "C:\\u.exe"), 0, {"session 3 [C:\\u.exe] [\"C:\\u.exe\" /S] 1800000"}},
      {"per-user EXE gets what is left of its owner's time", true, Exe(true, "C:\\u.exe", ""),
       Owner(Route::kOwnerSession, "C:\\u.exe", 61000), 0, {"session 3 [C:\\u.exe] [\"C:\\u.exe\"] 61000"}},
      {"per-user EXE whose owner has no session is refused", true, Exe(true, "C:\\u.exe", "/S"),
       Owner(Route::kNoOwnerSession, "C:\\u.exe"), 1312, {}},
      {"a file on a share is never started", false, Exe(false, "\\\\srv\\s\\u.exe", ""),
       Direct("\\\\srv\\s\\u.exe"), 161, {}},
      {"an executable found nowhere", true, Exe(false, "C:\\Gone\\u.exe", ""), Direct(), 51005, {}},
      {"a 64-bit uninstaller started through Sysnative is told its own path and folder", true,
       Exe(false, "C:\\Windows\\System32\\x.exe", "/S"), Direct("C:\\Windows\\Sysnative\\x.exe"), 0,
       {"direct [\"C:\\Windows\\System32\\x.exe\" /S] [C:\\Windows\\Sysnative\\x.exe] in "
        "[C:\\Windows\\System32] 30"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeLaunchPlatform platform;
    platform.system = row.system;
    std::string remarks = "stale";
    EXPECT_EQ(Execute(platform, row.command, row.target, &remarks), row.result);
    EXPECT_EQ(platform.calls, row.calls);
    EXPECT_EQ(platform.session_queries, 0);  // the row's route was decided before
    EXPECT_EQ(remarks.empty(), row.result == 0);
  }
}

TEST(ExecuteUninstallCommand, RefusalsAreLoggedWithWhatWasRefused) {
  FakeLaunchPlatform platform;
  platform.system = true;
  std::string remarks;
  testing::TakeLogLines();
  Execute(platform, Exe(true, "C:\\u.exe", ""),
                          Owner(RowAccess::Route::kNoOwnerSession, "C:\\u.exe"), &remarks);
  auto lines = testing::TakeLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].level, LogLevel::kError);
  EXPECT_EQ(lines[1].message,
            "operation : ExecuteUninstallCommand; status : failure; remarks : \"Per-user uninstaller not "
            "run: the owner of the row has no interactive session, and it is never run as SYSTEM\"; sid : "
            "\"S-1-5-21-1-2-3-1002\";");
  EXPECT_EQ(remarks, "Owner of the per-user row is not logged on; uninstaller not run as SYSTEM.");

  Execute(platform, Exe(false, "\\\\srv\\s\\u.exe", ""), Direct("\\\\srv\\s\\u.exe"), &remarks);
  lines = testing::TakeLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].message,
            "operation : ExecuteUninstallCommand; status : failure; remarks : \"Not started: only a local "
            "absolute path is run\"; file_path : \"\\\\srv\\s\\u.exe\";");
  EXPECT_TRUE(platform.security_reads.empty());
}

TEST(ExecuteUninstallCommand, WithoutACommandNothingHappens) {
  FakeLaunchPlatform platform;
  std::string remarks;
  testing::TakeLogLines();
  EXPECT_EQ(Execute(platform, UninstallCommand(), Direct(), &remarks), 87);
  EXPECT_EQ(remarks, "Uninstall command could not be constructed");
  EXPECT_TRUE(testing::TakeLogLines().empty());
  EXPECT_TRUE(platform.calls.empty());

  EXPECT_EQ(Execute(platform, Exe(false, "C:\\Old", ""), Direct(), &remarks), 51005);
  EXPECT_EQ(remarks, "Uninstall executable not found on disk: C:\\Old. Files may already be removed; only "
                     "a leftover registry entry remains.");
}

TEST(ExecuteUninstallCommand, OnlyDirectLaunchesInSessionZeroAreWatchedForStuckWindows) {
  struct Case {
    const char* what;
    unsigned long session;
    LaunchTarget target;
    UninstallCommand command;
    std::string call;
  };
  const Case cases[] = {
      {"session 0: a direct launch", 0, Direct("C:\\App\\u.exe"), Exe(false, "C:\\App\\u.exe", ""),
       "direct [\"C:\\App\\u.exe\"] [C:\\App\\u.exe] in [C:\\App] 30 stuck-window 60000"},
      {"session 0: msiexec", 0, Direct(), Msi(false),
       "direct [\"" + kMsiexec + "\" /X " + kCode + " /qn /norestart] [" + kMsiexec +
           "] in [C:\\Windows\\system32] 30 stuck-window 60000 installer"},
      {"a user's session: someone can answer", 2, Direct("C:\\App\\u.exe"),
       Exe(false, "C:\\App\\u.exe", ""), "direct [\"C:\\App\\u.exe\"] [C:\\App\\u.exe] in [C:\\App] 30"},
      {"session 0, but run in the owner's session", 0,
       Owner(RowAccess::Route::kOwnerSession, "C:\\u.exe"), Exe(true, "C:\\u.exe", ""),
       "session 3 [C:\\u.exe] [\"C:\\u.exe\"] 1800000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = true;
    platform.current_session = c.session;
    std::string remarks;
    EXPECT_EQ(Execute(platform, c.command, c.target, &remarks), 0);
    EXPECT_EQ(platform.calls, std::vector<std::string>{c.call});
  }
}

TEST(ExecuteUninstallCommand, APerUserUninstallerThatWantsElevationIsNotStarted) {
  FakeLaunchPlatform platform;
  platform.system = true;
  platform.result = 740;  // ERROR_ELEVATION_REQUIRED from CreateProcessAsUser
  testing::TakeLogLines();
  std::string remarks;
  EXPECT_EQ(Execute(platform, Exe(true, "C:\\u.exe", "/S"),
                    Owner(RowAccess::Route::kOwnerSession, "C:\\u.exe"), &remarks),
            740);
  const std::vector<testing::CapturedLine> lines = testing::TakeLogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().level, LogLevel::kError);
  EXPECT_EQ(lines.back().message,
            "operation : CreateProcessInUserSession; session_id : 3; status : failure; remarks : "
            "\"The uninstaller requires elevation, and a per-user row is never run elevated: it was "
            "not started.\"; file_path : \"C:\\u.exe\"; return_value : 740;");
}

TEST(ExecuteUninstallCommand, WindowsInstallerRemovalsWaitWhileAnotherInstallationRuns) {
  const std::string wait = "installer lock wait 600000";
  LaunchTarget installer_row = Direct("C:\\App\\setup.exe");
  installer_row.windows_installer = true;
  LaunchTarget users_installer_row = Owner(RowAccess::Route::kOwnerSession, "C:\\App\\setup.exe");
  users_installer_row.windows_installer = true;
  struct Case {
    const char* what;
    UninstallCommand command;
    LaunchTarget target;
    bool waits;
    std::string launch = std::string();  // in the owner's session, with what the wait left
  };
  const Case cases[] = {
      {"msiexec, direct", Msi(false), Direct(), true},
      {"msiexec, in the owner's session", Msi(true), Owner(RowAccess::Route::kOwnerSession), true,
       "session 3 [" + kMsiexec + "] [\"" + kMsiexec + "\" /X " + kCode + " /qn /norestart] 1795000"},
      {"the uninstaller of a Windows Installer row", Exe(false, "C:\\App\\setup.exe", "/x"),
       installer_row, true},
      {"the uninstaller of a user's Windows Installer row, in the owner's session",
       Exe(true, "C:\\App\\setup.exe", "/x"), users_installer_row, true,
       "session 3 [C:\\App\\setup.exe] [\"C:\\App\\setup.exe\" /x] 1795000"},
      {"msiexec named in an executable's command", Exe(false, kMsiexec, "/x {A}"), Direct(kMsiexec),
       true},
      {"any other uninstaller", Exe(false, "C:\\App\\u.exe", ""), Direct("C:\\App\\u.exe"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = true;
    platform.installer_lock_held_until = 5000;
    testing::TakeLogLines();
    std::string remarks;
    Execute(platform, c.command, c.target, &remarks);
    ASSERT_EQ(platform.calls.size(), c.waits ? 2u : 1u);
    if (!c.waits) continue;
    EXPECT_EQ(platform.calls[0], wait);  // before the launch
    if (!c.launch.empty()) {
      EXPECT_EQ(platform.calls[1], c.launch);
    }
    const auto lines = testing::TakeLogLines();
    const auto has = [&](const std::string& message) {
      for (const auto& line : lines) {
        if (line.message == message) return true;
      }
      return false;
    };
    EXPECT_TRUE(has("operation : ExecuteUninstallCommand; remarks : \"Windows Installer is busy with "
                    "another installation (Global\\_MSIExecute is held). Waiting for it.\"; "
                    "wait_limit_ms : 600000;"));
    EXPECT_TRUE(has("operation : ExecuteUninstallCommand; remarks : \"Windows Installer is free. "
                    "Starting the removal.\"; waited_ms : 5000;"));
  }
}

TEST(ExecuteUninstallCommand, TheInstallerLockIsWaitedForTenMinutesInARunNotPerRow) {
  FakeLaunchPlatform platform;
  platform.system = true;
  platform.installer_lock_held_until = 4 * 60000;  // then again from 5 to 20 minutes
  ShellWatch shells(platform);
  InstallerLockWait installer(platform);
  PrivateTempFolders temps(platform);
  std::string remarks;
  testing::TakeLogLines();
  auto run = [&] {
    ExecuteUninstallCommand(platform, shells, installer, temps, Msi(false), Direct(), &remarks);
  };
  run();  // 4 minutes
  platform.now_ms = 5 * 60000;
  platform.installer_lock_held_until = 20 * 60000;
  run();  // the 6 minutes left, then starts anyway
  run();  // nothing left: no wait at all
  platform.now_ms = 21 * 60000;
  run();  // free: no line, no wait
  EXPECT_EQ(std::count_if(platform.calls.begin(), platform.calls.end(),
                          [](const std::string& call) { return call.rfind("installer", 0) == 0; }),
            2);
  EXPECT_EQ(platform.calls[0], "installer lock wait 600000");
  EXPECT_EQ(platform.calls[2], "installer lock wait 360000");
  std::vector<std::string> wait_lines;
  for (const auto& line : testing::TakeLogLines()) {
    if (line.message.find("Windows Installer") != std::string::npos) {
      wait_lines.push_back((line.level == LogLevel::kError ? "ERROR " : "INFO ") + line.message);
    }
  }
  EXPECT_EQ(wait_lines,
            (std::vector<std::string>{
                "INFO operation : ExecuteUninstallCommand; remarks : \"Windows Installer is busy "
                "with another installation (Global\\_MSIExecute is held). Waiting for it.\"; "
                "wait_limit_ms : 600000;",
                "INFO operation : ExecuteUninstallCommand; remarks : \"Windows Installer is free. "
                "Starting the removal.\"; waited_ms : 240000;",
                "INFO operation : ExecuteUninstallCommand; remarks : \"Windows Installer is busy "
                "with another installation (Global\\_MSIExecute is held). Waiting for it.\"; "
                "wait_limit_ms : 360000;",
                "ERROR operation : ExecuteUninstallCommand; remarks : \"Windows Installer is still "
                "busy after the wait. Starting the removal anyway.\"; waited_ms : 360000;",
                "ERROR operation : ExecuteUninstallCommand; remarks : \"Windows Installer is busy "
                "with another installation (Global\\_MSIExecute is held), and this run has "
                "already waited 10 minutes for it. Starting without waiting.\";"}));
}

TEST(ExecuteUninstallCommand, AnUninstallerThatExits1618IsRunOnceMoreWhenWindowsInstallerIsFree) {
  const std::string exe = "direct [\"C:\\App\\setup.exe\" /S] [C:\\App\\setup.exe] in [C:\\App] 30";
  const std::string msi = "direct [\"" + kMsiexec + "\" /X " + kCode + " /qn /norestart] [" + kMsiexec +
                          "] in [C:\\Windows\\system32] 30 installer";
  const std::string msi_as_bob =
      "session 3 [" + kMsiexec + "] [\"" + kMsiexec + "\" /X " + kCode + " /qn /norestart] ";
  const std::string wait = "installer lock wait ";
  struct Case {
    const char* what;
    UninstallCommand command;
    LaunchTarget target;
    int busy_launches;                   // how many launches exit 1618
    unsigned long long held_until;       // the lock, before the first launch
    unsigned long long held_after_ms;    // and from the end of each launch on
    int result;
    std::vector<std::string> calls;
    unsigned long late_ms = 0;           // how late the clock wakes from the wait
  };
  const Case cases[] = {
      {"an executable", Exe(false, "C:\\App\\setup.exe", "/S"), Direct("C:\\App\\setup.exe"), 1, 0, 3000,
       0, {exe, wait + "600000", exe}},
      {"once only", Exe(false, "C:\\App\\setup.exe", "/S"), Direct("C:\\App\\setup.exe"), 2, 0, 3000,
       1618, {exe, wait + "600000", exe}},
      {"within what the first wait left of the run's", Msi(false), Direct(), 1, 240000, 1200000, 0,
       {wait + "600000", msi, wait + "360000", msi}},
      // The second launch gets what the first launch (1 s) and the wait (3 s) left of its time.
      {"in its owner's session", Msi(true), Owner(RowAccess::Route::kOwnerSession), 1, 0, 3000, 0,
       {msi_as_bob + "1800000", wait + "600000", msi_as_bob + "1796000"}},
      {"nothing left of the owner's time", Msi(true), Owner(RowAccess::Route::kOwnerSession, "", 3000),
       1, 0, 3000, 1618, {msi_as_bob + "3000", wait + "2000"}},
      {"a clock that wakes late past the owner's time leaves nothing", Msi(true),
       Owner(RowAccess::Route::kOwnerSession, "", 3000), 1, 0, 3000, 1618,
       {msi_as_bob + "3000", wait + "2000"}, 700},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = true;
    platform.launch_ms = 1000;
    platform.late_ms = c.late_ms;
    platform.installer_lock_held_until = c.held_until;
    int launches = 0;
    platform.on_launch = [&](const std::string&) {
      platform.installer_lock_held_until = platform.now_ms + c.held_after_ms;
      return ++launches <= c.busy_launches ? 1618 : 0;
    };
    testing::TakeLogLines();
    std::string remarks;
    EXPECT_EQ(Execute(platform, c.command, c.target, &remarks), c.result);
    EXPECT_EQ(platform.calls, c.calls);
    int retry_lines = 0;
    for (const auto& line : testing::TakeLogLines()) {
      retry_lines += line.message ==
                     "operation : ExecuteUninstallCommand; remarks : \"The uninstaller exited 1618: "
                     "another installation was in progress. Waiting for Windows Installer and trying "
                     "once more.\";";
    }
    EXPECT_EQ(retry_lines, 1);
  }
}

// Owners and DACLs as Windows ships them (Get-Acl's Sddl), and as installers and users leave them.
const char kProgramFiles[] =
    "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
    "D:PAI(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    "(A;CIIO;GA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"
    "(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
    "(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)";
const char kDriveRoot[] =
    "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
    "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;CI;LC;;;AU)(A;OICIIO;SDGXGWGR;;;AU)";
const char kProgramData[] =
    "O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;DCLCRPCR;;;BU)";
// A folder an installer created below ProgramData: it inherits "users may add files".
const char kProgramDataSubfolder[] =
    "O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)"
    "(A;CIID;DCLCRPCR;;;BU)";
const char kInstalledFile[] = "O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)";

TEST(CheckLaunchAsSystem, JudgesTheFileItsFolderAndEveryFolderAbove) {
  const std::string exe = "C:\\Program Files\\Contoso\\uninstall.exe";
  const std::string pd_exe = "C:\\ProgramData\\My App\\remove.exe";
  struct Case {
    const char* what;
    std::string file;
    std::map<std::string, std::string> sddl;
    std::map<std::string, AdministratorFacts> facts;
    bool refused;
    std::string path, account, right;
  };
  const std::map<std::string, std::string> program_files = {
      {"C:\\", kDriveRoot}, {"C:\\Program Files", kProgramFiles},
      {"C:\\Program Files\\Contoso", "O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)(A;OICIIOID;GA;;;CO)"},
      {exe, kInstalledFile}};
  auto with = [](std::map<std::string, std::string> base, const std::string& path, const std::string& sddl) {
    base[path] = sddl;
    return base;
  };
  const std::map<std::string, std::string> program_data = {
      {"C:\\", kDriveRoot}, {"C:\\ProgramData", kProgramData},
      {"C:\\ProgramData\\My App", kProgramDataSubfolder}, {pd_exe, kInstalledFile}};
  const Case cases[] = {
      {"an uninstaller under Program Files", exe, program_files, {}, false, "", "", ""},
      {"a folder below ProgramData: users may add files beside it", pd_exe, program_data, {}, true,
       "C:\\ProgramData\\My App", "BUILTIN\\Users (S-1-5-32-545)", "add file"},
      {"users may modify the product's folder", exe,
       with(program_files, "C:\\Program Files\\Contoso", "O:BAD:AI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)"),
       {}, true, "C:\\Program Files\\Contoso", "BUILTIN\\Users (S-1-5-32-545)", "add file"},
      {"users may write the file itself", exe,
       with(program_files, exe, "O:BAD:(A;;FA;;;BA)(A;;0x120116;;;BU)"), {}, true, exe,
       "BUILTIN\\Users (S-1-5-32-545)", "write"},
      {"a user owns the file", exe,
       with(program_files, exe, "O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)(A;;FA;;;SY)"), {}, true, exe,
       "S-1-5-21-1-2-3-1001", "owner"},
      {"a group the Administrators group lists owns the file, its own groups unknown", exe,
       with(program_files, exe, "O:S-1-5-21-1-2-3-512D:(A;;FA;;;BA)(A;;FA;;;SY)"),
       {{"S-1-5-21-1-2-3-512", {true, 1355, {}}}}, false, "", "", ""},
      {"a member through a nested group owns the file", exe,
       with(program_files, exe, "O:S-1-5-21-1-2-3-1105D:(A;;FA;;;BA)(A;;FA;;;SY)"),
       {{"S-1-5-21-1-2-3-1105", {false, 0, {{"S-1-5-21-1-2-3-512", 7}, {"S-1-5-32-544", 7}}}}},
       false, "", "", ""},
      {"an Entra ID account that is a member through a role may write the file", exe,
       with(program_files, exe, "O:BAD:(A;;FA;;;BA)(A;;FA;;;S-1-12-1-11-22-33-44)"),
       {{"S-1-12-1-11-22-33-44", {false, 0, {{"S-1-12-1-55-66-77-88", 7}, {"s-1-5-32-544", 15}}}}},
       false, "", "", ""},
      {"an account whose groups could not be read owns the file", exe,
       with(program_files, exe, "O:S-1-5-21-1-2-3-1107D:(A;;FA;;;BA)(A;;FA;;;SY)"),
       {{"S-1-5-21-1-2-3-1107", {false, 1355, {{"S-1-5-32-544", 7}}}}}, true, exe,
       "S-1-5-21-1-2-3-1107", "owner"},
      {"an account that holds Administrators only for deny may write the file", exe,
       with(program_files, exe, "O:BAD:(A;;FA;;;BA)(A;;FA;;;S-1-5-21-1-2-3-1108)"),
       {{"S-1-5-21-1-2-3-1108", {false, 0, {{"S-1-5-32-544", 0x14}}}}}, true, exe,
       "S-1-5-21-1-2-3-1108", "write"},
      {"a deny entry before the allow does not count", exe,
       with(program_files, exe, "O:BAD:(D;;FA;;;BU)(A;;FA;;;BA)(A;;0x1301bf;;;BU)"), {}, true, exe,
       "BUILTIN\\Users (S-1-5-32-545)", "write"},
      {"inherit-only CREATOR OWNER grants nothing on the folder", exe,
       with(program_files, "C:\\Program Files\\Contoso", "O:BAD:(A;;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICIIO;FA;;;BU)"),
       {}, false, "", "", ""},
      {"everyone may rename a folder above", exe,
       with(program_files, "C:\\Program Files", "O:BAD:(A;;FA;;;BA)(A;;SD;;;WD)"), {}, true,
       "C:\\Program Files", "Everyone (S-1-1-0)", "delete"},
      {"adding a file two folders up is harmless", exe,
       with(program_files, "C:\\Program Files", "O:BAD:(A;;FA;;;BA)(A;;0x116;;;BU)"), {}, false, "", "", ""},
      {"generic write on the file", exe, with(program_files, exe, "O:BAD:(A;;FA;;;BA)(A;;GW;;;AU)"),
       {}, true, exe, "S-1-5-11", "generic write"},
      {"no DACL at all", exe, with(program_files, exe, "O:BAD:NO_ACCESS_CONTROL"), {}, true, exe,
       "Everyone (S-1-1-0)", "full control (no DACL)"},
      {"an entry of unknown type", exe, with(program_files, exe, "O:BAD:(A;;FA;;;BA)(ZZ;;FA;;;BU)"),
       {}, true, exe, "BUILTIN\\Users (S-1-5-32-545)", "unrecognised entry"},
      {"users may add a subfolder beside it (<name>.exe.local)", exe,
       with(program_files, "C:\\Program Files\\Contoso", "O:BAD:(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;0x4;;;BU)"),
       {}, true, "C:\\Program Files\\Contoso", "BUILTIN\\Users (S-1-5-32-545)", "add subfolder"},
      {"users may append to the file", exe, with(program_files, exe, "O:BAD:(A;;FA;;;BA)(A;;0x4;;;BU)"), {},
       true, exe, "BUILTIN\\Users (S-1-5-32-545)", "append"},
      {"a user owns a folder on the path, not the file", exe,
       with(program_files, "C:\\Program Files", "O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)(A;;FA;;;SY)"), {}, true,
       "C:\\Program Files", "S-1-5-21-1-2-3-1001", "owner"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = true;
    platform.sddl = c.sddl;
    platform.administrator_facts = c.facts;
    platform.account_names = {{"S-1-5-32-545", "BUILTIN\\Users"}, {"S-1-1-0", "Everyone"}};
    testing::TakeLogLines();
    std::string remarks;
    const int result = Execute(platform, Exe(false, c.file, "/S"), Direct(c.file), &remarks);
    const auto lines = testing::TakeLogLines();
    if (!c.refused) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(platform.calls.size(), 1u);
      continue;
    }
    EXPECT_EQ(result, 5);
    EXPECT_TRUE(platform.calls.empty());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().level, LogLevel::kError);
    EXPECT_EQ(lines.back().message,
              "operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller not run as "
              "SYSTEM: an account that is not an administrator can change it or add files beside it\"; "
              "file_path : \"" + c.path + "\"; account : \"" + c.account + "\"; right : \"" + c.right + "\";");
    EXPECT_EQ(remarks, "Uninstaller not run as SYSTEM: " + c.account + " has " + c.right + " on " + c.path + ".");
  }
}

TEST(CheckLaunchAsSystem, OnlyDirectLaunchesOfExecutablesAsSystemAreJudged) {
  struct Case {
    const char* what;
    bool system;
    UninstallCommand command;
    LaunchTarget target;
    size_t reads;
  };
  const std::string pd_exe = "C:\\ProgramData\\My App\\remove.exe";
  const Case cases[] = {
      {"machine-wide executable as SYSTEM: file, folder, ProgramData, C:\\", true,
       Exe(false, pd_exe, ""), Direct(pd_exe), 4},
      {"the same run by hand", false, Exe(false, pd_exe, ""), Direct(pd_exe), 0},
      {"msiexec from the system directory", true, Msi(false), Direct(), 0},
      {"a per-user row in its owner's session", true, Exe(true, pd_exe, ""),
       Owner(RowAccess::Route::kOwnerSession, pd_exe), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = c.system;
    std::string remarks;
    Execute(platform, c.command, c.target, &remarks);
    EXPECT_EQ(platform.security_reads.size(), c.reads);
  }

  FakeLaunchPlatform unreadable;
  unreadable.system = true;
  unreadable.unreadable_security = {"C:\\ProgramData"};
  std::string remarks;
  testing::TakeLogLines();
  EXPECT_EQ(Execute(unreadable, Exe(false, pd_exe, ""), Direct(pd_exe), &remarks), 5);
  EXPECT_TRUE(unreadable.calls.empty());
  EXPECT_EQ(testing::TakeLogLines().back().message,
            "operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller not run as SYSTEM: "
            "the owner and permissions of a path could not be read\"; file_path : \"C:\\ProgramData\"; "
            "error_code : 5;");
}

TEST(CheckLaunchAsSystem, AsksOnlyAboutOwnersAndAccountsWithADangerousRight) {
  const std::string exe = "C:\\Program Files\\Contoso\\uninstall.exe";
  FakeLaunchPlatform platform;
  platform.system = true;
  // Users may read everywhere; one account may rename the product's folder.
  platform.sddl = {{"C:\\Program Files\\Contoso",
                    "O:S-1-5-21-1-2-3-500D:(A;;FA;;;SY)(A;;0x1200a9;;;BU)(A;;SD;;;S-1-5-21-1-2-3-1001)"}};
  platform.administrator_facts = {{"S-1-5-21-1-2-3-500", {true, 0, {}}},
                                  {"S-1-5-21-1-2-3-1001", {true, 0, {}}}};
  std::string remarks;
  EXPECT_EQ(Execute(platform, Exe(false, exe, ""), Direct(exe), &remarks), 0);
  EXPECT_EQ(platform.administrator_queries,
            (std::vector<std::string>{"S-1-5-21-1-2-3-500", "S-1-5-21-1-2-3-1001"}));
}

TEST(CheckLaunchAsSystem, WalksDownFromTheRootAndStopsAtTheFirstProblem) {
  const std::string pd_exe = "C:\\ProgramData\\My App\\remove.exe";
  struct Case {
    const char* what;
    std::set<std::string> links;
    std::map<std::string, std::string> sddl;
    std::vector<std::string> reads;
    std::string last_line;
  };
  const std::string refused = "operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller not run as SYSTEM: ";
  const Case cases[] = {
      {"a folder users may add files to: its content is never opened", {},
       {{"C:\\ProgramData\\My App", kProgramDataSubfolder}},
       {"C:\\", "C:\\ProgramData", "C:\\ProgramData\\My App"},
       refused + "an account that is not an administrator can change it or add files beside it\"; file_path : "
                 "\"C:\\ProgramData\\My App\"; account : \"S-1-5-32-545\"; right : \"add file\";"},
      {"a link on the way, however it is protected", {"C:\\ProgramData\\My App"}, {},
       {"C:\\", "C:\\ProgramData", "C:\\ProgramData\\My App"},
       refused + "the path goes through a link (reparse point)\"; file_path : \"C:\\ProgramData\\My App\";"},
      {"the file itself is a link", {pd_exe}, {},
       {"C:\\", "C:\\ProgramData", "C:\\ProgramData\\My App", pd_exe},
       refused + "the path goes through a link (reparse point)\"; file_path : \"" + pd_exe + "\";"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = true;
    platform.links = c.links;
    platform.sddl = c.sddl;
    std::string remarks;
    testing::TakeLogLines();
    EXPECT_EQ(Execute(platform, Exe(false, pd_exe, ""), Direct(pd_exe), &remarks), 5);
    EXPECT_EQ(platform.security_reads, c.reads);
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_EQ(testing::TakeLogLines().back().message, c.last_line);
  }
}

std::string Hex(unsigned long mask) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lx", mask);
  return text;
}

TEST(CheckLaunchAsSystem, EachRightThatMakesAFolderAboveDangerousCountsAlone) {
  const std::string exe = "C:\\Program Files\\Contoso\\uninstall.exe";
  const struct { unsigned long mask; const char* right; } rows[] = {
      {0x10000, "delete"}, {0x40, "delete child"}, {0x40000, "change permissions"},
      {0x80000, "take ownership"}, {0x2000000, "maximum allowed"}, {0x10000000, "full control"},
      {0x40000000, "generic write"},
      // Adding files or subfolders two levels up changes nothing below.
      {0x2, nullptr}, {0x4, nullptr}, {0x1200a9, nullptr}};
  for (const auto& row : rows) {
    SCOPED_TRACE(Hex(row.mask));
    FakeLaunchPlatform platform;
    platform.system = true;
    platform.sddl["C:\\Program Files"] = "O:BAD:(A;;FA;;;BA)(A;;" + Hex(row.mask) + ";;;BU)";
    testing::TakeLogLines();
    std::string remarks;
    const int result = Execute(platform, Exe(false, exe, ""), Direct(exe), &remarks);
    if (!row.right) {
      EXPECT_EQ(result, 0);
      continue;
    }
    EXPECT_EQ(result, 5);
    EXPECT_EQ(remarks, std::string("Uninstaller not run as SYSTEM: S-1-5-32-545 has ") + row.right +
                           " on C:\\Program Files.");
  }
}

TEST(CheckLaunchAsSystem, OwnersAndPermissionsCountOnlyOnAFixedLocalDisk) {
  const std::string exe = "D:\\Apps\\uninstall.exe";
  const struct { const char* what; VolumeFacts volume; std::string reason; } rows[] = {
      {"a fixed SATA disk", {3, 0, false, 0xB, true, false, false}, ""},
      {"a fixed NVMe disk whose hot-plug facts Windows does not give", {3, 0, false, 0x11}, ""},
      {"a removable drive", {2}, "not a fixed disk (drive type 2)"},
      {"a network drive", {4}, "not a fixed disk (drive type 4)"},
      {"a stick that calls itself fixed, on USB", {3, 0, false, 7}, "a device on an external bus (bus type 7)"},
      {"an SD card", {3, 0, false, 0xC}, "a device on an external bus (bus type 12)"},
      {"removable media", {3, 0, true, 1}, "removable media"},
      {"a disk that can be unplugged", {3, 0, false, 0xB, true, false, true},
       "a device that can be unplugged while Windows runs"},
      {"a device that cannot be asked", {3, 50}, "its device could not be asked what it is (error 50)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    FakeLaunchPlatform platform;
    platform.system = true;
    platform.volumes["D:\\"] = row.volume;
    testing::TakeLogLines();
    std::string remarks;
    const int result = Execute(platform, Exe(false, exe, ""), Direct(exe), &remarks);
    EXPECT_EQ(platform.volume_reads, std::vector<std::string>{"D:\\"});
    if (row.reason.empty()) {
      EXPECT_EQ(result, 0);
      continue;
    }
    EXPECT_EQ(result, 5);
    EXPECT_TRUE(platform.security_reads.empty());  // nothing on such a volume is judged
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_EQ(testing::TakeLogLines().back().message,
              "operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller not run as SYSTEM: it "
              "is not on a fixed local disk, where owners and permissions would tell who can change it\"; "
              "file_path : \"D:\\\"; reason : \"" + row.reason + "\";");
  }
}

TEST(CheckLaunchAsSystem, TheCheckedFileIsHeldUntilItHasStarted) {
  const std::string exe = "C:\\App\\u.exe";
  FakeLaunchPlatform platform;
  platform.system = true;
  std::string remarks;
  // Judged through the handle that holds it, after its folders, and held when it is started.
  EXPECT_EQ(Execute(platform, Exe(false, exe, ""), Direct(exe), &remarks), 0);
  EXPECT_EQ(platform.security_reads, (std::vector<std::string>{"C:\\", "C:\\App", exe}));
  EXPECT_EQ(platform.holds, std::vector<std::string>{exe});
  EXPECT_EQ(platform.held_at_launch, std::vector<std::string>{exe});
  EXPECT_TRUE(platform.held().empty());

  // A hold the row made before its guard is the one the launch gets; nothing is judged again.
  FakeLaunchPlatform prepared;
  prepared.system = true;
  const FileToRun ready = PrepareFileToRun(prepared, RowAccess(), exe);
  ASSERT_NE(ready.held, 0u);
  EXPECT_EQ(prepared.held(), std::set<std::string>{exe});
  LaunchTarget target = Direct(exe);
  target.held_file = ready.held;
  prepared.security_reads.clear();
  EXPECT_EQ(Execute(prepared, Exe(false, exe, ""), target, &remarks), 0);
  EXPECT_TRUE(prepared.security_reads.empty());
  EXPECT_EQ(prepared.held_at_launch, std::vector<std::string>{exe});

  // Open for writing elsewhere: it cannot be held, and is not run.
  FakeLaunchPlatform busy;
  busy.system = true;
  busy.hold_errors[exe] = 32;
  testing::TakeLogLines();
  EXPECT_EQ(Execute(busy, Exe(false, exe, ""), Direct(exe), &remarks), 5);
  EXPECT_TRUE(busy.calls.empty());
  EXPECT_EQ(testing::TakeLogLines().back().message,
            "operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller not run as SYSTEM: "
            "the owner and permissions of a path could not be read\"; file_path : \"" + exe + "\"; error_code : 32;");

  // A second launch after 1618 is judged and held anew: the first one let the file go.
  FakeLaunchPlatform again;
  again.system = true;
  int launches = 0;
  again.on_launch = [&](const std::string&) { return ++launches == 1 ? 1618 : 0; };
  EXPECT_EQ(Execute(again, Exe(false, exe, ""), Direct(exe), &remarks), 0);
  EXPECT_EQ(again.holds, (std::vector<std::string>{exe, exe}));
  EXPECT_EQ(again.held_at_launch, (std::vector<std::string>{exe, exe}));
  EXPECT_TRUE(again.held().empty());

  // Run by hand, nothing is held.
  FakeLaunchPlatform by_hand;
  EXPECT_EQ(Execute(by_hand, Exe(false, exe, ""), Direct(exe), &remarks), 0);
  EXPECT_EQ(by_hand.held_at_launch, std::vector<std::string>{""});
}

TEST(ExecuteUninstallCommand, APerUserLaunchRunsOnlyTheFileItsOwnersPathNamed) {
  const std::string exe = "C:\\Users\\bob\\u.exe";
  const FileIdentity probed{0x5A, 77};
  struct Case {
    const char* what;
    UninstallCommand command;
    std::optional<FileIdentity> identity;  // as the row's probe read it
    std::map<std::string, FileIdentity> launched;  // what the launch was really created from
    std::map<std::string, unsigned long> identity_errors;
    int result;
    bool ran;
    std::string image;  // the identity the launch was bound to
  };
  const Case cases[] = {
      {"bound to the identity the owner's probe read", Exe(true, exe, ""), probed, {{exe, probed}}, {}, 0,
       true, "90:77"},
      {"a folder on its path swapped after the probe", Exe(true, exe, ""), probed, {}, {}, 1006, false,
       "90:77"},
      {"without a probe, read as the owner at launch", Exe(true, exe, ""), std::nullopt, {}, {}, 0, true,
       FakeLaunchPlatform::Text(FakeLaunchPlatform().IdentityOf(exe))},
      {"the owner cannot open it", Exe(true, exe, ""), std::nullopt, {}, {{exe, 5}}, 5, false, ""},
      {"msiexec is not the owner's file", Msi(true), std::nullopt, {}, {{kMsiexec, 5}}, 0, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = true;
    platform.launched_images = c.launched;
    platform.identity_errors = c.identity_errors;
    bool ran = false;
    platform.on_launch = [&](const std::string&) {
      ran = true;
      return 0;
    };
    LaunchTarget target = Owner(RowAccess::Route::kOwnerSession, c.command.is_msi ? "" : exe);
    target.identity = c.identity;
    std::string remarks;
    EXPECT_EQ(Execute(platform, c.command, target, &remarks), c.result);
    EXPECT_EQ(ran, c.ran);
    if (c.result == 5) {
      EXPECT_TRUE(platform.calls.empty());
      EXPECT_EQ(remarks, "Not started: " + exe + " could not be identified as its owner sees it.");
      continue;
    }
    EXPECT_EQ(platform.images, std::vector<std::string>{c.image});
    // Read as the owner, never as SYSTEM.
    for (const std::string& probe : platform.probes) EXPECT_NE(probe.find(" as 3"), std::string::npos) << probe;
  }
}

TEST(FindOwnerSession, NameOrderDecidesAmongTheOwnersSessions) {
  const SessionList sessions = {{"Bob", {7, "s-1-5-21-9"}}, {"bob", {8, "S-1-5-21-9"}}, {"ann", {9, "S-1-5-21-8"}}};
  ASSERT_NE(FindOwnerSession(sessions, "S-1-5-21-9"), nullptr);
  EXPECT_EQ(FindOwnerSession(sessions, "S-1-5-21-9")->session_id, 7u);
  EXPECT_EQ(FindOwnerSession(sessions, "S-1-5-21-7"), nullptr);
  EXPECT_EQ(FindOwnerSession(sessions, ""), nullptr);
  EXPECT_EQ(FindOwnerSession({{"x", {4, ""}}}, ""), nullptr);  // an unread SID never matches
}

}  // namespace
}  // namespace varnok
