// Entry point of app_varnok.exe: the run's result is the process exit code, unchanged.
#include "run/run_start.h"
#include "run/system_run_environment.h"
#include "win32/system_library.h"

int main(int argc, char** argv) {
  varnok::win32::RestrictDllSearchToSystem();
  return varnok::RunApplication(argc, argv, varnok::SystemRunEnvironment());
}
