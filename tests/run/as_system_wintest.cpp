// The run as LocalSystem makes it, for real under Wine where Wine can show it: the platform
// says the program is LocalSystem, and that the test's own account, which owns every file of the
// prefix as Wine reports it, is an administrator. Owners, DACLs, registry keys, the volume and
// the launch are the real ones.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "common/strings.h"
#include "inventory/system_registry.h"
#include "inventory/system_value_expander.h"
#include "process/system_launch_platform.h"
#include "run/machine_run_environment.h"
#include "run/uninstall_run.h"
#include "support/win/program_test.h"

namespace varnok {
namespace {

using testing::Quote;
using testing::ScratchRows;

class AsSystem : public SystemPlatform {
 public:
  bool IsRunningAsSystem() override { return true; }
  SessionList GetActiveUserSessions() override { return {}; }
  bool IsAdministrator(const std::string& sid) override { return EqualsNoCase(sid, me_); }
  // Looks at the file while it is started: nobody may open it for writing.
  int ExecuteFile(const std::string& command_line, const std::string& executable,
                  const std::string& working_directory, unsigned minutes,
                  unsigned long stuck_window_ms, std::unique_ptr<LaunchRemains>* remains,
                  bool installer_removal, HeldFileId held_file,
                  const std::string& temp_folder) override {
    win32::UniqueFileHandle writer(::CreateFileA(executable.c_str(), GENERIC_WRITE, 7, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
    write_errors.push_back(writer ? 0 : ::GetLastError());
    return SystemPlatform::ExecuteFile(command_line, executable, working_directory, minutes,
                                       stuck_window_ms, remains, installer_removal, held_file,
                                       temp_folder);
  }
  std::vector<DWORD> write_errors;

 private:
  std::string me_ = testing::CurrentUserSid();
};

class AsSystemUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateDirectoryA((install_ / "logs").c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(testing::ToolPath("exit_with.exe").c_str(), exe_.c_str(), FALSE));
  }
  win32::UniqueRegKey AddRow(const std::string& suffix) {
    auto key = rows_.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, suffix);
    ScratchRows::SetText(key.get(), "DisplayName", "Varnok As System");
    ScratchRows::SetText(key.get(), "DisplayVersion", "5.0");
    ScratchRows::SetText(key.get(), "UninstallString",
                         Quote(exe_) + " 0 --delete-row HKLM32 " + rows_.Name(suffix));
    return key;
  }
  int Run() {
    RunOptions options;
    options.DisplayName = "Varnok As System";
    options.MatchTypeText = "Exact";
    options.ExactVersion = "5.0";
    MachineRunEnvironment environment(SystemRegistry(), platform_, SystemValueExpander());
    const int exit_code = RunUninstall(options, environment);
    log_ = testing::ReadFileBytes(install_ / "logs\\fmprereqhandler.log");
    return exit_code;
  }

  testing::TempDir install_;
  testing::AgentInstallDir agent_{install_.path()};
  testing::TempDir apps_;
  std::string exe_ = apps_ / "remove.exe";
  ScratchRows rows_;
  AsSystem platform_;
  std::string log_;
};

TEST_F(AsSystemUnderWine, ARowWhoseKeyUsersMayChangeIsRefusedAndATrustedOneRunsItsHeldFile) {
  AddRow("trusted");
  auto open = AddRow("open");
  // As a vendor's installer sometimes leaves it: users may set values in the row's key.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "O:BAD:(A;;KA;;;BA)(A;;KA;;;SY)(A;;0x20019;;;BU)(A;;0x2;;;BU)", SDDL_REVISION_1, &descriptor,
      nullptr));
  const win32::UniqueLocalMemory owner(descriptor);
  ASSERT_EQ(RegSetKeySecurity(open.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              descriptor),
            ERROR_SUCCESS);

  EXPECT_EQ(Run(), kExitUninstallFailed) << log_;
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                          rows_.Name("open");
  EXPECT_NE(log_.find("remarks : \"Row not used as SYSTEM: an account that is not an administrator can "
                      "change its registry key, so its commands may be anyone's\"; registry_path : \"" +
                      key + " (x86-on-x64)\"; account : \"BUILTIN\\Users (S-1-5-32-545)\"; right : \"set "
                      "value\";"),
            std::string::npos)
      << log_;
  EXPECT_TRUE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, rows_.Name("open")));
  // The trusted row's uninstaller was judged on its fixed disk, then started while held.
  EXPECT_FALSE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, rows_.Name("trusted")));
  EXPECT_EQ(platform_.write_errors, std::vector<DWORD>{ERROR_SHARING_VIOLATION});
  EXPECT_TRUE(DeleteFileA(exe_.c_str()));  // and let go once it had started
}

TEST_F(AsSystemUnderWine, OnlyAFixedLocalDiskIsTrusted) {
  VolumeFacts c;
  ASSERT_EQ(ReadVolumeFacts("C:\\", &c), 0u);
  EXPECT_FALSE(UntrustedVolume(c).has_value()) << *UntrustedVolume(c);
  // A drive letter with nothing behind it, as a stick that was pulled leaves it.
  VolumeFacts none;
  EXPECT_EQ(ReadVolumeFacts("Q:\\", &none), 0u);
  EXPECT_EQ(UntrustedVolume(none), "not a fixed disk (drive type 1)");
}

}  // namespace
}  // namespace varnok
