#include "process/private_temp.h"

#include <gtest/gtest.h>

#include "process/uninstall_execution.h"
#include "support/host/fake_launch_platform.h"
#include "support/host/log_capture.h"

namespace varnok {
namespace {

using testing::FakeLaunchPlatform;

const std::string kFolder = "C:\\Windows\\Temp\\private-1";

TEST(EnvironmentWithTemp, TempAndTmpPointToTheFolderWhateverTheirCase) {
  struct Case {
    const char* what;
    std::vector<std::string> environment;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"replaced, in Windows' order",
       {"=C:=C:\\w", "ALLUSERSPROFILE=C:\\ProgramData", "Path=C:\\Windows", "TEMP=C:\\Windows\\TEMP",
        "tmp=C:\\Windows\\TEMP", "windir=C:\\Windows"},
       {"=C:=C:\\w", "ALLUSERSPROFILE=C:\\ProgramData", "Path=C:\\Windows", "TEMP=F", "TMP=F",
        "windir=C:\\Windows"}},
      {"added where missing", {"A=1", "Z=2"}, {"A=1", "TEMP=F", "TMP=F", "Z=2"}},
      {"names that only begin alike, and values that mention them, stay",
       {"TEMPLATE=x", "TMPDIR=y", "X=TEMP=1"}, {"TEMP=F", "TEMPLATE=x", "TMP=F", "TMPDIR=y", "X=TEMP=1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(EnvironmentWithTemp(c.environment, "F"), c.expected);
  }
}

TEST(PrivateTempFolders, EveryUninstallerStartedAsSystemGetsAFolderOfItsOwn) {
  UninstallCommand exe;
  exe.executable = "C:\\App\\u.exe";
  exe.command_line = "\"C:\\App\\u.exe\"";
  UninstallCommand msi = exe;
  msi.is_msi = true;
  msi.product_code = "{12345678-90AB-CDEF-1234-567890ABCDEF}";
  LaunchTarget direct;
  direct.file = exe.executable;
  LaunchTarget owner = direct;
  owner.access.route = RowAccess::Route::kOwnerSession;
  const struct {
    const char* what;
    bool system;
    const UninstallCommand& command;
    const LaunchTarget& target;
    unsigned long temp_error;
    int result;
    std::vector<std::string> launch_temps;  // one per direct launch
  } cases[] = {
      {"an uninstaller as SYSTEM", true, exe, direct, 0, 0, {kFolder}},
      {"msiexec as SYSTEM", true, msi, direct, 0, 0, {kFolder}},
      {"an administrator's own run keeps its TEMP", false, exe, direct, 0, 0, {""}},
      {"the owner's session: the user's own TEMP", true, exe, owner, 0, 0, {}},
      {"no folder can be made: not started", true, exe, direct, 112, 112, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLaunchPlatform platform;
    platform.system = c.system;
    platform.temp_folder_error = c.temp_error;
    ShellWatch shells(platform);
    InstallerLockWait installer(platform);
    PrivateTempFolders temps(platform);
    std::string remarks;
    EXPECT_EQ(ExecuteUninstallCommand(platform, shells, installer, temps, c.command, c.target, &remarks),
              c.result);
    EXPECT_EQ(platform.launch_temps, c.launch_temps);
    EXPECT_EQ(remarks.find("private temporary folder could not be created (error 112)") != std::string::npos,
              c.temp_error != 0);
  }
}

TEST(PrivateTempFolders, RemovedOnceNothingOfTheLaunchRunsElseAtTheRunsEnd) {
  FakeLaunchPlatform platform;
  PrivateTempFolders temps(platform);
  std::string done, running, held;
  ASSERT_EQ(temps.ForLaunch(&done), 0u);
  temps.AfterRow(false);
  ASSERT_EQ(temps.ForLaunch(&running), 0u);
  temps.AfterRow(true);
  ASSERT_EQ(temps.ForLaunch(&held), 0u);
  platform.removal_errors[held] = 32;  // a copy still runs from it
  temps.AfterRow(false);
  testing::TakeLogLines();
  temps.AtRunEnd();
  EXPECT_EQ(platform.temp_folders,
            (std::vector<std::string>{"made " + done, "removed " + done, "made " + running,
                                      "made " + held, "kept " + held, "removed " + running,
                                      "kept " + held}));
  const auto lines = testing::TakeLogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().message,
            "operation : app_varnok; remarks : \"A private temporary folder could not be removed (an "
            "uninstaller's copy may still run from it). It is left; only SYSTEM and administrators "
            "can use it.\"; temp_folder : \"" + held + "\"; error_code : 32;");
}

}  // namespace
}  // namespace varnok
