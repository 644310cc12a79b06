// Faults around a real run: a locked or deleted log, a shell ended by an uninstaller, a crashing
// uninstaller, a row that vanishes before its turn, and a very large inventory. Each must end
// with the right exit code, in bounded time.
#include <gtest/gtest.h>

#include "support/win/program_test.h"

namespace varnok {
namespace {

using testing::Quote;
using testing::RunCommand;
using testing::ScratchRows;
using testing::ToolPath;

class FaultInjection : public testing::ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    ASSERT_TRUE(CopyFileA(ToolPath("exit_with.exe").c_str(), exe_.c_str(), FALSE));
  }
  void AddRow(ScratchRows& rows, const std::string& suffix, const std::string& name,
              const std::string& uninstall) {
    auto key = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, suffix);
    ScratchRows::SetText(key.get(), "DisplayName", name);
    ScratchRows::SetText(key.get(), "DisplayVersion", "1.0");
    ScratchRows::SetText(key.get(), "UninstallString", uninstall);
  }
  testing::TempDir apps_;
  std::string exe_ = apps_ / "exit_with.exe";
};

TEST_F(FaultInjection, LogHeldOpenWithoutSharingLosesLinesButNotTheExitCode) {
  testing::Child locker(Quote(ToolPath("log_probe.exe")) + " lock-file " + Quote(log_path_));
  ASSERT_TRUE(testing::WaitForNamedEvent("varnok_probe_ready", 10000));
  const testing::RunResult run = RunProgram("-displayName Nothing -matchType Exact -exactVersion 1");
  locker.Kill(0);
  EXPECT_EQ(run.exit_code, 51001u);
  EXPECT_LT(run.elapsed_ms, 10000u);
  EXPECT_EQ(testing::ReadFileBytes(log_path_), "");  // every line was lost, none half-written
  // The same run writes its lines once the file is free: the empty log above was the lock's doing.
  RunProgram("-displayName Nothing -matchType Exact -exactVersion 1");
  EXPECT_TRUE(Logged("Application not found (NameMatch=Exact, pattern=[Nothing]).")) << log_;
}

TEST_F(FaultInjection, UninstallerThatDeletesTheLogDoesNotStopTheRun) {
  ScratchRows rows;
  AddRow(rows, "dellog", "Varnok Log Deleter",
         Quote(exe_) + " 0 --delete-file " + Quote(log_path_) + " --delete-row HKLM64 " + rows.Name("dellog"));
  const testing::RunResult run = RunProgram("-displayName \"Varnok Log Deleter\" -matchType Exact -exactVersion 1.0");
  EXPECT_EQ(run.exit_code, 0u);
  // The open log cannot be deleted (it is shared for reading and writing only); the run's closing
  // lines are still there.
  EXPECT_TRUE(Logged("status : success; return_value : 0;")) << log_;
}

TEST_F(FaultInjection, ShellEndedByAnUninstallerRunsAgainAfterTheRun) {
  ScratchRows rows;
  AddRow(rows, "shell", "Varnok Shell Killer",
         Quote(exe_) + " 0 --kill-explorer --delete-row HKLM64 " + rows.Name("shell"));
  ASSERT_TRUE(testing::EnsureDesktopShell());  // only a shell that ran before is restored
  const testing::RunResult run = RunProgram("-displayName \"Varnok Shell Killer\" -matchType Exact -exactVersion 1.0");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_TRUE(Logged("operation : RestoreDesktopShell; remarks : \"explorer.exe is not running. Starting it.\";"));
  EXPECT_GT(testing::ProcessCount("explorer.exe"), 0);
}

TEST_F(FaultInjection, CrashingUninstallerIsAFailedRow) {
  ScratchRows rows;
  AddRow(rows, "crash", "Varnok Crasher", Quote(exe_) + " crash");
  const testing::RunResult run = RunProgram("-displayName \"Varnok Crasher\" -matchType Exact -exactVersion 1.0");
  EXPECT_EQ(run.exit_code, 51006u);
  EXPECT_TRUE(Logged("VERIFY: uninstall failed. exit_code : -1073741819;"));
}

TEST_F(FaultInjection, RowDeletedBeforeItsTurnStillEndsCleanly) {
  ScratchRows rows;
  // The first row's uninstaller removes the second row before the run reaches it.
  AddRow(rows, "a-first", "Varnok Pair",
         Quote(exe_) + " 0 --delete-row HKLM64 " + rows.Name("a-first") + " --delete-row HKLM64 " + rows.Name("b-second"));
  AddRow(rows, "b-second", "Varnok Pair", Quote(apps_ / "second\\uninst.exe"));
  const testing::RunResult run = RunProgram("-displayName \"Varnok Pair\" -matchType Exact -exactVersion 1.0");
  // The second row's uninstaller is gone with its row: 51005 for that row.
  EXPECT_EQ(run.exit_code, 51006u);
  EXPECT_TRUE(Logged("exit_code : 51005;"));
  EXPECT_TRUE(Logged("status : summary; name_hits : 2; version_hits : 2; skipped_version : 0; success : 1; failed : 1;"));
}

TEST_F(FaultInjection, TenThousandRowsAreReadWithinBounds) {
  ScratchRows rows;
  for (int i = 0; i < 10000; ++i) {
    auto key = rows.Create(HKEY_LOCAL_MACHINE, i % 2 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY, "bulk" + std::to_string(i));
    ScratchRows::SetText(key.get(), "DisplayName", "Bulk Row " + std::to_string(i));
    ScratchRows::SetText(key.get(), "DisplayVersion", "1.0." + std::to_string(i));
    ScratchRows::SetText(key.get(), "UninstallString", Quote("C:\\Program Files\\Bulk\\" + std::to_string(i) + "\\u.exe") + " /x");
  }
  const testing::RunResult run = RunProgram("-displayName \"Bulk Row 4242\" -matchType Exact -exactVersion 1.0.4242 -whatIf");
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_TRUE(Logged("remarks : \"WHATIF: would uninstall Bulk Row 4242.\";"));
  const size_t at = log_.find("entry_count : ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GE(std::stoul(log_.substr(at + 14)), 10000u);
  std::printf("-whatIf over 10,000 rows took %llu ms\n", run.elapsed_ms);
  EXPECT_LT(run.elapsed_ms, 120000u);
}

TEST_F(FaultInjection, HugeRowValuesKeepTheLogWithinItsBound) {
  // Rows written to flood the log: a name match with megabyte values (never read) and command
  // lines just under the read limit (logged cut). The log already holds nearly 3 MiB.
  ScratchRows rows;
  for (int i = 0; i < 8; ++i) {
    auto key = rows.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "flood" + std::to_string(i));
    ScratchRows::SetText(key.get(), "DisplayName", "Varnok Flood");
    ScratchRows::SetText(key.get(), "DisplayVersion", "1.0");
    ScratchRows::SetText(key.get(), "UninstallString",
                         Quote(apps_ / "flood.exe") + " " + std::string(60000, 'a' + i));
    ScratchRows::Set(key.get(), "QuietUninstallString", REG_SZ, std::string(5 << 20, 'q'));
    ScratchRows::Set(key.get(), "Publisher", REG_BINARY, std::string(3 << 20, 'p'));
  }
  testing::WriteFileBytes(log_path_, std::string(3145728 - 20000, 'o'));
  const testing::RunResult run =
      RunProgram("-displayName \"Varnok Flood\" -matchType Exact -exactVersion 1.0 -whatIf");
  EXPECT_EQ(run.exit_code, 0u);
  // Every file of the logs folder: at most 3 MiB plus one line plus 64 KiB.
  unsigned long long total = 0;
  WIN32_FIND_DATAA data;
  win32::UniqueFindHandle find(FindFirstFileA((install_ / "logs\\*").c_str(), &data));
  ASSERT_TRUE(find);
  int files = 0;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    EXPECT_LE(size, 3145728ull + 65536 + 65536) << data.cFileName;
    total += size;
    ++files;
  } while (FindNextFileA(find.get(), &data));
  EXPECT_EQ(files, 2);  // it rotated once
  std::printf("logs folder after the flood: %d files, %llu bytes\n", files, total);
  EXPECT_LT(total, 3145728ull + 400000);
  const std::string log = testing::ReadFileBytes(install_ / "logs\\fmprereqhandler1.log") +
                          testing::ReadFileBytes(log_path_);
  EXPECT_NE(log.find("value_name : \"QuietUninstallString\"; value_size : 524288"), std::string::npos);
  EXPECT_NE(log.find("...[cut: "), std::string::npos);
  EXPECT_NE(log.find("status : success; return_value : 0;"), std::string::npos);
}

}  // namespace
}  // namespace varnok
