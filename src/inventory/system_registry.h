// The real machine, for the Windows build: its registry and the process's account.
#pragma once

#include "inventory/registry_source.h"

namespace varnok {

// The Win32 registry (ANSI functions) behind the inventory's interface.
RegistrySource& SystemRegistry();

// True when the process token's user is the LocalSystem account. Asked anew on every call;
// any failure to read the token counts as not LocalSystem.
bool IsRunningAsSystem();

}  // namespace varnok
