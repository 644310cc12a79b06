// Entry point of app_varnok.exe: the run's result is the process exit code, unchanged. The
// arguments are taken as Windows passes them, in UTF-16, so that a display name in any script
// reaches the run exactly (the ANSI argument vector would hold "?" for what the code page lacks).
#include <windows.h>

#include <string>
#include <vector>

#include "run/run_start.h"
#include "run/system_run_environment.h"
#include "run/watchdog.h"
#include "win32/bounded_call.h"
#include "win32/system_library.h"
#include "win32/text.h"

int wmain(int argc, wchar_t** argv) {
  // Armed before anything that can block: the first log line opens the log file.
  varnok::Watchdog watchdog(varnok::kStartDeadlineMs);
  varnok::win32::RestrictDllSearchToSystem();
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(varnok::win32::Utf8(argv[i]));
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  const int exit_code =
      varnok::RunApplication(argc, pointers.data(), varnok::SystemRunEnvironment(watchdog));
  // A file step that never returned may hold a lock that the normal exit needs (the loader's,
  // taken for every DLL's detach): the run has said all it had to, so it ends here.
  if (varnok::win32::LeftBehindCount() > 0) {
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exit_code));
  }
  return exit_code;
}
