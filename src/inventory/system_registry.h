// The real machine, for the Windows build: its registry and the process's account.
#pragma once

#include <string>

#include "inventory/registry_source.h"

namespace varnok {

// The Win32 registry (ANSI functions) behind the inventory's interface.
RegistrySource& SystemRegistry();

// The SID of the process token's user ("S-1-5-..."), or empty when it cannot be read.
std::string ProcessUserSid();

// True when the process token's user is the LocalSystem account (IsLocalSystemSid of
// ProcessUserSid). Asked anew on every call; any failure to read the token counts as not
// LocalSystem.
bool IsRunningAsSystem();

}  // namespace varnok
