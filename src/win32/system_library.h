// DLLs that Windows does not protect against planting (version.dll, wtsapi32.dll, userenv.dll)
// are never load-time imports: they are loaded from the system directory only, so a LocalSystem
// process never picks up a copy dropped beside the executable or in the working directory.
#pragma once

#include <windows.h>

#include "win32/unique_handle.h"

namespace varnok::win32 {

// Loads `name` (a bare file name such as "version.dll") from the system directory only. Returns
// an empty owner when it cannot be loaded; GetLastError tells why.
UniqueModule LoadSystemLibrary(const char* name);

// From now on, every DLL this process loads by name (delay-loads and the system's own loads
// included) comes from the system directory only, never from the program's folder or the current
// directory, which is an uninstaller's folder during a launch. Windows 7 without KB2533623 lacks
// the call; there it does nothing.
void RestrictDllSearchToSystem();

// The exported function `name` of `module` as type Fn, or nullptr.
template <typename Fn>
Fn GetProc(const UniqueModule& module, const char* name) {
  if (!module) return nullptr;
  FARPROC proc = ::GetProcAddress(module.get(), name);
  // FARPROC is a generic function pointer; the caller names the real signature.
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

}  // namespace varnok::win32
