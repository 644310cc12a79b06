#pragma once

#include "run/run_environment.h"

namespace varnok {

// One whole run from the entry point's argument vector: the log's name, the version line, the
// options (87 when they are invalid), then the uninstall run. Returns the process exit code; an
// exception that ends the run early (an allocation failure) gives one ERROR line and 51006.
int RunApplication(int argc, const char* const* argv, RunEnvironment& environment);

}  // namespace varnok
