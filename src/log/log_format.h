// Pure pieces of the log: line frame, escaping, path resolution and rotation bookkeeping.
#pragma once

#include <string>
#include <string_view>

#include "log/log.h"

namespace varnok {

constexpr long long kLogRotateSize = 3145728;  // 3 MiB; a file this large or larger is rotated
constexpr int kLogSizeCheckInterval = 500;     // lines between size reads, at the most
constexpr long long kLogSizeCheckBytes = 65536;  // bytes written between size reads, at the most
constexpr int kLogBackupCount = 4;
constexpr size_t kLogValueLimit = 16384;       // longest value written whole

const char* LogLevelWord(LogLevel level);

// What a record's text becomes in the file: CR and LF as the two characters \r and \n, every
// other control byte (0x00 to 0x1F but tab, and 0x7F) as \xNN; nothing else changes. A value
// can still hold text that looks like "key : value;" pairs, but one record stays one line and
// no registry text can drive the terminal of someone reading the log.
std::string EscapeLogText(std::string_view message);

// A logged value longer than kLogValueLimit: its first kLogValueLimit bytes and a marker with its
// full length. Shorter values come back unchanged.
std::string CutLogValue(std::string_view value);

// "YYYY-MM-DD" and "HH:MM:SS:mmm".
std::string FormatLogDate(int year, int month, int day);
std::string FormatLogTime(int hour, int minute, int second, int millisecond);
// "[ <date> <time> ]" and "[ <thread id> ]".
std::string FormatTimestampText(std::string_view date, std::string_view time);
std::string FormatThreadText(unsigned long thread_id);
// <timestamp><thread> [ LEVEL ] <message>, without a line end.
std::string FormatLogLine(std::string_view timestamp_text, std::string_view thread_text,
                          LogLevel level, std::string_view message);

// Splits at every '\' and '/', drops empty pieces and joins with single '\'; appends '\' when the
// result holds none. A path that begins with two separators (a share) keeps its leading "\\".
std::string NormalizeLogPath(std::string_view path);
// The log file's path below the install directory, or below `current_directory` when the
// install directory is empty (both absolute, so that the path never depends on the current
// directory later on).
std::string ResolveLogPath(std::string_view install_dir, std::string_view file_name,
                           std::string_view current_directory);
// Backup n (1..4) of the active log path; n = 0 is the active file itself.
std::string LogBackupPath(std::string_view active_path, int n);

// How large the log file is, as far as this process can tell between reads of its real size:
// the size last read plus what this process wrote since. Other processes append to the same
// file, so the real size is read again every kLogSizeCheckBytes written or kLogSizeCheckInterval
// lines, whichever comes first, and whenever the count says the file is due for rotation. The
// file then never grows past kLogRotateSize by more than one line plus kLogSizeCheckBytes of
// this process's writing.
class LogSizeTracker {
 public:
  // Before a line: whether the real size must be read now (and Reset with it).
  bool SizeReadDue() const;
  // Before a line, after any read: whether the file is to be rotated first.
  bool RotationDue() const { return size_ >= kLogRotateSize; }
  void Reset(long long size);
  void Wrote(size_t bytes);

 private:
  bool known_ = false;
  long long size_ = 0;
  long long bytes_since_read_ = 0;
  int lines_since_read_ = 0;
};

}  // namespace varnok
