// The log file against the real Win32 API under Wine. Each scenario runs in fresh processes
// (log_probe.exe or the program itself), because the log is opened once per process.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "support/win/wine_support.h"

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

TEST_F(LogFileTest, RotatesAtExactlyThreeMebibytes) {
  struct Row {
    size_t size;
    bool rotates;
  };
  for (const Row row : {Row{kLimit - 1, false}, Row{kLimit, true}}) {
    SCOPED_TRACE(row.size);
    const std::string old(row.size, 'o');
    testing::WriteFileBytes(log_, old);
    DeleteFileA(Backup(1).c_str());
    ASSERT_EQ(Append(1, "R").exit_code, 0u);
    const std::string now = testing::ReadFileBytes(log_);
    if (row.rotates) {
      EXPECT_EQ(testing::ReadFileBytes(Backup(1)), old);
      // The file was emptied before its open line was written.
      const auto records = ReadRecords(log_);
      ASSERT_EQ(records.size(), 3u);
      EXPECT_EQ(records[0].message.substr(0, 11), "Log Open : ");
      EXPECT_EQ(now.find(std::string(64, 'o')), std::string::npos);
    } else {
      EXPECT_FALSE(testing::FileExists(Backup(1)));
      EXPECT_EQ(now.substr(0, old.size()), old);
      EXPECT_GT(now.size(), old.size());
    }
  }
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

}  // namespace
}  // namespace varnok
