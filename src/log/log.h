// The agent's shared prerequisite log. Each call appends one framed line; failures of the log are
// never reported to the caller (the line is lost and the caller carries on).
#pragma once

#include <string_view>

#if defined(__MINGW32__)
#define VARNOK_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define VARNOK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

namespace varnok {

constexpr char kLogFileName[] = "fmprereqhandler.log";

// Names the log file; read once, when the first line resolves the path. Later calls do nothing.
void SetLogFileName(std::string_view name);

// printf-style, UTF-8; data goes in the arguments, never in the format. A %s value longer than
// 16 KiB is written cut to 16 KiB with a marker giving its full length; CR and LF are written as
// the two characters \r and \n, other control bytes as \xNN, and line separators and characters
// the log's code page cannot hold as \u{XXXX}, so that one record is always one physical line
// (see EscapeLogText).
void LogInfo(const char* format, ...) VARNOK_PRINTF(1, 2);
void LogError(const char* format, ...) VARNOK_PRINTF(1, 2);

enum class LogLevel { kInfo, kError };

class LogCodePage;

namespace log_internal {
// The backend that stores a formatted, escaped message. The Windows build writes the log file;
// the host tests link a backend that keeps the lines in memory.
void SetFileName(std::string_view name);
void WriteLine(LogLevel level, std::string_view message);
// The code page the log is written in: the machine's ANSI code page in the Windows build.
LogCodePage& CodePage();
}  // namespace log_internal

}  // namespace varnok
