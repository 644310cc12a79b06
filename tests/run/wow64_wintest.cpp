// The shipped 32-bit program on 64-bit Windows: a row of the 64-bit view whose uninstaller lies in
// the 64-bit system folder. A 32-bit process sees <windir>\System32 redirected to SysWOW64, so the
// program must reach that file through <windir>\Sysnative. Only the i686 build under WOW64 can
// show it; any other build reports the test as skipped.
#include <gtest/gtest.h>

#include "common/strings.h"
#include "support/win/program_test.h"

namespace varnok {
namespace {

using testing::Quote;
using testing::ScratchRows;

using Wow64 = testing::ProgramTest;

TEST_F(Wow64, ASixtyFourBitRowsSystemToolIsFoundThroughSysnative) {
  BOOL wow64 = FALSE;
  if (sizeof(void*) != 4 || !IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) {
    GTEST_SKIP() << "needs the i686 build under WOW64; this build or machine is not one "
                    "(scripts/wine-env.sh: machines that cannot run 32-bit code test the x86_64 "
                    "build)";
  }
  char windows[MAX_PATH] = {};
  ASSERT_GT(GetSystemWindowsDirectoryA(windows, MAX_PATH), 0u);
  const std::string windir = windows;
  // Placed only in the 64-bit folder: the 32-bit test itself does not see it under System32.
  const std::string native = windir + "\\Sysnative\\varnok_tool64.exe";
  ASSERT_TRUE(CopyFileA(testing::ToolPath("exit_with64.exe").c_str(), native.c_str(), FALSE));
  EXPECT_FALSE(testing::FileExists(windir + "\\System32\\varnok_tool64.exe"));
  ScratchRows rows;
  auto key = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "tool64");
  ScratchRows::SetText(key.get(), "DisplayName", "Varnok Tool64");
  ScratchRows::SetText(key.get(), "DisplayVersion", "1.0");
  testing::TempDir out;
  ScratchRows::SetText(key.get(), "UninstallString",
                       windir + "\\System32\\varnok_tool64.exe 0 --cwd " + (out / "cwd.txt") +
                           " --argv0 " + (out / "argv0.txt") + " --delete-row HKLM64 " +
                           rows.Name("tool64"));
  const testing::RunResult run =
      RunProgram("-displayName \"Varnok Tool64\" -matchType Exact -exactVersion 1.0");
  DeleteFileA(native.c_str());
  EXPECT_EQ(run.exit_code, 0u) << log_;
  // The stored path stays in the logged command; one more line names the file that ran.
  EXPECT_TRUE(Logged("command : \"" + Quote(windir + "\\System32\\varnok_tool64.exe")));
  EXPECT_TRUE(Logged("file_path : \"" + native + "\";")) << log_;
  EXPECT_FALSE(testing::RowExists(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, rows.Name("tool64")));
  // The 64-bit program is told its own path and folder as it sees them: System32, not Sysnative,
  // which does not exist for it.
  EXPECT_EQ(testing::ReadFileBytes(out / "argv0.txt"), windir + "\\System32\\varnok_tool64.exe");
  EXPECT_TRUE(EqualsNoCase(testing::ReadFileBytes(out / "cwd.txt"), windir + "\\System32"))
      << testing::ReadFileBytes(out / "cwd.txt");
}

TEST_F(Wow64, ASixtyFourBitUninstallerThatParsesItsCommandLineAsDelphiDoesIsSilent) {
  BOOL wow64 = FALSE;
  if (sizeof(void*) != 4 || !IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) {
    GTEST_SKIP() << "needs the i686 build under WOW64";
  }
  char windows[MAX_PATH] = {};
  ASSERT_GT(GetSystemWindowsDirectoryA(windows, MAX_PATH), 0u);
  ScratchRows rows;
  const std::string name = rows.Name("paramstr64");  // the stand-in removes the row named as itself
  const std::string native = std::string(windows) + "\\Sysnative\\" + name + ".exe";
  ASSERT_TRUE(CopyFileA(testing::ToolPath("paramstr64.exe").c_str(), native.c_str(), FALSE));
  auto key = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "paramstr64");
  ScratchRows::SetText(key.get(), "DisplayName", "Varnok ParamStr64");
  ScratchRows::SetText(key.get(), "DisplayVersion", "1.0");
  ScratchRows::SetText(key.get(), "UninstallString",
                       std::string(windows) + "\\System32\\" + name + ".exe");
  RunProgram("-displayName \"Varnok ParamStr64\" -matchType Exact -exactVersion 1.0");
  const std::string said = testing::ReadFileBytes(native + ".log");
  DeleteFileA(native.c_str());
  DeleteFileA((native + ".log").c_str());
  EXPECT_TRUE(Logged("operation : app_varnok; exit_code : 0;")) << log_;
  EXPECT_TRUE(Logged("VERIFY: registry key gone. SUCCESS.")) << log_;
  EXPECT_EQ(said, "silent\n");
}

}  // namespace
}  // namespace varnok
