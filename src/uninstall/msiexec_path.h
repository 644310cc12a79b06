#pragma once

#include <string>

namespace varnok {

// Full path of msiexec.exe in the Windows system directory, or the bare "msiexec.exe" when the
// directory cannot be read. Windows build only.
std::string GetMsiexecPath();

}  // namespace varnok
