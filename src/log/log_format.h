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

// What the log's code page makes of one character: the agent's other writers use the machine's
// ANSI code page, so the program writes in it too.
class LogCodePage {
 public:
  virtual ~LogCodePage() = default;
  // The character's bytes in the code page when it converts there and back unchanged; empty when
  // it does not.
  virtual std::string Encode(char32_t c) = 0;
};

// What a record's UTF-8 text becomes in the file: CR and LF as the two characters \r and \n,
// every other control character (0x00 to 0x1F but tab, and 0x7F) and every byte that is not
// UTF-8 as \xNN; U+0085, U+2028 and U+2029 (line breaks to some readers) and every character that
// does not convert exactly to the code page and back as \u{XXXX} (its code point in hex, at
// least four digits), never as "?"; every other character as its bytes in the code page. A value
// can still hold text that looks like "key : value;" pairs, but one record stays one line and no
// registry text can drive the terminal of someone reading the log.
std::string EscapeLogText(std::string_view message, LogCodePage& code_page);
// The same in the code page of the log (log_internal::CodePage).
std::string EscapeLogText(std::string_view message);

// A logged value that takes more than kLogValueLimit bytes as the log writes it (each character
// counted as its bytes in the code page, or as its \u{...} escape when it has none there; so
// ASCII and code-page text count as they always have): the characters that fit, never part of
// one, and a marker with the value's full length. Shorter values come back unchanged.
std::string CutLogValue(std::string_view value, LogCodePage& code_page);
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
