// Entry point of app_varnok.exe: the run's result is the process exit code, unchanged. The
// arguments are taken as Windows passes them, in UTF-16, so that a display name in any script
// reaches the run exactly (the ANSI argument vector would hold "?" for what the code page lacks).
#include <string>
#include <vector>

#include "run/run_start.h"
#include "run/system_run_environment.h"
#include "win32/system_library.h"
#include "win32/text.h"

int wmain(int argc, wchar_t** argv) {
  varnok::win32::RestrictDllSearchToSystem();
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(varnok::win32::Utf8(argv[i]));
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  return varnok::RunApplication(argc, pointers.data(), varnok::SystemRunEnvironment());
}
