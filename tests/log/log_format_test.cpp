#include "log/log_format.h"

#include <gtest/gtest.h>

#include "common/utf8.h"
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

TEST(LogEscaping, OneRecordOneLineAndNoTerminalControl) {
  struct Row {
    std::string in, out;
  };
  const Row rows[] = {
      {"plain", "plain"},
      {"a\nb", "a\\nb"},
      {"a\r\n[ 2026-01-01 00:00:00:000 ][ 1 ] [ INFO ] forged", "a\\r\\n[ 2026-01-01 00:00:00:000 ][ 1 ] [ INFO ] forged"},
      {"\r\r\n\n", "\\r\\r\\n\\n"},
      {"tab\there", "tab\there"},                                  // tab stays
      {"\x1B[2J\x1B]0;title\x07", "\\x1B[2J\\x1B]0;title\\x07"},   // ESC sequences, BEL
      {"back\bspace\x7F", "back\\x08space\\x7F"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"\x01\x1F\x20", "\\x01\\x1F "},                              // class edges
      // UTF-8 in, the code page's bytes out (1252 here): code-page text is written as ever.
      {"\u00E9\u00FF\u20AC quotes \" and ; stay", "\xE9\xFF\x80 quotes \" and ; stay"},
      // Outside the code page: the code point, never "?".
      {"\u0416\u4E2D\U0001F600", "\\u{0416}\\u{4E2D}\\u{1F600}"},
      // Line breaks to some readers, under any code page; bytes that are not UTF-8.
      {"a\u2028b\u2029c\u0085d", "a\\u{2028}b\\u{2029}c\\u{0085}d"},
      {"\xE9\xFF\xC3", "\\xE9\\xFF\\xC3"},
      {"\\n as typed", "\\n as typed"},  // a literal backslash-n is not undone
  };
  for (const Row& r : rows) EXPECT_EQ(EscapeLogText(r.in), r.out) << r.in;
}

// A machine whose ANSI code page is UTF-8 (65001) holds every character.
class Utf8CodePage : public LogCodePage {
 public:
  std::string Encode(char32_t c) override {
    std::string bytes;
    AppendCodePoint(c, &bytes);
    return bytes;
  }
};

TEST(LogEscaping, LineSeparatorsAreEscapedEvenWhereTheCodePageHoldsThem) {
  Utf8CodePage utf8;
  EXPECT_EQ(EscapeLogText("a\u2028b\u2029c\u0085d\u041F", utf8),
            "a\\u{2028}b\\u{2029}c\\u{0085}d\u041F");
}

TEST(LogValues, LongValuesAreCutWithTheirLength) {
  EXPECT_EQ(CutLogValue(std::string(16384, 'a')), std::string(16384, 'a'));
  EXPECT_EQ(CutLogValue(std::string(16385, 'b')),
            std::string(16384, 'b') + "...[cut: 16385 bytes in all]");
  EXPECT_EQ(CutLogValue(""), "");
  // Counted as the log writes them, never cut inside a character: 1252's "\u00E9" takes one byte,
  // a Cyrillic letter its escape's eight.
  const std::string e = "\u00E9";
  EXPECT_EQ(CutLogValue(std::string(16383, 'a') + e + e),
            std::string(16383, 'a') + e + "...[cut: 16385 bytes in all]");
  const std::string zhe = "\u0416";
  EXPECT_EQ(CutLogValue(std::string(16380, 'a') + zhe),
            std::string(16380, 'a') + "...[cut: 16388 bytes in all]");
  testing::TakeLogLines();
  const std::string huge(5 * 1024 * 1024, 'x');
  LogInfo("command_line : \"%s\"; other : \"%s\"; n : %d; size : %zu; id : %lu; %%", huge.c_str(),
          "short", -7, size_t{3145728}, 4294967295ul);
  const auto lines = testing::TakeLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].message, "command_line : \"" + std::string(16384, 'x') +
                                  "...[cut: 5242880 bytes in all]\"; other : \"short\"; n : -7; "
                                  "size : 3145728; id : 4294967295; %");
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

TEST(LogPath, ResolvesBelowTheInstallDirectoryOrTheCurrentOne) {
  struct Row {
    std::string install_dir, file_name, path;
  };
  const Row rows[] = {
      {"C:\\Agent", "fmprereqhandler.log", "C:\\Agent\\logs\\fmprereqhandler.log"},
      {"C:\\Agent\\", "fmprereqhandler.log", "C:\\Agent\\logs\\fmprereqhandler.log"},
      {"", "fmprereqhandler.log", "D:\\Work\\Dir\\logs\\fmprereqhandler.log"},  // never relative
      {"C:/Agent//x", "", "C:\\Agent\\x\\logs\\fmprereqhandler.log"},
      {"\\\\server\\share", "a.log", "\\\\server\\share\\logs\\a.log"},  // a share stays a share
      {"//server/share/", "a.log", "\\\\server\\share\\logs\\a.log"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ResolveLogPath(r.install_dir, r.file_name, "D:\\Work\\Dir"), r.path) << r.install_dir;
  }
  EXPECT_EQ(NormalizeLogPath("single"), "single\\");
  EXPECT_EQ(NormalizeLogPath("//"), "\\\\\\");
}

TEST(LogRotation, BackupNames) {
  const std::string active = "C:\\A.b\\logs\\fmprereqhandler.log";
  EXPECT_EQ(LogBackupPath(active, 0), active);
  EXPECT_EQ(LogBackupPath(active, 1), "C:\\A.b\\logs\\fmprereqhandler1.log");
  EXPECT_EQ(LogBackupPath(active, 4), "C:\\A.b\\logs\\fmprereqhandler4.log");
}

TEST(LogRotation, RotatesFromTheBytesTheFileHolds) {
  LogSizeTracker fresh;
  EXPECT_TRUE(fresh.SizeReadDue());  // nothing known before the first read
  struct Row {
    long long read;   // the size read
    bool rotate;
  };
  const Row boundary[] = {{0, false}, {3145727, false}, {3145728, true}, {3145729, true}, {-1, false}};
  for (const Row& r : boundary) {
    LogSizeTracker tracker;
    tracker.Reset(r.read);
    EXPECT_EQ(tracker.RotationDue(), r.rotate) << r.read;
  }
  // This process's own lines count: the line that reaches 3 MiB makes the next one rotate.
  LogSizeTracker tracker;
  tracker.Reset(3145728 - 100);
  tracker.Wrote(99);
  EXPECT_FALSE(tracker.RotationDue());
  EXPECT_FALSE(tracker.SizeReadDue());
  tracker.Wrote(1);
  EXPECT_TRUE(tracker.RotationDue());
  EXPECT_TRUE(tracker.SizeReadDue());  // read the real size before rotating

  // The real size is read again every 64 KiB written or 500 lines, whichever comes first.
  struct Cadence {
    size_t line_bytes;
    int reads_in_2000_lines;
  };
  for (const Cadence c : {Cadence{10, 4}, Cadence{1000, 31}, Cadence{65536, 2000}, Cadence{131, 4}}) {
    LogSizeTracker t;
    int reads = 0;
    for (int line = 0; line < 2000; ++line) {
      if (t.SizeReadDue()) {
        ++reads;
        t.Reset(0);  // another process rotated meanwhile: the file is small again
      }
      t.Wrote(c.line_bytes);
    }
    EXPECT_EQ(reads, c.reads_in_2000_lines) << c.line_bytes;
  }
}

TEST(LogRotation, OneProcessWritingAcrossThreeMebibytesRotatesWhereTheFileReachesThem) {
  // The backend's loop over a file only this process writes: read the size when due, rotate when
  // due (the new file's tracker starts unknown and is read at the next line), write. The rotation
  // falls before the first line that would start at or past 3 MiB.
  struct Row {
    size_t line_bytes;
    long long start;                    // what the file held before
    std::vector<long long> rotated_at;  // the file's size at each rotation
  };
  const Row rows[] = {
      {1024, 0, {3145728, 3145728}},       // 3,072 lines reach 3 MiB exactly
      {1000, 0, {3146000, 3146000}},       // the 3,146th line passes it
      {1000, 3145000, {3146000, 3146000, 3146000}},  // nearly full: its first line does
      {70000, 0, {3150000, 3150000}},      // lines above 64 KiB: 45 of them
  };
  for (const Row& r : rows) {
    long long file = r.start;
    LogSizeTracker tracker;
    std::vector<long long> rotated_at;
    const long long lines = 7000000 / static_cast<long long>(r.line_bytes);
    for (long long line = 0; line < lines; ++line) {
      if (tracker.SizeReadDue()) tracker.Reset(file);
      if (tracker.RotationDue()) {
        rotated_at.push_back(file);
        file = 0;
        tracker = LogSizeTracker();
      }
      file += static_cast<long long>(r.line_bytes);
      tracker.Wrote(r.line_bytes);
    }
    EXPECT_EQ(rotated_at, r.rotated_at) << r.line_bytes << " from " << r.start;
  }
}

}  // namespace
}  // namespace varnok
