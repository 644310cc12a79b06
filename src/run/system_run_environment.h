#pragma once

#include "run/run_deadline.h"
#include "run/run_environment.h"

namespace varnok {

// The real machine, for the Windows build; `deadline` is told the run's deadline once the
// inventory has been read. Made on the first call; later calls return it as it is.
RunEnvironment& SystemRunEnvironment(RunDeadline& deadline);

}  // namespace varnok
