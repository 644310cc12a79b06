// Making sure the desktop shell runs after uninstallers that may have ended it. Windows build only.
#pragma once

#include <string>

namespace varnok {

// True when a process other than this one has the image name `name` (ignoring case), in any
// session. A failed snapshot counts as not running.
bool IsProcessRunning(const std::string& name);

// Starts the Windows directory's explorer.exe, unwaited, when no explorer.exe runs anywhere.
void RestoreDesktopShell();

}  // namespace varnok
