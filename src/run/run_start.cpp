#include "run/run_start.h"

#include "log/log.h"
#include "run/options.h"
#include "run/uninstall_run.h"
#include "run/version.h"

namespace varnok {

int RunApplication(int argc, const char* const* argv, RunEnvironment& environment) {
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

}  // namespace varnok
