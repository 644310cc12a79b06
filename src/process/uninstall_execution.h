// Running one row's uninstall command by the right route.
#pragma once

#include <string>

#include "process/launch_platform.h"
#include "uninstall/uninstall_command.h"

namespace varnok {

constexpr unsigned kUninstallTimeoutMinutes = 30;
constexpr int kUninstallCommandMissing = 87;
constexpr int kUninstallExecutableNotFound = 51005;
constexpr int kNoOwnerSession = 1312;  // ERROR_NO_SUCH_LOGON_SESSION

// Runs `command` and returns the launch result: the uninstaller's exit code, 258 after the
// time-out, a Win32 error when it cannot be started, 87 without a command, 51005 when the
// executable is missing everywhere, or 1312 when a per-user executable row's owner has no session
// under LocalSystem. `remarks` is emptied and set only for 87, 51005 and 1312.
//
// Under LocalSystem a per-user row runs only in a session of the user who owns the row's hive
// (`owner_sid`); an executable row is never run as SYSTEM instead, while a Windows Installer row
// falls back to msiexec with its validated product code.
int ExecuteUninstallCommand(LaunchPlatform& platform, const UninstallCommand& command,
                            const std::string& owner_sid, std::string* remarks);

// The session to use for a row owned by `owner_sid`: the first entry, in user-name order, whose
// SID equals it (SIDs compared without regard to case). nullptr when there is none.
const UserSession* FindOwnerSession(const SessionList& sessions, const std::string& owner_sid);

}  // namespace varnok
