// runner.exe [-t ms] [-m] <command line...>
// Starts a command line inside Wine, waits for it and prints its full 32-bit exit code, which a
// Linux exit status would cut to 8 bits (51006 would read as 62). With -t the program is
// terminated with exit code 258 after that many milliseconds. With -m the line also ends with
// peak_ws_kb=N, the child's peak working set in KiB. The words after the options are joined with
// single blanks into the command line; quote paths with blanks yourself.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "win32/unique_handle.h"

namespace {

// Wine reads a process's memory counters from /proc of the living Unix process, so once the
// child has ended they read as zero: the peak is sampled while it runs. Short enough to see the
// peak of a run of a few tens of milliseconds; long enough that the samples (one wineserver
// request each, which the child's own requests queue behind) stay a small share of its time.
constexpr DWORD kPeakSampleMs = 5;

void SamplePeak(HANDLE process, SIZE_T* peak) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (K32GetProcessMemoryInfo(process, &counters, sizeof counters) &&
      counters.PeakWorkingSetSize > *peak) {
    *peak = counters.PeakWorkingSetSize;
  }
}

DWORD WaitSampling(HANDLE process, DWORD timeout, SIZE_T* peak) {
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    DWORD slice = kPeakSampleMs;
    if (timeout != INFINITE) {
      const ULONGLONG spent = GetTickCount64() - start;
      if (spent >= timeout) return WAIT_TIMEOUT;
      if (timeout - spent < slice) slice = static_cast<DWORD>(timeout - spent);
    }
    const DWORD wait = WaitForSingleObject(process, slice);
    if (wait != WAIT_TIMEOUT) return wait;
    SamplePeak(process, peak);
  }
}

}  // namespace

int main(int argc, char** argv) {
  DWORD timeout = INFINITE;
  bool report_peak = false;
  int i = 1;
  for (;;) {
    if (i + 1 < argc && std::string(argv[i]) == "-t") {
      timeout = static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10));
      i += 2;
    } else if (i < argc && std::string(argv[i]) == "-m") {
      report_peak = true;
      ++i;
    } else {
      break;
    }
  }
  std::string command;
  for (; i < argc; ++i) {
    if (!command.empty()) command += ' ';
    command += argv[i];
  }
  if (command.empty()) {
    std::fprintf(stderr, "usage: runner.exe [-t ms] [-m] <command line>\n");
    return 2;
  }
  std::vector<char> writable(command.begin(), command.end());
  writable.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  varnok::win32::ProcessInformation process;
  const ULONGLONG start = GetTickCount64();
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, process.put())) {
    std::printf("exit=none create_error=%lu\n", GetLastError());
    return 2;
  }
  SIZE_T peak = 0;
  const DWORD wait = report_peak ? WaitSampling(process.process(), timeout, &peak)
                                 : WaitForSingleObject(process.process(), timeout);
  if (wait != WAIT_OBJECT_0) TerminateProcess(process.process(), 258);
  WaitForSingleObject(process.process(), INFINITE);
  const ULONGLONG elapsed = GetTickCount64() - start;
  // Windows keeps the counters of an ended process; there this last sample is the exact peak.
  if (report_peak) SamplePeak(process.process(), &peak);
  DWORD code = 0;
  GetExitCodeProcess(process.process(), &code);
  if (report_peak) {
    std::printf("exit=%lu (0x%08lX) wait=%lu elapsed_ms=%llu peak_ws_kb=%llu\n", code, code, wait,
                elapsed, static_cast<unsigned long long>(peak / 1024));
  } else {
    std::printf("exit=%lu (0x%08lX) wait=%lu elapsed_ms=%llu\n", code, code, wait, elapsed);
  }
  std::fflush(stdout);
  return static_cast<int>(code);
}
