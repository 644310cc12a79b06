// logbench.exe <lines> <bare file> <reopen file> [log-first|bare-first]
// Throughput of the program's log (varnok::LogInfo into the agent's log file, as app_varnok
// writes it) against a bare loop that appends the same framed bytes to another file with one
// long-lived fopen("a") stream and fputs + fflush per line: the least that a log which hands every
// line to the system at once can do, and the way the log itself keeps its file. For comparison
// only, the same loop opening and closing the file for every line. Then the cost per line of the
// pieces that only the log pays, so that a shortfall can be traced.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "log/log.h"
#include "log/log_format.h"

namespace {

constexpr char kFormat[] = "operation : app_varnok; remarks : \"Version candidate [%s]: %s\"; line : %d;";
constexpr char kVersion[] = "2.4";
constexpr char kReason[] = "within range [1.0, 2.9]";

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Message(int line) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, kFormat, kVersion, kReason, line);
  return buffer;
}

double RunLog(int lines) {
  varnok::SetLogFileName(varnok::kLogFileName);
  // The first line opens the file (registry lookup, "Log Open" line); it is not what is measured.
  varnok::LogInfo(kFormat, kVersion, kReason, 0);
  const double start = Now();
  for (int i = 1; i <= lines; ++i) varnok::LogInfo(kFormat, kVersion, kReason, i);
  return Now() - start;
}

// The lines are framed before the clock starts: the frame's text is the log's own work and is
// measured with the log, not charged to the bare loop.
std::vector<std::string> FramedLines(int lines) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::string timestamp = varnok::FormatTimestampText(
      varnok::FormatLogDate(now.wYear, now.wMonth, now.wDay),
      varnok::FormatLogTime(now.wHour, now.wMinute, now.wSecond, now.wMilliseconds));
  const std::string thread = varnok::FormatThreadText(GetCurrentThreadId());
  std::vector<std::string> framed;
  framed.reserve(lines);
  for (int i = 1; i <= lines; ++i) {
    framed.push_back(
        varnok::FormatLogLine(timestamp, thread, varnok::LogLevel::kInfo, Message(i)) + "\n");
  }
  return framed;
}

double RunBare(int lines, const char* path) {
  const std::vector<std::string> framed = FramedLines(lines);
  FILE* file = std::fopen(path, "a");  // text mode, as the log: LF is written as CR LF
  if (!file) {
    std::fprintf(stderr, "logbench: cannot open %s\n", path);
    std::exit(1);
  }
  const double start = Now();
  for (const std::string& line : framed) {
    std::fputs(line.c_str(), file);
    std::fflush(file);
  }
  const double seconds = Now() - start;
  std::fclose(file);
  return seconds;
}

double RunBareReopen(int lines, const char* path) {
  const std::vector<std::string> framed = FramedLines(lines);
  const double start = Now();
  for (const std::string& line : framed) {
    FILE* file = std::fopen(path, "a");
    if (!file) {
      std::fprintf(stderr, "logbench: cannot open %s\n", path);
      std::exit(1);
    }
    std::fputs(line.c_str(), file);
    std::fflush(file);
    std::fclose(file);
  }
  return Now() - start;
}

// Microseconds per call of the steps the log adds to the bare write. Under Wine every call on a
// kernel object is a request to the wineserver, which is what makes these steps expensive there.
double MutexCycleUs(int lines) {
  const double start = Now();
  for (int i = 0; i < lines; ++i) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "fmprereq");
    if (WaitForSingleObject(mutex, 3000) == WAIT_OBJECT_0) ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  return (Now() - start) * 1e6 / lines;
}

// The same with one handle kept for the whole process.
double HeldMutexCycleUs(int lines) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "fmprereq");
  const double start = Now();
  for (int i = 0; i < lines; ++i) {
    if (WaitForSingleObject(mutex, 3000) == WAIT_OBJECT_0) ReleaseMutex(mutex);
  }
  const double us = (Now() - start) * 1e6 / lines;
  CloseHandle(mutex);
  return us;
}

// The log refreshes its date and time text at most once per millisecond tick, not every line.
double ClockRefreshUs(int lines) {
  const double start = Now();
  volatile int sink = 0;
  for (int i = 0; i < lines; ++i) {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    SYSTEMTIME utc{};
    SYSTEMTIME wall{};
    GetSystemTime(&utc);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &wall)) wall = utc;
    sink = sink + (local ? local->tm_mday : 0) + wall.wMilliseconds;
  }
  return (Now() - start) * 1e6 / lines;
}

double FormatUs(int lines) {
  const double start = Now();
  volatile size_t total = 0;
  for (int i = 0; i < lines; ++i) {
    const int length = std::snprintf(nullptr, 0, kFormat, kVersion, kReason, i);
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::snprintf(buffer.data(), buffer.size(), kFormat, kVersion, kReason, i);
    const std::string line = varnok::FormatLogLine(
        "[ 2026-01-01 00:00:00:000 ]", "[ 1234 ]", varnok::LogLevel::kInfo,
        varnok::EscapeLogText(std::string_view(buffer.data(), length)));
    total = total + line.size();
  }
  return (Now() - start) * 1e6 / lines;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: logbench.exe <lines> <bare file> <reopen file> [log-first|bare-first]\n");
    return 2;
  }
  const int lines = std::atoi(argv[1]);
  const bool log_first = argc > 4 && std::strcmp(argv[4], "log-first") == 0;
  double log_s = 0;
  double bare_s = 0;
  if (log_first) {
    log_s = RunLog(lines);
    bare_s = RunBare(lines, argv[2]);
  } else {
    bare_s = RunBare(lines, argv[2]);
    log_s = RunLog(lines);
  }
  const double reopen_s = RunBareReopen(lines, argv[3]);
  std::printf("lines=%d log_lines_per_s=%.0f bare_lines_per_s=%.0f reopen_lines_per_s=%.0f\n",
              lines, lines / log_s, lines / bare_s, lines / reopen_s);
  const int probes = lines / 4;
  std::printf("per_line_us log=%.1f bare=%.1f mutex_open_wait_release_close=%.1f "
              "mutex_wait_release_only=%.1f clock_refresh_each=%.1f format=%.1f\n",
              log_s * 1e6 / lines, bare_s * 1e6 / lines, MutexCycleUs(probes),
              HeldMutexCycleUs(probes), ClockRefreshUs(probes), FormatUs(probes));
  return 0;
}
