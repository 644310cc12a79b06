#include "inventory/system_registry.h"
#include "inventory/system_value_expander.h"
#include "process/system_launch_platform.h"
#include "run/machine_run_environment.h"
#include "run/system_run_environment.h"

namespace varnok {

RunEnvironment& SystemRunEnvironment(RunDeadline& deadline) {
  static MachineRunEnvironment environment(SystemRegistry(), SystemLaunchPlatform(),
                                           SystemValueExpander(), &deadline);
  return environment;
}

}  // namespace varnok
