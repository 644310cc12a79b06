// Launching a program inside a logged-on user's session with that user's token (LocalSystem only).
// Windows build only.
#pragma once

#include <optional>
#include <string>

#include "process/launch_platform.h"

namespace varnok {

// Active, connected and disconnected sessions other than session 0 that have a user name, keyed
// by user name; each with the SID of its user token. Empty (logged) when enumeration fails.
SessionList GetActiveUserSessions();

// The SID of the user token of a session ("S-1-5-21-..."), or empty when it cannot be had.
std::string GetSessionUserSid(unsigned long session_id);

// Starts the program as the session's user (new console, the user's environment block, its own
// folder as current directory, on `desktop`: "winsta0\\default" for the interactive one) and waits
// up to `timeout_ms` (0: not waited for, result 0). Never in a job of this program's; out of the
// agent's job as PlanUserSessionLaunch says. With an `image`, it is created suspended and runs
// only when it was created from that file (see ResumeIfImageIs): Windows opens the program as
// SYSTEM, and the user may have changed what the path names since it was checked. Returns the
// exit code, 258 after the time-out (only the first process is ended), 5 when the agent's job
// forbids it, kLaunchedFileChanged, or the Win32 error of the first failing call.
int CreateProcessInUserSession(const std::string& command_line, unsigned long timeout_ms,
                               unsigned long session_id, const std::string& executable,
                               const std::string& desktop,
                               const std::optional<FileIdentity>& image);

// Makes the calling thread act as the user of the session (its token from WTSQueryUserToken)
// until RevertToSelf. False when the token cannot be had or used.
bool ImpersonateSessionUser(unsigned long session_id);

}  // namespace varnok
