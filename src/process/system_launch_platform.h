#pragma once

#include "process/launch_platform.h"

namespace varnok {

// The real calls of the Windows build.
LaunchPlatform& SystemLaunchPlatform();

}  // namespace varnok
