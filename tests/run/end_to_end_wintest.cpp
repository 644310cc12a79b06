// The real program, started as a process in the prefix, against real installers and rows.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/win/program_test.h"

namespace varnok {
namespace {

using testing::Quote;
using testing::RunCommand;
using testing::ScratchRows;
using testing::ToolPath;

bool RowExists(HKEY root, REGSAM view, const std::string& key) {
  win32::UniqueRegKey opened;
  const std::string path = std::string(testing::kUninstall) + "\\" + key;
  return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, opened.put()) == ERROR_SUCCESS;
}

std::string ProgramFiles() {
  char dir[MAX_PATH] = {};
  // The installers' architecture follows the build's (see the fixture rules).
  GetEnvironmentVariableA(sizeof(void*) == 8 ? "ProgramW6432" : "ProgramFiles(x86)", dir, MAX_PATH);
  if (dir[0] == '\0') GetEnvironmentVariableA("ProgramFiles", dir, MAX_PATH);
  return dir;
}

using EndToEnd = testing::ProgramTest;

const REGSAM kDemoView = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

TEST_F(EndToEnd, NsisProductRemovedByRangeRuleSoonAfterItsRowLeaves) {
  ASSERT_EQ(RunCommand(Quote(ToolPath("demoapp-setup.exe")) + " /S").exit_code, 0u);
  ASSERT_TRUE(RowExists(HKEY_LOCAL_MACHINE, kDemoView, "VarnokDemoApp"));
  const std::string folder = ProgramFiles() + "\\Varnok Demo App";
  ASSERT_TRUE(testing::FileExists(folder + "\\DemoApp.exe"));

  const testing::RunResult run =
      RunProgram("-displayName \"Varnok Demo App\" -matchType Range -minVersion 1.0 -maxVersion 2.0");
  EXPECT_EQ(run.exit_code, 0u) << log_;
  EXPECT_TRUE(Logged("remarks : \"Shared uninstall.exe folder: " + folder + "\";")) << log_;
  EXPECT_TRUE(Logged("remarks : \"Main EXE: " + folder + "\\DemoApp.exe; Main EXE version: 1.5.0.0;\";"));
  EXPECT_TRUE(Logged("Main EXE version matches the rule. Safe to use uninstall.exe."));
  EXPECT_TRUE(Logged("installer_type : \"EXE\"; command : \"\"" + folder + "\\Uninstall.exe\" /S\";"));
  // NSIS's uninstaller hands its work to a copy of itself and returns at once.
  EXPECT_TRUE(Logged("Registry after exponential backoff does not exists") ||
              Logged("VERIFY: registry key gone. SUCCESS."));
  EXPECT_TRUE(Logged("status : summary; name_hits : 1; version_hits : 1; skipped_version : 0; success : 1; failed : 0;"));
  EXPECT_FALSE(RowExists(HKEY_LOCAL_MACHINE, kDemoView, "VarnokDemoApp"));
  EXPECT_FALSE(testing::FileExists(folder + "\\DemoApp.exe"));
  // The wait wakes when the row leaves, not after 30 s.
  EXPECT_LT(run.elapsed_ms, 10000u);
  std::printf("NSIS removal took %llu ms\n", run.elapsed_ms);
}

TEST_F(EndToEnd, NsisProductUnderWhatIfStaysInstalled) {
  ASSERT_EQ(RunCommand(Quote(ToolPath("demoapp-setup.exe")) + " /S").exit_code, 0u);
  const testing::RunResult run = RunProgram(
      "-displayName \"Varnok Demo App\" -matchType Range -minVersion 1.0 -maxVersion 2.0 -whatIf");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_TRUE(Logged("remarks : \"WHATIF: would uninstall Varnok Demo App.\";"));
  EXPECT_TRUE(RowExists(HKEY_LOCAL_MACHINE, kDemoView, "VarnokDemoApp"));
  EXPECT_TRUE(testing::FileExists(ProgramFiles() + "\\Varnok Demo App\\DemoApp.exe"));
  // Leave the prefix as it was.
  RunCommand(Quote(ProgramFiles() + "\\Varnok Demo App\\Uninstall.exe") + " /S _?=" +
             ProgramFiles() + "\\Varnok Demo App");
}

const char kCode[] = "{5A1E0C2B-7D3F-4E8A-9B61-3C2D4F5E6A71}";

// Installs the Windows Installer fixture; its row lands in the 32-bit view.
void InstallTinyMsi() {
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  const std::string msiexec = Quote(std::string(system) + "\\msiexec.exe");
  ASSERT_EQ(RunCommand(msiexec + " /i " + Quote(ToolPath("tinymsi.msi")) + " /qn /norestart").exit_code, 0u);
  ASSERT_TRUE(RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kCode));
}

TEST_F(EndToEnd, MsiRemovedThroughMsiexecBySeriesRule) {
  ASSERT_NO_FATAL_FAILURE(InstallTinyMsi());

  const testing::RunResult run = RunProgram("-displayName \"Varnok Tiny Msi\" -matchType Series -seriesPrefix 2.3");
  EXPECT_EQ(run.exit_code, 0u) << log_;
  EXPECT_TRUE(Logged(std::string("installer_type : \"MSI\"; command : \"msiexec.exe /X ") + kCode + " /qn /norestart\";"));
  EXPECT_TRUE(Logged("remarks : \"VERIFY: registry key gone. SUCCESS.\";"));
  EXPECT_FALSE(RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kCode));
  char pf86[MAX_PATH] = {};
  GetEnvironmentVariableA("ProgramFiles(x86)", pf86, MAX_PATH);
  EXPECT_FALSE(testing::FileExists(std::string(pf86) + "\\VarnokTinyMsi\\readme.txt"));
}

TEST_F(EndToEnd, ARowThatLeavesTwoSecondsAfterItsUninstallerReturnedIsSeenAtOnce) {
  testing::TempDir apps;
  const std::string exe = apps / "exit_with.exe";
  ASSERT_TRUE(CopyFileA(ToolPath("exit_with.exe").c_str(), exe.c_str(), FALSE));
  ScratchRows rows;
  auto key = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "later");
  ScratchRows::SetText(key.get(), "DisplayName", "Varnok Later");
  ScratchRows::SetText(key.get(), "DisplayVersion", "1.0");
  // Returns at once; a helper it started removes the row 2 s later.
  ScratchRows::SetText(key.get(), "UninstallString",
                       Quote(exe) + " 0 --child \"0 --sleep 2000 --delete-row HKLM32 " +
                           rows.Name("later") + "\"");

  const testing::RunResult run = RunProgram("-displayName \"Varnok Later\" -matchType Exact -exactVersion 1.0");
  EXPECT_EQ(run.exit_code, 0u) << log_;
  EXPECT_TRUE(Logged("remarks : \"VERIFY: process ok but registry key still present. Check manually.\";")) << log_;
  EXPECT_TRUE(Logged("remarks : \"Registry after exponential backoff does not exists\""));
  EXPECT_TRUE(Logged("status : summary; name_hits : 1; version_hits : 1; skipped_version : 0; success : 1; failed : 0;"));
  EXPECT_LT(run.elapsed_ms, 6000u);
  std::printf("run took %llu ms\n", run.elapsed_ms);
}

TEST_F(EndToEnd, MsiRemovalWaitsForAnotherInstallationToReleaseTheInstallerLock) {
  ASSERT_NO_FATAL_FAILURE(InstallTinyMsi());

  // Another installation holds Windows Installer's lock for 5 s.
  testing::Child installation(Quote(ToolPath("exit_with.exe")) + " 0 --hold-mutex Global\\_MSIExecute 5000");
  for (int i = 0; i < 100; ++i) {
    win32::UniqueHandle lock(OpenMutexA(SYNCHRONIZE, FALSE, "Global\\_MSIExecute"));
    if (lock) break;
    Sleep(20);
  }
  const testing::RunResult run = RunProgram("-displayName \"Varnok Tiny Msi\" -matchType Series -seriesPrefix 2.3");
  EXPECT_EQ(installation.Wait(10000), 0u);
  EXPECT_EQ(run.exit_code, 0u) << log_;
  const size_t begins = log_.find("remarks : \"Windows Installer is busy with another installation "
                                  "(Global\\_MSIExecute is held). Waiting for it.\"; wait_limit_ms : 600000;");
  const size_t ends = log_.find("remarks : \"Windows Installer is free. Starting the removal.\"; waited_ms : ");
  const size_t launch = log_.find("operation : ExecuteFile; remarks : \"Process created successfully.");
  ASSERT_NE(begins, std::string::npos) << log_;
  ASSERT_NE(ends, std::string::npos) << log_;
  EXPECT_LT(begins, ends);
  EXPECT_LT(ends, launch);
  const int waited = std::atoi(log_.c_str() + log_.find("waited_ms : ", ends) + 12);
  EXPECT_GE(waited, 3000);
  EXPECT_LT(waited, 7000);
  EXPECT_TRUE(Logged("remarks : \"VERIFY: registry key gone. SUCCESS.\";"));
  EXPECT_FALSE(RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kCode));
}

TEST_F(EndToEnd, AnUninstallerThatExits1618IsRunAgainOnceWindowsInstallerIsFree) {
  // Another installation holds Windows Installer's lock for 3 s (with a DACL that grants
  // waiting only, too); or the lock cannot be opened for 3 s, its name taken for an event.
  const std::string busy = "remarks : \"Windows Installer is busy with another installation "
                           "(Global\\_MSIExecute is held). Waiting for it.\"; wait_limit_ms : 600000;";
  const std::pair<std::string, std::string> cases[] = {
      {"--hold-mutex Global\\_MSIExecute 3000", busy},
      {"--hold-mutex-dacl Global\\_MSIExecute D:P(A;;0x100000;;;WD) 3000", busy},  // SYNCHRONIZE
      {"--hold-event Global\\_MSIExecute 3000",
       "remarks : \"Windows Installer's lock (Global\\_MSIExecute) could not be opened. Trying again, "
       "within this run's wait.\"; error_code : 6;"},
  };
  for (const auto& [hold, waiting] : cases) {
    SCOPED_TRACE(hold);
    DeleteFileA(log_path_.c_str());
    testing::TempDir apps;
    const std::string exe = apps / "exit_with.exe";
    ASSERT_TRUE(CopyFileA(ToolPath("exit_with.exe").c_str(), exe.c_str(), FALSE));
    ScratchRows rows;
    auto key = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "busy");
    ScratchRows::SetText(key.get(), "DisplayName", "Varnok Busy");
    ScratchRows::SetText(key.get(), "DisplayVersion", "1.0");
    // 1618 at once the first time; the second time it removes its row.
    ScratchRows::SetText(key.get(), "UninstallString",
                         Quote(exe) + " 0 --first-run " + Quote(apps / "ran") + " 1618 --delete-row HKLM32 " +
                             rows.Name("busy"));
    testing::Child installation(Quote(ToolPath("exit_with.exe")) + " 0 " + hold);
    for (int i = 0; i < 100; ++i) {
      win32::UniqueHandle lock(OpenMutexA(SYNCHRONIZE, FALSE, "Global\\_MSIExecute"));
      if (lock || GetLastError() != ERROR_FILE_NOT_FOUND) break;
      Sleep(20);
    }
    const testing::RunResult run = RunProgram("-displayName \"Varnok Busy\" -matchType Exact -exactVersion 1.0");
    EXPECT_EQ(installation.Wait(10000), 0u);
    EXPECT_EQ(run.exit_code, 0u) << log_;
    const size_t retry = log_.find("remarks : \"The uninstaller exited 1618: another installation was in "
                                   "progress. Waiting for Windows Installer and trying once more.\";");
    const size_t waits = log_.find(waiting, retry);
    const size_t free = log_.find("remarks : \"Windows Installer is free. Starting the removal.\";", waits);
    ASSERT_NE(retry, std::string::npos) << log_;
    ASSERT_NE(waits, std::string::npos) << log_;
    ASSERT_NE(free, std::string::npos) << log_;
    EXPECT_EQ(log_.find("operation : app_varnok; exit_code : 1618;"), std::string::npos);
    EXPECT_TRUE(Logged("remarks : \"VERIFY: registry key gone. SUCCESS.\";"));
    EXPECT_FALSE(RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, rows.Name("busy")));
  }
}

TEST_F(EndToEnd, NoNameMatchListsNearMisses) {
  ScratchRows rows;
  for (int i = 0; i < 3; ++i) {
    auto key = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "near" + std::to_string(i));
    ScratchRows::SetText(key.get(), "DisplayName", "Varnok Nearby " + std::to_string(i));
    ScratchRows::SetText(key.get(), "DisplayVersion", "4." + std::to_string(i));
  }
  const testing::RunResult run = RunProgram("-displayName \"Varnok Nearby\" -matchType Exact -exactVersion 4.0");
  EXPECT_EQ(run.exit_code, 51001u);
  EXPECT_TRUE(Logged("status : failure; remarks : \"Application not found (NameMatch=Exact, pattern=[Varnok Nearby]).\"; return_value : 51001;"));
  EXPECT_TRUE(Logged("remarks : \"similar (not used): Varnok Nearby 2; version=4.2;\";"));
  EXPECT_FALSE(Logged("status : summary;"));
}

TEST_F(EndToEnd, FailuresAndSuccessesInOneRun) {
  testing::TempDir apps;
  const std::string exe = apps / "exit_with.exe";
  ASSERT_TRUE(CopyFileA(ToolPath("exit_with.exe").c_str(), exe.c_str(), FALSE));
  ScratchRows rows;
  auto add = [&](HKEY root, REGSAM view, const std::string& suffix, const std::string& version,
                 const std::string& uninstall) {
    auto key = rows.Create(root, view, suffix);
    ScratchRows::SetText(key.get(), "DisplayName", "Varnok Mixed");
    ScratchRows::SetText(key.get(), "DisplayVersion", version);
    ScratchRows::SetText(key.get(), "UninstallString", uninstall);
  };
  add(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "fails", "1.0", Quote(exe) + " 1603");
  add(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "reboot", "1.0",
      Quote(exe) + " 3010 --delete-row HKLM32 " + rows.Name("reboot"));
  add(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "missing", "1.0", Quote(apps / "gone\\uninst.exe") + " /x");
  add(HKEY_CURRENT_USER, 0, "user", "1.0", Quote(exe) + " 0 --delete-row HKCU " + rows.Name("user"));
  add(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "old", "0.9", Quote(exe) + " 0");

  const testing::RunResult run = RunProgram("-displayName \"Varnok Mixed\" -matchType Exact -exactVersion 1.0");
  EXPECT_EQ(run.exit_code, 51006u) << log_;
  EXPECT_TRUE(Logged("remarks : \"VERIFY: uninstall failed. exit_code : 1603; remarks : \";"));
  EXPECT_TRUE(Logged("remarks : \"VERIFY: uninstall failed. exit_code : 51005; remarks : Uninstall executable not found on disk: " +
                     (apps / "gone\\uninst.exe") + ". Files may already be removed; only a leftover registry entry remains.\";"));
  EXPECT_TRUE(Logged("operation : app_varnok; exit_code : 3010;"));
  EXPECT_TRUE(Logged("arch : \"per-user\"; display_name : \"Varnok Mixed\""));
  EXPECT_TRUE(Logged("status : summary; name_hits : 5; version_hits : 4; skipped_version : 1; success : 2; failed : 2;"));
  EXPECT_FALSE(RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, rows.Name("reboot")));
  EXPECT_FALSE(RowExists(HKEY_CURRENT_USER, 0, rows.Name("user")));
  EXPECT_TRUE(RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, rows.Name("old")));
}

std::string Variable(const char* name) {
  char value[MAX_PATH] = {};
  return GetEnvironmentVariableA(name, value, MAX_PATH) ? value : "";
}

// A folder the test makes for a copy of exit_with.exe; both are removed at the end.
struct ToolFolder {
  explicit ToolFolder(const std::string& path) : exe(path + "\\exit_with.exe") {
    CreateDirectoryA(path.c_str(), nullptr);
    CopyFileA(ToolPath("exit_with.exe").c_str(), exe.c_str(), FALSE);
  }
  ~ToolFolder() {
    DeleteFileA(exe.c_str());
    RemoveDirectoryA(exe.substr(0, exe.rfind('\\')).c_str());
  }
  const std::string exe;
};

TEST_F(EndToEnd, ExpandSzRowsRunWhatTheirVariablesStandFor) {
  ScratchRows rows;
  const std::string folder = rows.Name("expand");
  // A row of the 64-bit view means the 64-bit program folder, whatever this program's own
  // %ProgramFiles% names.
  const ToolFolder machine(Variable("ProgramW6432") + "\\" + folder);
  const ToolFolder user(Variable("LOCALAPPDATA") + "\\" + folder);
  ASSERT_TRUE(testing::FileExists(machine.exe));
  ASSERT_TRUE(testing::FileExists(user.exe));
  const auto add = [&](HKEY root, REGSAM view, const std::string& suffix, const std::string& uninstall) {
    auto key = rows.Create(root, view, suffix);
    ScratchRows::SetText(key.get(), "DisplayName", "Varnok Expand");
    ScratchRows::SetText(key.get(), "DisplayVersion", "1.0");
    ScratchRows::Set(key.get(), "UninstallString", REG_EXPAND_SZ, uninstall + '\0');
    return key;
  };
  const std::string machine_args = " 0 --delete-row HKLM64 " + rows.Name("machine");
  auto machine_row = add(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "machine",
                         "\"%ProgramFiles%\\" + folder + "\\exit_with.exe\"" + machine_args);
  ScratchRows::Set(machine_row.get(), "InstallLocation", REG_EXPAND_SZ, "%ProgramFiles%\\" + folder + '\0');
  const std::string user_args = " 0 --delete-row HKCU " + rows.Name("user");
  add(HKEY_CURRENT_USER, 0, "user", "\"%LOCALAPPDATA%\\" + folder + "\\exit_with.exe\"" + user_args);
  const std::string undefined = "\"%VARNOK_UNDEFINED%\\exit_with.exe\" 0 --delete-row HKLM32 " + rows.Name("undefined");
  add(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "undefined", undefined);

  const testing::RunResult run = RunProgram("-displayName \"Varnok Expand\" -matchType Exact -exactVersion 1.0");
  EXPECT_EQ(run.exit_code, 51006u) << log_;
  EXPECT_TRUE(Logged("value_name : \"UninstallString\"; environment : \"system\"; expanded : \"" +
                     Quote(machine.exe) + machine_args + "\";")) << log_;
  EXPECT_TRUE(Logged("value_name : \"InstallLocation\"; environment : \"system\"; expanded : \"" +
                     Variable("ProgramW6432") + "\\" + folder + "\";"));
  EXPECT_TRUE(Logged("value_name : \"UninstallString\"; environment : \"process user\"; expanded : \"" +
                     Quote(user.exe) + user_args + "\";"));
  EXPECT_TRUE(Logged("remarks : \"REG_EXPAND_SZ value still holds a % once expanded (a variable its environment "
                     "does not define); nothing of the row is run\"; value_name : \"UninstallString\"; stored : \"" +
                     undefined + "\"; error_code : 203;"));
  EXPECT_TRUE(Logged("status : summary; name_hits : 3; version_hits : 3; skipped_version : 0; success : 2; failed : 1;"));
  EXPECT_FALSE(RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, rows.Name("machine")));
  EXPECT_FALSE(RowExists(HKEY_CURRENT_USER, 0, rows.Name("user")));
  EXPECT_TRUE(RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, rows.Name("undefined")));
}

TEST_F(EndToEnd, VersionMissEndsWith51002) {
  ScratchRows rows;
  auto key = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "v");
  ScratchRows::SetText(key.get(), "DisplayName", "Varnok Versioned");
  ScratchRows::SetText(key.get(), "DisplayVersion", "3.1");
  const testing::RunResult run = RunProgram("-displayName \"Varnok Versioned\" -matchType Series -seriesPrefix 2");
  EXPECT_EQ(run.exit_code, 51002u);
  EXPECT_TRUE(Logged("Version candidate [3.1]: Series miss: installed=3.1 prefix=2"));
}

TEST_F(EndToEnd, PythonBundleComesBeforeItsComponentsUnderWhatIf) {
  ScratchRows rows;
  auto add = [&](const std::string& suffix, const std::string& name, const std::string& uninstall, bool msi) {
    auto key = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, suffix);
    ScratchRows::SetText(key.get(), "DisplayName", name);
    ScratchRows::SetText(key.get(), "DisplayVersion", "3.12.1150.0");
    ScratchRows::SetText(key.get(), "UninstallString", uninstall);
    if (msi) {
      const DWORD one = 1;
      ScratchRows::Set(key.get(), "WindowsInstaller", REG_DWORD, std::string(reinterpret_cast<const char*>(&one), 4));
    }
  };
  add("a-core", "Python 3.12.1 Core Interpreter (64-bit)", "MsiExec.exe /I{A1111111-2222-3333-4444-555555555555}", true);
  add("b-tcl", "Python 3.12.1 Tcl/Tk Support (64-bit)", "MsiExec.exe /I{B1111111-2222-3333-4444-555555555555}", true);
  add("c-bundle", "Python 3.12.1 (64-bit)",
      "\"C:\\ProgramData\\Package Cache\\{C1}\\python-3.12.1-amd64.exe\" /uninstall", false);
  add("d-pip", "Python 3.12.1 pip Bootstrap (64-bit)", "MsiExec.exe /I{D1111111-2222-3333-4444-555555555555}", true);
  const testing::RunResult run = RunProgram("-displayName \"Python 3.12.1\" -nameMatch Prefix -matchType Series -seriesPrefix 3.12 -whatIf");
  EXPECT_EQ(run.exit_code, 0u) << log_;
  const size_t bundle = log_.find("display_name : \"Python 3.12.1 (64-bit)\"");
  const size_t pip = log_.find("display_name : \"Python 3.12.1 pip Bootstrap (64-bit)\"");
  const size_t tcl = log_.find("display_name : \"Python 3.12.1 Tcl/Tk Support (64-bit)\"");
  const size_t core = log_.find("display_name : \"Python 3.12.1 Core Interpreter (64-bit)\"");
  ASSERT_NE(core, std::string::npos);
  EXPECT_LT(bundle, pip);
  EXPECT_LT(pip, tcl);
  EXPECT_LT(tcl, core);
  EXPECT_TRUE(Logged("SKIP: main bundle already handled this product (Python 3.12.1|3.12.1150.0)."));
}

}  // namespace
}  // namespace varnok
