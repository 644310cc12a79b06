// A user's rows written to flood the log, against the real program and its real log files:
// they must not push the earlier records (the machine-wide removal, the agent's other writers'
// lines) out of the four backups. Wine runs the program as an ordinary user, so the current
// user's rows are the per-user rows here.
#include <gtest/gtest.h>

#include "support/win/program_test.h"

namespace varnok {
namespace {

using testing::Quote;
using testing::ScratchRows;
using testing::ToolPath;

constexpr size_t kLimit = 3145728;

class LogFlood : public testing::ProgramTest {
 protected:
  std::string Logs() const {
    std::string all;
    for (const char* name : {"fmprereqhandler4", "fmprereqhandler3", "fmprereqhandler2",
                             "fmprereqhandler1", "fmprereqhandler"}) {
      all += testing::ReadFileBytes(install_ / "logs\\" + name + ".log");
    }
    return all;
  }
  ScratchRows rows_;
  testing::TempDir apps_;
};

TEST_F(LogFlood, AUsersRowsWithHugeArgumentsLeaveTheEarlierRecordsInTheLog) {
  const std::string exe = apps_ / "exit_with.exe";
  ASSERT_TRUE(CopyFileA(ToolPath("exit_with.exe").c_str(), exe.c_str(), FALSE));
  // The machine-wide removal, then 280 rows of the user: a name that matches by prefix and a
  // command of 60 KB that fails at once, each row logging about 49 KiB (three values cut to 16 KiB).
  // Before the budget they rotated the machine-wide lines out of the fourth backup.
  auto machine = rows_.Create(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "machine");
  ScratchRows::SetText(machine.get(), "DisplayName", "Varnok Flood");
  ScratchRows::SetText(machine.get(), "DisplayVersion", "1.0");
  ScratchRows::SetText(machine.get(), "UninstallString",
                       Quote(exe) + " 0 --delete-row HKLM64 " + rows_.Name("machine"));
  for (int i = 0; i < 280; ++i) {
    auto key = rows_.Create(HKEY_CURRENT_USER, 0, "flood" + std::to_string(i));
    ScratchRows::SetText(key.get(), "DisplayName", "Varnok Flood " + std::string(20000, 'n'));
    ScratchRows::SetText(key.get(), "DisplayVersion", "1.0");
    // Windows refuses a command line this long; Wine starts it, and the stand-in exits 1.
    ScratchRows::SetText(key.get(), "UninstallString", Quote(exe) + " 1 " + std::string(60000, 'a'));
  }
  // The log nearly due for rotation, and a line of another of the agent's writers.
  testing::WriteFileBytes(log_path_, std::string(kLimit - 20000, 'o'));
  ASSERT_EQ(testing::RunCommand(Quote(ToolPath("log_probe.exe")) + " append 1 OtherWriter").exit_code, 0u);
  const testing::RunResult run =
      RunProgram("-displayName \"Varnok Flood\" -nameMatch Prefix -matchType Exact -exactVersion 1.0");
  EXPECT_EQ(run.exit_code, 51006u);
  std::printf("280 flooding rows took %llu ms\n", run.elapsed_ms);
  const std::string logs = Logs();
  EXPECT_NE(logs.find("probe : OtherWriter; line : 0;"), std::string::npos);
  EXPECT_NE(logs.find("registry_path : \"" + std::string(testing::kUninstall) + "\\" + rows_.Name("machine") + "\";"),
            std::string::npos);
  EXPECT_NE(logs.find("VERIFY: registry key gone. SUCCESS."), std::string::npos);
  EXPECT_NE(logs.find("owner : \"HKCU\"; rows_summarised : "), std::string::npos);
  EXPECT_LT(logs.size(), kLimit + 400000);
}

}  // namespace
}  // namespace varnok
