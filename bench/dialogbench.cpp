// dialogbench.exe <stand-in uninstaller> [minutes]
// Time to failure of an uninstaller that shows a message box nobody answers: the stand-in is
// started the way app_varnok starts a machine-wide uninstaller in session 0 (varnok::ExecuteFile
// with the stuck-window watch on; Wine is never session 0, so the watch is switched on here).
// Prints "result=<code> elapsed_ms=<ms>".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "process/process_launch.h"
#include "process/stuck_window.h"

int main(int argc, char** argv) {
  if (argc < 2) return 87;
  const unsigned minutes = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 30;
  const std::string program = argv[1];
  std::string folder = program.substr(0, program.find_last_of('\\'));
  const std::string command = "\"" + program + "\" 0 --message-box \"Remove everything?\"";
  const ULONGLONG start = GetTickCount64();
  const int result = varnok::ExecuteFile(command, "", folder, minutes, varnok::kStuckWindowIdleMs);
  std::printf("result=%d elapsed_ms=%llu\n", result, GetTickCount64() - start);
  return 0;
}
