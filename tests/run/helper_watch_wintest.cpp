// An uninstaller's copy that asks a question after the first process has returned, for real
// under Wine, run as in session 0 (Wine puts every process in session 1, so the platform says 0):
// asked while the row stays, it fails the row within 90 s of the question; asked after the row
// has gone, it is ended a minute later and the row stays removed.
#include <gtest/gtest.h>

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

class SessionZero : public SystemPlatform {
 public:
  unsigned long CurrentSessionId() override { return 0; }
};

class HelperWatchUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateDirectoryA((install_ / "logs").c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(testing::ToolPath("exit_with.exe").c_str(), exe_.c_str(), FALSE));
  }

  // One row whose uninstaller returns at once, leaving a copy that runs `copy_arguments`.
  int Remove(const std::string& copy_arguments) {
    auto key = rows_.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "asks");
    ScratchRows::SetText(key.get(), "DisplayName", "Varnok Asks");
    ScratchRows::SetText(key.get(), "DisplayVersion", "5.0");
    ScratchRows::SetText(key.get(), "UninstallString",
                         Quote(exe_) + " 0 --child \"0 " + copy_arguments + "\"");
    RunOptions options;
    options.DisplayName = "Varnok Asks";
    options.MatchTypeText = "Exact";
    options.ExactVersion = "5.0";
    SessionZero platform;
    MachineRunEnvironment environment(SystemRegistry(), platform, SystemValueExpander());
    const ULONGLONG start = GetTickCount64();
    const int exit_code = RunUninstall(options, environment);
    elapsed_ms_ = GetTickCount64() - start;
    log_ = testing::ReadFileBytes(install_ / "logs\\fmprereqhandler.log");
    return exit_code;
  }
  bool NoneLeftWithin(DWORD ms) const {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (testing::ProcessCount("exit_with.exe") > 0) {
      if (GetTickCount64() > deadline) return false;
      Sleep(100);
    }
    return true;
  }

  testing::TempDir install_;
  testing::AgentInstallDir agent_{install_.path()};
  testing::TempDir apps_;
  std::string exe_ = apps_ / "unins000.exe";
  ScratchRows rows_;
  ULONGLONG elapsed_ms_ = 0;
  std::string log_;
};

TEST_F(HelperWatchUnderWine, AQuestionBeforeTheRemovalFailsTheRowWithinNinetySeconds) {
  const int exit_code = Remove("--message-box \\\"Keep Settings?\\\" --delete-row HKLM32 " +
                               rows_.Name("asks"));
  EXPECT_EQ(exit_code, kExitUninstallFailed) << log_;
  EXPECT_GE(elapsed_ms_, 60000u);
  EXPECT_LT(elapsed_ms_, 90000u);
  EXPECT_NE(log_.find("has done nothing for 60 s. Ending it.\"; window_title : \"Keep Settings?\"; "
                      "window_class : \"#32770\"; process : \"" + exe_ + "\";"),
            std::string::npos)
      << log_;
  EXPECT_NE(log_.find("Registry after exponential backoff exists"), std::string::npos);
  EXPECT_TRUE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, rows_.Name("asks")));
  EXPECT_TRUE(NoneLeftWithin(5000));
}

TEST_F(HelperWatchUnderWine, AQuestionAfterTheRemovalIsEndedAndTheRowStaysRemoved) {
  const int exit_code = Remove("--delete-row HKLM32 " + rows_.Name("asks") +
                               " --message-box \\\"Visit Our Website?\\\"");
  EXPECT_EQ(exit_code, kExitSuccess) << log_;
  EXPECT_GE(elapsed_ms_, 60000u);
  EXPECT_LT(elapsed_ms_, 70000u);
  EXPECT_NE(log_.find("[ INFO ] operation : app_varnok; remarks : \"The row is gone, but a process "
                      "its uninstaller left shows a window in session 0 and has done nothing for "
                      "60 s. Ending it.\"; window_title : \"Visit Our Website?\";"),
            std::string::npos)
      << log_;
  EXPECT_FALSE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, rows_.Name("asks")));
  EXPECT_TRUE(NoneLeftWithin(5000));
}

}  // namespace
}  // namespace varnok
