// Stalls under Wine, through the real platform, threads and exit codes. Wine has no opportunistic
// locks, so a stall is a platform whose step does not return (held_file_wintest.sh shows a real
// read that waits). The watchdog's deadlines are divided by 1000 (the 5 minutes before the
// inventory read as 300 ms), and each run it may end is a child process (a death test).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>

#include "common/strings.h"
#include "inventory/system_registry.h"
#include "inventory/system_value_expander.h"
#include "process/system_launch_platform.h"
#include "run/machine_run_environment.h"
#include "run/uninstall_run.h"
#include "run/watchdog.h"
#include "support/win/program_test.h"

namespace varnok {
namespace {

// Far past every deadline below: a watchdog that never fires fails the test, and does not hang it.
constexpr DWORD kStallMs = 30000;

// Reading the held file's head does not return, through none of the platform's own bounds; sizing
// a file of the held folder does not return within the platform's bound (2 s here).
class HeldFiles : public SystemPlatform {
 public:
  HeldFiles(std::string file, std::string folder)
      : SystemPlatform(2000), file_(std::move(file)), folder_(std::move(folder)) {}
  unsigned long ReadFileHead(const std::string& path, size_t max_bytes,
                             std::string* bytes) override {
    if (path == file_) ::Sleep(kStallMs);
    return SystemPlatform::ReadFileHead(path, max_bytes, bytes);
  }
  int64_t QueryFileSize(const std::string& path) override {
    if (GetParentPath(path) != folder_) return SystemPlatform::QueryFileSize(path);
    const auto started = started_;
    return FileStep<int64_t>(path, [started] {
             ++*started;
             ::Sleep(kStallMs);
             return int64_t{0};
           }).value_or(-1);
  }
  int started() const { return *started_; }

 private:
  std::string file_, folder_;
  std::shared_ptr<std::atomic<int>> started_ = std::make_shared<std::atomic<int>>(0);
};

class StallsAtTheStart : public MachineRunEnvironment {
 public:
  using MachineRunEnvironment::MachineRunEnvironment;
  std::vector<UninstallEntry> GetUninstallEntries() override {
    ::Sleep(kStallMs);  // as an open of the log might
    return {};
  }
};

// A death test's child runs the test body again up to its statement: the folder and the rows
// have fixed names, so that both processes use the same ones, and the parent removes them.
class StallUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryA(dir_.c_str(), nullptr);
    CreateDirectoryA((dir_ + "\\logs").c_str(), nullptr);
    CreateDirectoryA((dir_ + "\\Held").c_str(), nullptr);
    DeleteFileA(log_.c_str());
    const std::string tool = testing::ToolPath("exit_with.exe");
    ASSERT_TRUE(CopyFileA(tool.c_str(), exe_.c_str(), FALSE));
    AddRow("VarnokWatched", testing::Quote(exe_) + " 0 --sleep 1000 --delete-row HKCU VarnokWatched");
  }
  void TearDown() override {
    win32::UniqueRegKey uninstall;
    RegOpenKeyExA(HKEY_CURRENT_USER, testing::kUninstall, 0, KEY_ALL_ACCESS, uninstall.put());
    for (const char* row : {"VarnokWatched", "VarnokHeld"}) RegDeleteKeyA(uninstall.get(), row);
  }
  void AddRow(const std::string& name, const std::string& uninstall) {
    win32::UniqueRegKey key;
    RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(testing::kUninstall) + "\\" + name).c_str(), 0,
                    nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    testing::ScratchRows::SetText(key.get(), "DisplayName", "Varnok Watched");
    testing::ScratchRows::SetText(key.get(), "DisplayVersion", "1.0");
    testing::ScratchRows::SetText(key.get(), "UninstallString", uninstall);
  }
  int Run(HeldFiles& platform, RunDeadline* deadline, bool stall_at_start = false) {
    RunOptions options;
    options.DisplayName = "Varnok Watched";
    options.MatchTypeText = "Exact";
    options.ExactVersion = "1.0";
    if (stall_at_start) {
      StallsAtTheStart environment(SystemRegistry(), platform, SystemValueExpander(), deadline);
      return RunUninstall(options, environment);
    }
    MachineRunEnvironment environment(SystemRegistry(), platform, SystemValueExpander(), deadline);
    return RunUninstall(options, environment);
  }
  // In the child: the run's exit code, unless the watchdog ends the process first.
  [[noreturn]] void Watched(bool stall_at_start, bool hold_file) {
    Watchdog watchdog(kStartDeadlineMs, 1000);
    HeldFiles platform(hold_file ? exe_ : std::string(), std::string());
    std::_Exit(Run(platform, &watchdog, stall_at_start));
  }

  std::string dir_ = [] {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "varnok-stall";
  }();
  std::string exe_ = dir_ + "\\remove.exe";
  std::string log_ = dir_ + "\\logs\\fmprereqhandler.log";
  testing::AgentInstallDir agent_{dir_};
};

TEST_F(StallUnderWine, ARunThatStallsIsEndedByTheWatchdogAtItsDeadlineWithALastLine) {
  const std::string stopped = "[ ERROR ] operation : app_varnok; status : failure; remarks : \"The run "
                              "was stopped by its watchdog: ";
  const struct {
    const char* what;
    bool stall_at_start, hold_file;
    int exit_code;
    ULONGLONG deadline_ms;  // divided
    std::string line;       // empty: none
  } cases[] = {
      {"a stall before the inventory is read", true, false, 51007, 300,
       stopped + "it had not read the inventory within 300 s of its start. Retry later.\"; "
                 "return_value : 51007;"},
      // One row with its own time-outs (Wine runs nothing as LocalSystem): 70 + 15 minutes.
      {"a per-user row's uninstaller held", false, true, 51007, 5100,
       stopped + "it had not ended within 5100 s of reading the inventory, the longest its rows "
                 "may take. Retry later.\"; return_value : 51007;"},
      // Longer than the first deadline, which the work's replaced.
      {"a run that ends in time is not stopped", false, false, 0, 1000, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EXIT(Watched(c.stall_at_start, c.hold_file), ::testing::ExitedWithCode(c.exit_code), "");
    const ULONGLONG elapsed = GetTickCount64() - start;
    const std::string log = testing::ReadFileBytes(log_);
    EXPECT_GE(elapsed, c.deadline_ms);
    EXPECT_LT(elapsed, c.deadline_ms + kLastLineWaitMs + 3000) << log;
    EXPECT_EQ(log.find("stopped by its watchdog") != std::string::npos, !c.line.empty()) << log;
    if (!c.line.empty()) {
      EXPECT_NE(log.find(c.line), std::string::npos) << log;
    }
    SetUp();
  }
}

TEST_F(StallUnderWine, AHeldFileFailsItsRowAfterOneTimeOutAndTheNextRowRuns) {
  // A generic uninstaller: the guard sizes the programs beside it, none named like the product.
  const std::string held = dir_ + "\\Held";
  for (const char* name : {"uninstall.exe", "a.exe", "b.exe", "c.exe"}) {
    ASSERT_TRUE(CopyFileA(exe_.c_str(), (held + "\\" + name).c_str(), FALSE));
  }
  AddRow("VarnokHeld", testing::Quote(held + "\\uninstall.exe") + " 0");
  HeldFiles platform(std::string(), held);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(Run(platform, nullptr), kExitUninstallFailed);
  // One time-out and the cancel's grace, not one per held file, and never the held read's 30 s.
  EXPECT_LT(GetTickCount64() - start, 8000u);
  EXPECT_EQ(platform.started(), 1);
  const std::string log = testing::ReadFileBytes(log_);
  EXPECT_NE(log.find("remarks : \"A file step did not finish within 30 s (another program may hold "
                     "the file); nothing of the row is run. Retry later.\"; file_path : \"" + held + "\\"),
            std::string::npos)
      << log;
  EXPECT_TRUE(testing::RowExists(HKEY_CURRENT_USER, 0, "VarnokHeld"));
  EXPECT_FALSE(testing::RowExists(HKEY_CURRENT_USER, 0, "VarnokWatched"));
}

}  // namespace
}  // namespace varnok
