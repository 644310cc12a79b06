#include "run/run_start.h"

#include <exception>

#include "log/log.h"
#include "run/options.h"
#include "run/uninstall_run.h"
#include "run/version.h"

namespace varnok {
namespace {

int RunFromArguments(int argc, const char* const* argv, RunEnvironment& environment) {
  SetLogFileName(kLogFileName);
  LogInfo("app_varnok_version : %s;", VARNOK_VERSION_TEXT);
  RunOptions options;
  if (ProcessArgs(argc, argv, options) != 0) {
    LogError("operation : app_varnok; status : failure; exit_code : %d; remarks : \"Invalid "
             "arguments provided. Exiting with error code : ERROR_INVALID_PARAMETER.\";",
             kErrorInvalidParameter);
    return kErrorInvalidParameter;
  }
  return RunUninstall(options, environment);
}

// The last line of a run that an exception ended (an allocation that failed on hostile data):
// the agent still gets one of its exit codes and the log says why.
int StoppedBy(const char* what) {
  try {
    LogError("operation : app_varnok; status : failure; remarks : \"The run stopped on an "
             "unexpected error: %s\"; return_value : %d;",
             what, kExitUninstallFailed);
  } catch (...) {
    // Nothing more can be said; the exit code still tells the agent.
  }
  return kExitUninstallFailed;
}

}  // namespace

int RunApplication(int argc, const char* const* argv, RunEnvironment& environment) {
  try {
    return RunFromArguments(argc, argv, environment);
  } catch (const std::exception& error) {
    return StoppedBy(error.what());
  } catch (...) {
    return StoppedBy("unknown exception");
  }
}

}  // namespace varnok
