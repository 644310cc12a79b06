// The agent's shared prerequisite log. Each call appends one framed line; failures of the log are
// never reported to the caller (the line is lost and the caller carries on).
#pragma once

#include <cstddef>
#include <map>
#include <string>
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
class LogOwnerScope;

// What the lines written for one owner's per-user rows may take in one run: each line counts its
// text as written plus kLogFrameBytes. A user's rows can carry 64 KiB values that fail at once and
// log tens of KiB each; without a bound a few hundred of them would rotate every earlier line,
// the machine-wide removal's included, out of the backups.
constexpr size_t kLogOwnerBudgetBytes = 262144;
constexpr size_t kLogFrameBytes = 54;  // the longest frame, "[ date time ][ thread ] [ ERROR ] ", and CR LF

// One run's log budgets, one per owner of per-user rows (see LogOwnerScope).
class LogOwnerBudgets {
 public:
  explicit LogOwnerBudgets(size_t bytes_per_owner = kLogOwnerBudgetBytes)
      : bytes_per_owner_(bytes_per_owner) {}

  // One ERROR line for each owner whose lines passed the budget since the last call: the owner,
  // how many of its rows had lines left out ("rows_summarised") and how many lines were not
  // written. Meant for the run's end, outside any LogOwnerScope.
  void LogSummaries();

 private:
  friend class LogOwnerScope;
  struct Owner {
    size_t bytes = 0;
    bool spent = false;
    int rows_summarised = 0;
    long lines_not_written = 0;
    bool reported = false;
  };
  size_t bytes_per_owner_;
  std::map<std::string, Owner> owners_;
};

namespace log_internal {
// Whether a line of `bytes` (as written, without its frame) may be written now: always outside a
// LogOwnerScope; inside one, as its owner's budget allows.
bool AdmitLine(size_t bytes);
}  // namespace log_internal

// While it lives, the lines that this thread writes are those of one per-user row of `owner` and
// count against that owner's budget in `budgets`. The first line that would pass the budget is
// not written, and neither is any later line of that owner's rows in the run; the row counts as
// summarised. Lines of other threads (a watchdog's last line) are never counted. Scopes nest; the
// innermost one counts.
class LogOwnerScope {
 public:
  LogOwnerScope(LogOwnerBudgets& budgets, const std::string& owner);
  ~LogOwnerScope();
  LogOwnerScope(const LogOwnerScope&) = delete;
  LogOwnerScope& operator=(const LogOwnerScope&) = delete;

 private:
  friend bool log_internal::AdmitLine(size_t bytes);
  bool Admit(size_t bytes);

  size_t bytes_per_owner_;
  LogOwnerBudgets::Owner& owner_;
  LogOwnerScope* outer_;
  bool summarised_ = false;
};

namespace log_internal {
// The backend that stores a formatted, escaped message. The Windows build writes the log file;
// the host tests link a backend that keeps the lines in memory.
void SetFileName(std::string_view name);
void WriteLine(LogLevel level, std::string_view message);
// The code page the log is written in: the machine's ANSI code page in the Windows build.
LogCodePage& CodePage();
}  // namespace log_internal

}  // namespace varnok
