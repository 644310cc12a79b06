// Pure pieces of the log: line frame, escaping, path resolution and rotation bookkeeping.
#pragma once

#include <string>
#include <string_view>

#include "log/log.h"

namespace varnok {

constexpr long long kLogRotateSize = 3145728;  // 3 MiB; a file this large or larger is rotated
constexpr int kLogSizeCheckInterval = 500;     // lines between size checks
constexpr int kLogBackupCount = 4;

const char* LogLevelWord(LogLevel level);

// Each CR becomes the two characters \r and each LF \n; nothing else changes.
std::string EscapeLineBreaks(std::string_view message);

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
// result holds none. A leading "\\" is therefore lost.
std::string NormalizeLogPath(std::string_view path);
// The log file's path below an install directory (".\" when it is empty).
std::string ResolveLogPath(std::string_view install_dir, std::string_view file_name);
// Backup n (1..4) of the active log path; n = 0 is the active file itself.
std::string LogBackupPath(std::string_view active_path, int n);

// Counts written lines and says on which ones the file size is examined: the 1st, 501st, ...
class RotationCounter {
 public:
  bool NextLineChecksSize();

 private:
  int count_ = 0;
};

}  // namespace varnok
