// The Win32 expansion of REG_EXPAND_SZ values, for the Windows build.
#pragma once

#include "inventory/value_expansion.h"

namespace varnok {

// ExpandEnvironmentStringsForUserW (userenv.dll, from the system directory only) behind the
// inventory's interface: the system's variables with no token; the process's own token for its
// user; WTSQueryUserToken for a session's user, which only LocalSystem may ask for.
ValueExpander& SystemValueExpander();

}  // namespace varnok
