// The desktop shell on this machine. Windows build only.
#pragma once

#include <set>
#include <string>

#include "process/launch_platform.h"

namespace varnok {

// True when a process other than this one has the image name `name` (ignoring case), in any
// session. A failed snapshot counts as not running.
bool IsProcessRunning(const std::string& name);

// The sessions in which an explorer.exe other than this process runs (empty when the process
// list cannot be read).
std::set<unsigned long> SessionsWithShell();

// What tells whether a session is logging on or off: its connect state and lock from
// WTSQuerySessionInformation (unknown when they cannot be read), and whether a userinit.exe or a
// LogonUI.exe other than this process runs in it (found by image name, ignoring case).
SessionPhase ReadSessionPhase(unsigned long session_id);

// The real Windows directory (GetSystemWindowsDirectoryA: on a Remote Desktop Session Host not
// the user's own copy), without a trailing separator; empty on failure.
std::string RealWindowsDirectory();

// Starts the real Windows directory's explorer.exe in this process's own context, not waited for.
void StartShellHere();

}  // namespace varnok
