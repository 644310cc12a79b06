#include "log/log_format.h"

#include <gtest/gtest.h>

#include "support/host/log_capture.h"

namespace varnok {
namespace {

TEST(LogFrame, MatchesTheAgentsLineFormat) {
  const std::string ts = FormatTimestampText(FormatLogDate(2026, 3, 5), FormatLogTime(9, 4, 3, 7));
  EXPECT_EQ(ts, "[ 2026-03-05 09:04:03:007 ]");
  EXPECT_EQ(FormatLogTime(23, 59, 59, 999), "23:59:59:999");
  EXPECT_EQ(FormatLogTime(0, 0, 0, 42), "00:00:00:042");
  EXPECT_EQ(FormatLogLine(ts, FormatThreadText(5120), LogLevel::kInfo, "Log Open : x"),
            "[ 2026-03-05 09:04:03:007 ][ 5120 ] [ INFO ] Log Open : x");
  EXPECT_EQ(FormatLogLine("[ t ]", "[ 1 ]", LogLevel::kError, "m"), "[ t ][ 1 ] [ ERROR ] m");
}

TEST(LogEscaping, LineBreaksCannotStartAForgedRecord) {
  struct Row {
    std::string in, out;
  };
  const Row rows[] = {
      {"plain", "plain"},
      {"a\nb", "a\\nb"},
      {"a\r\n[ 2026-01-01 00:00:00:000 ][ 1 ] [ INFO ] forged", "a\\r\\n[ 2026-01-01 00:00:00:000 ][ 1 ] [ INFO ] forged"},
      {"\r\r\n\n", "\\r\\r\\n\\n"},
      {"tab\there \x01\xFF", "tab\there \x01\xFF"},  // other bytes pass unchanged
  };
  for (const Row& r : rows) EXPECT_EQ(EscapeLineBreaks(r.in), r.out);
}

TEST(LogCalls, FormatWholeMessagesOfAnyLengthAndEscapeThem) {
  testing::TakeLogLines();
  const std::string big(10000, 'x');
  LogInfo("display_name : \"%s\"; n : %d;", big.c_str(), 7);
  LogError("name : \"%s\";", "Evil\n[ INFO ] fake");
  LogInfo("%s", "");  // an empty message writes nothing
  const auto lines = testing::TakeLogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, LogLevel::kInfo);
  EXPECT_EQ(lines[0].message, "display_name : \"" + big + "\"; n : 7;");
  EXPECT_EQ(lines[1].level, LogLevel::kError);
  EXPECT_EQ(lines[1].message, "name : \"Evil\\n[ INFO ] fake\";");
}

TEST(LogPath, ResolvesBelowTheInstallDirectory) {
  struct Row {
    std::string install_dir, file_name, path;
  };
  const Row rows[] = {
      {"C:\\Agent", "fmprereqhandler.log", "C:\\Agent\\logs\\fmprereqhandler.log"},
      {"C:\\Agent\\", "fmprereqhandler.log", "C:\\Agent\\logs\\fmprereqhandler.log"},
      {"", "fmprereqhandler.log", ".\\logs\\fmprereqhandler.log"},
      {"C:/Agent//x", "", "C:\\Agent\\x\\logs\\fmprereqhandler.log"},
      {"\\\\server\\share", "a.log", "server\\share\\logs\\a.log"},  // leading \\ is lost
  };
  for (const Row& r : rows) EXPECT_EQ(ResolveLogPath(r.install_dir, r.file_name), r.path);
  EXPECT_EQ(NormalizeLogPath("single"), "single\\");
  EXPECT_EQ(NormalizeLogPath("//"), "\\");
}

TEST(LogRotation, BackupNamesAndCheckedLines) {
  const std::string active = "C:\\A.b\\logs\\fmprereqhandler.log";
  EXPECT_EQ(LogBackupPath(active, 0), active);
  EXPECT_EQ(LogBackupPath(active, 1), "C:\\A.b\\logs\\fmprereqhandler1.log");
  EXPECT_EQ(LogBackupPath(active, 4), "C:\\A.b\\logs\\fmprereqhandler4.log");

  RotationCounter counter;
  std::vector<int> checked;
  for (int line = 1; line <= 1501; ++line) {
    if (counter.NextLineChecksSize()) checked.push_back(line);
  }
  EXPECT_EQ(checked, (std::vector<int>{1, 501, 1001, 1501}));
}

}  // namespace
}  // namespace varnok
