// runner.exe [-t ms] <command line...>
// Starts a command line inside Wine, waits for it and prints its full 32-bit exit code, which a
// Linux exit status would cut to 8 bits (51006 would read as 62). With -t the program is
// terminated with exit code 258 after that many milliseconds. The words after the options are
// joined with single blanks into the command line; quote paths with blanks yourself.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "win32/unique_handle.h"

int main(int argc, char** argv) {
  DWORD timeout = INFINITE;
  int i = 1;
  if (i + 1 < argc && std::string(argv[i]) == "-t") {
    timeout = static_cast<DWORD>(std::strtoul(argv[i + 1], nullptr, 10));
    i += 2;
  }
  std::string command;
  for (; i < argc; ++i) {
    if (!command.empty()) command += ' ';
    command += argv[i];
  }
  if (command.empty()) {
    std::fprintf(stderr, "usage: runner.exe [-t ms] <command line>\n");
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
  const DWORD wait = WaitForSingleObject(process.process(), timeout);
  if (wait != WAIT_OBJECT_0) TerminateProcess(process.process(), 258);
  WaitForSingleObject(process.process(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.process(), &code);
  std::printf("exit=%lu (0x%08lX) wait=%lu elapsed_ms=%llu\n", code, code, wait,
              GetTickCount64() - start);
  std::fflush(stdout);
  return static_cast<int>(code);
}
