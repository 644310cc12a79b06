// The log file against the real Win32 API under Wine. Each scenario runs in fresh processes
// (log_probe.exe or the program itself), because the log is opened once per process.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "log/log_lock.h"
#include "support/win/wine_support.h"

#include <aclapi.h>
#include <sddl.h>

#include <optional>

namespace varnok {
namespace {

using testing::Child;
using testing::ReadCrLfLines;
using testing::RunCommand;
using testing::ToolPath;

const std::regex kFrame(
    R"(^\[ \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} \]\[ \d+ \] \[ (INFO|ERROR) \] (.*)$)");
const std::regex kOpenClose(R"(^Log (Open|Close) : \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3}$)");
constexpr size_t kLimit = 3145728;

struct Record {
  std::string level;
  std::string message;
};

// Every line must carry the full frame; a torn or frameless line fails the test here.
std::vector<Record> ReadRecords(const std::string& path) {
  std::vector<Record> records;
  for (const std::string& line : ReadCrLfLines(path)) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, kFrame)) << "unframed line: " << line.substr(0, 200);
    if (m.size() == 3) records.push_back({m[1], m[2]});
  }
  return records;
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateDirectoryA(logs_.c_str(), nullptr)); }

  testing::RunResult Append(int count, const std::string& tag) {
    return RunCommand("\"" + ToolPath("log_probe.exe") + "\" append " + std::to_string(count) + " " + tag);
  }
  std::string Backup(int n) const { return logs_ + "\\fmprereqhandler" + std::to_string(n) + ".log"; }

  testing::TempDir install_;
  testing::AgentInstallDir agent_{install_.path()};
  std::string logs_ = install_ / "logs";
  std::string log_ = logs_ + "\\fmprereqhandler.log";
};

TEST_F(LogFileTest, OpenAndCloseLinesFrameTheProcessesLines) {
  ASSERT_EQ(Append(2, "P").exit_code, 0u);
  const std::string bytes = testing::ReadFileBytes(log_);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  EXPECT_EQ(bytes.find("\n"), bytes.find("\r\n") + 1);  // no bare LF line ends

  const auto records = ReadRecords(log_);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_TRUE(std::regex_match(records[0].message, kOpenClose)) << records[0].message;
  EXPECT_EQ(records[0].message.substr(0, 11), "Log Open : ");
  EXPECT_EQ(records[1].message, "probe : P; line : 0;");
  EXPECT_EQ(records[2].message, "probe : P; line : 1;");
  EXPECT_EQ(records[3].message.substr(0, 12), "Log Close : ");
  EXPECT_TRUE(std::regex_match(records[3].message, kOpenClose)) << records[3].message;
  for (const Record& r : records) EXPECT_EQ(r.level, "INFO");
}

TEST_F(LogFileTest, RotatesOnceTheFileHoldsThreeMebibytes) {
  // One byte short: the open line still goes into the old file, which then holds 3 MiB, so the
  // next line starts a new one. Exactly 3 MiB: the new file starts with the open line.
  for (const size_t size : {kLimit - 1, kLimit}) {
    SCOPED_TRACE(size);
    const std::string old(size, 'o');
    testing::WriteFileBytes(log_, old);
    DeleteFileA(Backup(1).c_str());
    ASSERT_EQ(Append(2, "R").exit_code, 0u);
    const std::string backup = testing::ReadFileBytes(Backup(1));
    ASSERT_EQ(backup.substr(0, old.size()), old);
    const auto records = ReadRecords(log_);
    if (size == kLimit) {
      EXPECT_EQ(backup, old);
      ASSERT_EQ(records.size(), 4u);
      EXPECT_EQ(records[0].message.substr(0, 11), "Log Open : ");
    } else {
      const std::string open_line = backup.substr(old.size());
      EXPECT_TRUE(std::regex_search(open_line, std::regex(R"(\] Log Open : .*\r\n$)"))) << open_line;
      ASSERT_EQ(records.size(), 3u);
      EXPECT_EQ(records[0].message, "probe : R; line : 0;");
    }
  }
}

TEST_F(LogFileTest, OneProcessWritingPastThreeMebibytesRotatesWhereTheFileReachesThem) {
  // 3,300 lines of about 1,060 bytes from an empty file: one rotation, at the first line that
  // would start at or past 3 MiB, and no line lost or split between the files.
  ASSERT_EQ(RunCommand("\"" + ToolPath("log_probe.exe") + "\" append-long 3300 1000 L").exit_code, 0u);
  const std::string backup = testing::ReadFileBytes(Backup(1));
  const size_t last_line = backup.rfind("\r\n", backup.size() - 3) + 2;
  EXPECT_GE(backup.size(), kLimit);
  EXPECT_LT(last_line, kLimit);
  EXPECT_FALSE(testing::FileExists(Backup(2)));
  const auto rotated = ReadRecords(Backup(1));
  const auto records = ReadRecords(log_);
  ASSERT_GE(rotated.size(), 2u);
  ASSERT_GE(records.size(), 2u);
  const std::regex line(R"(^probe : L; line : (\d+); filler : f{1000};$)");
  std::smatch last, first;
  ASSERT_TRUE(std::regex_match(rotated.back().message, last, line)) << rotated.back().message.substr(0, 80);
  ASSERT_TRUE(std::regex_match(records.front().message, first, line)) << records.front().message.substr(0, 80);
  EXPECT_EQ(std::stoi(first[1]), std::stoi(last[1]) + 1);
  EXPECT_EQ(rotated.size() - 1 + records.size() - 1, 3300u);  // the open and the close line
}

TEST_F(LogFileTest, BackupsShiftAndTheOldestIsLost) {
  for (int n = 1; n <= 4; ++n) testing::WriteFileBytes(Backup(n), "backup " + std::to_string(n));
  const std::string active(kLimit + 10, 'a');
  testing::WriteFileBytes(log_, active);
  ASSERT_EQ(Append(1, "S").exit_code, 0u);
  EXPECT_EQ(testing::ReadFileBytes(Backup(1)), active);
  EXPECT_EQ(testing::ReadFileBytes(Backup(2)), "backup 1");
  EXPECT_EQ(testing::ReadFileBytes(Backup(3)), "backup 2");
  EXPECT_EQ(testing::ReadFileBytes(Backup(4)), "backup 3");
  EXPECT_FALSE(testing::FileExists(Backup(5)));
}

TEST_F(LogFileTest, WithoutLogsDirectoryNothingIsWrittenAndNothingFails) {
  ASSERT_TRUE(RemoveDirectoryA(logs_.c_str()));
  EXPECT_EQ(Append(5, "N").exit_code, 0u);
  EXPECT_EQ(GetFileAttributesA(logs_.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(testing::FileExists(install_ / "fmprereqhandler.log"));
}

TEST_F(LogFileTest, MutexHeldByAnotherProcessLosesTheLineAfterThreeSeconds) {
  Child holder("\"" + ToolPath("log_probe.exe") + "\" hold 5000");
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(testing::WaitForNamedEvent("varnok_probe_ready", 10000));
  const testing::RunResult late = Append(1, "Late");
  EXPECT_EQ(late.exit_code, 0u);
  EXPECT_GE(late.elapsed_ms, 2900u);
  EXPECT_LT(late.elapsed_ms, 4900u);
  EXPECT_EQ(holder.Wait(15000), 0u);
  EXPECT_EQ(testing::ReadFileBytes(log_).find("Late"), std::string::npos);

  ASSERT_EQ(Append(1, "After").exit_code, 0u);
  EXPECT_NE(testing::ReadFileBytes(log_).find("probe : After; line : 0;"), std::string::npos);
}

TEST_F(LogFileTest, MutexAbandonedByAKilledProcessStillLetsTheNextLineThrough) {
  Child holder("\"" + ToolPath("log_probe.exe") + "\" hold-forever");
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(testing::WaitForNamedEvent("varnok_probe_ready", 10000));
  holder.Kill(1);
  const testing::RunResult next = Append(1, "Next");
  EXPECT_EQ(next.exit_code, 0u);
  EXPECT_LT(next.elapsed_ms, 2900u);
  EXPECT_NE(testing::ReadFileBytes(log_).find("probe : Next; line : 0;"), std::string::npos);
  // The mutex was released again: a further writer is not delayed either.
  const testing::RunResult again = Append(1, "Again");
  EXPECT_LT(again.elapsed_ms, 2900u);
  EXPECT_NE(testing::ReadFileBytes(log_).find("probe : Again; line : 0;"), std::string::npos);
}

TEST_F(LogFileTest, FourConcurrentWritersLoseAndTearNoLine) {
  constexpr int kLines = 2000;
  std::vector<std::unique_ptr<Child>> writers;
  for (int w = 0; w < 4; ++w) {
    writers.push_back(std::make_unique<Child>("\"" + ToolPath("log_probe.exe") + "\" append " +
                                              std::to_string(kLines) + " W" + std::to_string(w)));
  }
  for (auto& writer : writers) EXPECT_EQ(writer->Wait(240000), 0u);

  std::map<std::string, std::set<int>> seen;
  int opens = 0, closes = 0;
  const std::regex probe(R"(^probe : (W\d); line : (\d+);$)");
  for (const Record& r : ReadRecords(log_)) {
    std::smatch m;
    if (std::regex_match(r.message, m, probe)) {
      EXPECT_TRUE(seen[m[1]].insert(std::stoi(m[2])).second) << "duplicate " << r.message;
    } else if (r.message.rfind("Log Open : ", 0) == 0) {
      ++opens;
    } else if (r.message.rfind("Log Close : ", 0) == 0) {
      ++closes;
    } else {
      ADD_FAILURE() << "unexpected record: " << r.message;
    }
  }
  EXPECT_EQ(opens, 4);
  EXPECT_EQ(closes, 4);
  ASSERT_EQ(seen.size(), 4u);
  for (const auto& [tag, lines] : seen) EXPECT_EQ(lines.size(), size_t{kLines}) << tag;
}

TEST_F(LogFileTest, ProgramWithoutArgumentsLogsItsOptionsAndExitsWith87) {
  const testing::RunResult run = RunCommand("\"" + testing::ProgramPath() + "\"");
  EXPECT_EQ(run.exit_code, 87u);
  const std::vector<Record> expected = {
      {"INFO", "app_varnok_version : 2026.09.15;"},
      {"INFO", "param_name : DisplayName; param_value : \"\";"},
      {"INFO", "param_name : MatchType; param_value : \"\";"},
      {"INFO", "param_name : NameMatch; param_value : \"Exact\";"},
      {"INFO", "param_name : ExactVersion; param_value : \"\";"},
      {"INFO", "param_name : SeriesPrefix; param_value : \"\";"},
      {"INFO", "param_name : MinVersion; param_value : \"\";"},
      {"INFO", "param_name : MaxVersion; param_value : \"\";"},
      {"INFO", "param_name : ExeArgs; param_value : \"\";"},
      {"INFO", "param_name : WhatIf; param_value : \"false\";"},
      {"ERROR",
       "operation : ProcessArgs; status : failure; remarks : \"Display name not provided. Use "
       "-displayName <displayName> parameter.\"; return_value : ERROR_INVALID_PARAMETER;"},
      {"ERROR",
       "operation : app_varnok; status : failure; exit_code : 87; remarks : \"Invalid arguments "
       "provided. Exiting with error code : ERROR_INVALID_PARAMETER.\";"},
  };
  const auto records = ReadRecords(log_);
  ASSERT_EQ(records.size(), expected.size() + 2);
  EXPECT_EQ(records.front().message.substr(0, 11), "Log Open : ");
  EXPECT_EQ(records.back().message.substr(0, 12), "Log Close : ");
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(records[i + 1].level, expected[i].level) << i;
    EXPECT_EQ(records[i + 1].message, expected[i].message) << i;
  }
}

// Gives the mutex `name`, opened or created here, the descriptor `sddl` for the object's lifetime
// and puts its owner and DACL back afterwards. Whichever process made the mutex first (this
// process's own log does, from the first line a test here wrote in-process; a helper of an
// earlier test may still hold it), the program meets that descriptor.
class MutexWithDescriptor {
 public:
  MutexWithDescriptor(const char* name, const std::string& sddl)
      : mutex_(CreateMutexExA(nullptr, name, 0, READ_CONTROL | WRITE_DAC | WRITE_OWNER | SYNCHRONIZE)) {
    if (!mutex_) return;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    if (GetSecurityInfo(mutex_.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        &owner, nullptr, &dacl, nullptr, saved_.put()) != ERROR_SUCCESS) {
      return;
    }
    saved_owner_ = owner;
    saved_dacl_ = dacl;
    win32::UniqueLocalMemory descriptor;
    applied_ = ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                    descriptor.put(), nullptr) &&
               SetKernelObjectSecurity(mutex_.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       descriptor.get());
  }
  ~MutexWithDescriptor() {
    if (!applied_) return;
    // Wine keeps no descriptor for an object made without one: it gets the program's own then.
    win32::UniqueLocalMemory own;
    ConvertStringSecurityDescriptorToSecurityDescriptorA(LogMutexSddl(testing::CurrentUserSid()).c_str(),
                                                         SDDL_REVISION_1, own.put(), nullptr);
    BOOL present = FALSE, defaulted = FALSE;
    PACL own_dacl = nullptr;
    GetSecurityDescriptorDacl(own.get(), &present, &own_dacl, &defaulted);
    SetSecurityInfo(mutex_.get(), SE_KERNEL_OBJECT,
                    (saved_owner_ ? OWNER_SECURITY_INFORMATION : 0) | DACL_SECURITY_INFORMATION,
                    saved_owner_, nullptr, saved_dacl_ ? saved_dacl_ : own_dacl, nullptr);
  }
  bool applied() const { return applied_; }
  HANDLE get() const { return mutex_.get(); }

 private:
  win32::UniqueHandle mutex_;
  win32::UniqueLocalMemory saved_;
  PSID saved_owner_ = nullptr;
  PACL saved_dacl_ = nullptr;
  bool applied_ = false;
};

TEST_F(LogFileTest, AMutexThatShutsTheProgramOutCostsNoLine) {
  // A mutex that the program may not open: owned by SYSTEM and for SYSTEM only. (Here any process
  // may give its object to SYSTEM; on Windows an account the program cannot open makes it.)
  const std::pair<bool, std::string> cases[] = {
      {false, "remarks : \"The machine-wide log mutex could not be opened; lines are kept apart "
              "only from this session's writers.\"; mutex : \"fmprereq\"; error_code : 5;"},
      {true, "remarks : \"The log mutex could not be opened; lines are written without it.\"; "
             "error_code : 5;"},
  };
  for (const auto& [session_taken, note] : cases) {
    const MutexWithDescriptor global("Global\\fmprereq", "O:SYD:P(A;;GA;;;SY)");
    std::optional<MutexWithDescriptor> session;
    if (session_taken) session.emplace("fmprereq", "O:SYD:P(A;;GA;;;SY)");
    ASSERT_TRUE(global.applied());
    ASSERT_TRUE(!session || session->applied());
    DeleteFileA(log_.c_str());
    const testing::RunResult run = Append(3, "Denied");
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_LT(run.elapsed_ms, 2900u);  // never waited on a mutex another writer could not see
    const std::string log = testing::ReadFileBytes(log_);
    EXPECT_NE(log.find("probe : Denied; line : 2;"), std::string::npos);
    // Said once, with the first line.
    const std::string line = "[ ERROR ] operation : LogFile; status : failure; " + note;
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find(line), log.rfind(line));
  }
}

TEST_F(LogFileTest, AMutexOthersMayTakeIsNotWaitedFor) {
  // The program's own account owns it, but its DACL lets everyone wait on it, so anyone could hold
  // back every line of the log. It is held here meanwhile: a writer that used it would wait.
  const std::string user = testing::CurrentUserSid();
  const MutexWithDescriptor global("Global\\fmprereq",
                                   "O:" + user + "D:P(A;;GA;;;" + user + ")(A;;0x100000;;;WD)");
  ASSERT_TRUE(global.applied());
  testing::RunResult run;
  {
    const win32::MutexLock held(global.get(), 0);
    run = Append(3, "Open");
  }
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_LT(run.elapsed_ms, 2900u);
  const std::string log = testing::ReadFileBytes(log_);
  EXPECT_NE(log.find("probe : Open; line : 2;"), std::string::npos) << log;
  const std::string line =
      "[ ERROR ] operation : LogFile; status : failure; remarks : \"The log mutex lets an account the "
      "agent does not run as take or change it; lines are written without it.\"; mutex : "
      "\"Global\\fmprereq\"; account : \"S-1-1-0\"; right : \"synchronize\";";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find(line), log.rfind(line));
}

// Gives a mutex that this process opened with all access another DACL.
void SetDacl(HANDLE mutex, const std::string& sddl) {
  win32::UniqueLocalMemory descriptor;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                   descriptor.put(), nullptr));
  ASSERT_TRUE(SetKernelObjectSecurity(mutex, DACL_SECURITY_INFORMATION, descriptor.get()));
}

TEST_F(LogFileTest, AMutexThatGrantsTheProgramOnlyWaitingStillOrdersEveryLine) {
  // The agent's mutex, made before the program runs (this process's own log may have made it).
  win32::UniqueHandle mutex(CreateMutexA(nullptr, FALSE, "Global\\fmprereq"));
  ASSERT_TRUE(mutex);
  const std::string user = testing::CurrentUserSid();
  ASSERT_NO_FATAL_FAILURE(SetDacl(mutex.get(), "D:P(A;;0x120000;;;" + user + ")"));  // SYNCHRONIZE | READ_CONTROL
  // Wine enforces a mutex's DACL: asking for all access, as CreateMutexA does, is refused.
  EXPECT_FALSE(win32::UniqueHandle(CreateMutexA(nullptr, FALSE, "Global\\fmprereq")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  const std::string program = "\"" + testing::ProgramPath() + "\"";
  ASSERT_EQ(WaitForSingleObject(mutex.get(), 0), WAIT_OBJECT_0);
  Child run(program);
  Sleep(1500);
  EXPECT_FALSE(testing::FileExists(log_)) << "a line written while another writer held the mutex";
  ReleaseMutex(mutex.get());
  EXPECT_EQ(run.Wait(30000), 87u);
  const auto records = ReadRecords(log_);
  EXPECT_EQ(records.size(), 14u);  // as ProgramWithoutArgumentsLogsItsOptionsAndExitsWith87
  for (const Record& r : records) EXPECT_EQ(r.message.find("operation : LogFile"), std::string::npos);
  SetDacl(mutex.get(), LogMutexSddl(user));  // for this process's own log, and the writers after it
}

TEST_F(LogFileTest, FilesWithAnotherNameAreNeverWritten) {
  // A file elsewhere, hard-linked under the log's own names: writing, copying or truncating
  // through the link would change it.
  testing::TempDir elsewhere;
  const std::string victim = elsewhere / "victim.txt";
  const std::string secret = "not the log's to change\r\n";
  testing::WriteFileBytes(victim, secret);
  // As a backup: the rotation skips it, and the log still starts again small.
  testing::WriteFileBytes(log_, std::string(kLimit, 'o'));
  ASSERT_TRUE(CreateHardLinkA(Backup(1).c_str(), victim.c_str(), nullptr));
  ASSERT_EQ(Append(2, "Linked").exit_code, 0u);
  EXPECT_EQ(testing::ReadFileBytes(victim), secret);
  EXPECT_LT(testing::ReadFileBytes(log_).size(), 1000u);
  // As the active file: its lines are dropped.
  ASSERT_TRUE(DeleteFileA(log_.c_str()));
  ASSERT_TRUE(CreateHardLinkA(log_.c_str(), victim.c_str(), nullptr));
  ASSERT_EQ(Append(2, "Dropped").exit_code, 0u);
  EXPECT_EQ(testing::ReadFileBytes(victim), secret);
}

TEST(LogPathTest, TheCurrentDirectoryFallbackIsFixedAtTheFirstLine) {
  // No agent install directory: the log is below the current directory at the first line, and
  // stays there when the process moves on and the log rotates afterwards.
  testing::TempDir first;
  testing::TempDir second;
  const std::string logs = first / "logs";
  const std::string moved_logs = second / "logs";
  ASSERT_TRUE(CreateDirectoryA(logs.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(moved_logs.c_str(), nullptr));
  const std::string log = logs + "\\fmprereqhandler.log";
  // The open line and the first line fit below 3 MiB; the lines after the move pass it.
  testing::WriteFileBytes(log, std::string(kLimit - 200, 'o'));
  char before[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, before);
  ASSERT_TRUE(SetCurrentDirectoryA(first.path().c_str()));
  const testing::RunResult run = RunCommand("\"" + ToolPath("log_probe.exe") + "\" append-after-chdir \"" +
                                            second.path() + "\" 6 Moved");
  SetCurrentDirectoryA(before);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_TRUE(testing::FileExists(logs + "\\fmprereqhandler1.log"));  // it did rotate
  EXPECT_NE(testing::ReadFileBytes(log).find("probe : Moved; line : 5;"), std::string::npos);
  EXPECT_FALSE(testing::FileExists(moved_logs + "\\fmprereqhandler.log"));
  EXPECT_FALSE(testing::FileExists(moved_logs + "\\fmprereqhandler1.log"));
  // Without a logs folder at the first line nothing is logged, and the lines after the move do not
  // find the new current directory's logs folder either.
  testing::TempDir bare;
  ASSERT_TRUE(SetCurrentDirectoryA(bare.path().c_str()));
  const testing::RunResult late = RunCommand("\"" + ToolPath("log_probe.exe") + "\" append-after-chdir \"" +
                                             second.path() + "\" 3 Late");
  SetCurrentDirectoryA(before);
  EXPECT_EQ(late.exit_code, 0u);
  EXPECT_FALSE(testing::FileExists(moved_logs + "\\fmprereqhandler.log"));
}

}  // namespace
}  // namespace varnok
