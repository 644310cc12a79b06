#pragma once

#include "run/run_environment.h"

namespace varnok {

// The real machine, for the Windows build.
RunEnvironment& SystemRunEnvironment();

}  // namespace varnok
