// Running one row's uninstall command by the right route.
#pragma once

#include <optional>
#include <string>

#include "process/installer_lock.h"
#include "process/launch_platform.h"
#include "process/private_temp.h"
#include "process/row_files.h"
#include "process/shell_watch.h"
#include "uninstall/uninstall_command.h"

namespace varnok {

constexpr unsigned kUninstallTimeoutMinutes = 30;
constexpr unsigned long kUninstallTimeoutMs = kUninstallTimeoutMinutes * 60000UL;
constexpr int kUninstallCommandMissing = 87;
constexpr int kUninstallExecutableNotFound = 51005;
constexpr int kNoOwnerSession = 1312;        // ERROR_NO_SUCH_LOGON_SESSION
constexpr int kPathRefused = 161;            // ERROR_BAD_PATHNAME
constexpr int kUntrustedUninstaller = 5;     // ERROR_ACCESS_DENIED
constexpr int kOwnerBudgetSpent = 1460;      // ERROR_TIMEOUT
constexpr int kElevationRequired = 740;      // ERROR_ELEVATION_REQUIRED
constexpr int kInstallerBusy = 1618;         // ERROR_INSTALL_ALREADY_RUNNING

// Where and how a row's command runs.
struct LaunchTarget {
  RowAccess access;
  std::string file;  // executables: the located uninstaller, run by this full path; empty: missing
  unsigned long user_timeout_ms = kUninstallTimeoutMs;  // launches in the owner's session
  bool windows_installer = false;  // the row says Windows Installer installed it
  // What PrepareFileToRun made of `file`; when absent, the launch makes it itself.
  HeldFileId held_file = 0;                // a direct launch as SYSTEM: the file, checked and held
  std::optional<FileIdentity> identity;    // a launch in the owner's session
};

// The file a row will run, made ready before anything beside it is opened: for a direct launch
// under LocalSystem, judged as CheckLaunchAsSystem says and held open until it has started (the
// caller releases `held` when it is not launched); for a launch in the owner's session, which
// file the owner's path names, read as the owner. `refused` is the row's result when the file may
// not run (logged at ERROR, with `remarks` for the row), else 0. Nothing is done for other
// launches.
struct FileToRun {
  int refused = 0;
  std::string remarks;
  HeldFileId held = 0;
  std::optional<FileIdentity> identity;
};
FileToRun PrepareFileToRun(LaunchPlatform& platform, const RowAccess& access,
                           const std::string& file);

// Runs `command` and returns the launch result: the uninstaller's exit code, 258 after the
// time-out, a Win32 error when it cannot be started, 87 without a command, 51005 when the
// executable is missing everywhere, 1312 for a row whose owner has no usable session, 161 when
// the file to start is not a local absolute path, 5 when LocalSystem would run a file that an
// account other than an administrator controls, or kLaunchedFileChanged when the process
// created in the owner's session was not created from the file the owner's path named. `remarks`
// is emptied and set for 87, 51005, 1312, 161 and 5, and for a file whose identity could not be
// read (its error).
//
// A row routed to its owner's session runs only there, msiexec included; nothing of such a row
// ever runs as SYSTEM. Every other row is started directly, with the checked file as the
// application name, so that Windows never searches for the program. A file run directly as
// SYSTEM is held from its check until it has started (each launch of it, a second one after
// 1618 included, is checked and held anew unless `target` brings the first hold).
// Around every launch, `shells` restores the desktop shell of any session that lost it. Before
// msiexec or the uninstaller of a Windows Installer row, `installer` waits while another
// installation holds Windows Installer's lock. A launch of any row that exits 1618 (another
// installation is in progress) is made once more after `installer` has waited again. In the
// owner's session the row's time-out covers the waits and both launches; a row with none of it
// left after a wait is not started (1460). A direct launch as SYSTEM gets a private temporary
// folder from `temps` as TEMP and TMP, and is not started when none can be made (its error).
// In session 0, where nobody can answer a window, a direct launch that shows one and does
// nothing for kStuckWindowIdleMs is ended (258), and one that ends on its own hands what it left
// running to `remains` (when given), so that those can be watched the same way.
int ExecuteUninstallCommand(LaunchPlatform& platform, ShellWatch& shells,
                            InstallerLockWait& installer, PrivateTempFolders& temps,
                            const UninstallCommand& command, const LaunchTarget& target,
                            std::string* remarks,
                            std::unique_ptr<LaunchRemains>* remains = nullptr);

// A per-user row under LocalSystem whose owner has no session: the ERROR line, and the remarks
// of the row's failure.
void LogNoOwnerSession(const std::string& owner_sid);
constexpr char kNoOwnerSessionRemarks[] =
    "Owner of the per-user row is not logged on; uninstaller not run as SYSTEM.";

// The session to use for a row owned by `owner_sid`: the first entry, in user-name order, whose
// SID equals it (SIDs compared without regard to case). nullptr when there is none.
const UserSession* FindOwnerSession(const SessionList& sessions, const std::string& owner_sid);

// Why LocalSystem must not run `file`: its volume is not a fixed local disk (see
// UntrustedVolume), or (see FindUserControl) every folder from the drive root down, then the
// file, are read, and one of them is controlled by an account that is not an administrator
// (administrators are SYSTEM, Administrators, TrustedInstaller and the administrators by
// membership, see LaunchPlatform::IsAdministrator). A link (reparse point) anywhere on the way,
// or a descriptor that cannot be read, refuses too. The file itself is held (HoldFile) before
// it is judged, and its owner and DACL are read through that handle. Logs the refusal at ERROR,
// naming the path, the account and the right, and returns the remarks text, the file released;
// nullopt when only administrators control them, with `held` set (the caller releases it).
std::optional<std::string> CheckLaunchAsSystem(LaunchPlatform& platform, const std::string& file,
                                               HeldFileId* held);

// Under LocalSystem, why a machine-wide row whose registry key `key` (as logged) has `security`
// (or could not be read: `read_error`) may not be used: an account that is not an administrator
// can change it (see FindUserControl). Logs at ERROR, naming the key, the account and the
// right, and returns the remarks text; nullopt when only administrators control it.
std::optional<std::string> JudgeRowKey(LaunchPlatform& platform, const std::string& key,
                                       unsigned long read_error, const FileSecurity& security);

}  // namespace varnok
