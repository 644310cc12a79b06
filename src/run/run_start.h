#pragma once

#include "run/run_environment.h"

namespace varnok {

// One whole run from the entry point's argument vector: the log's name, the version line, the
// options (87 when they are invalid), then the uninstall run. Returns the process exit code.
int RunApplication(int argc, const char* const* argv, RunEnvironment& environment);

}  // namespace varnok
