// What running an uninstaller needs from the machine: the account and the users' sessions, the
// read-only file-system steps that find and judge an uninstaller, and the launches themselves.
// The Windows build passes the real calls; host tests pass a fake, because LocalSystem, other
// users' sessions and their tokens cannot be shown under Wine.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "process/file_trust.h"
#include "process/stuck_window.h"
#include "uninstall/shared_uninstaller.h"

namespace varnok {

// How long one file-system step may take: far more than any local open, less than a held file
// would cost the run.
constexpr unsigned long kFileStepTimeoutMs = 30000;
constexpr unsigned long kFileStepStalled = 1460;  // ERROR_TIMEOUT

// One logged-on user's session.
struct UserSession {
  unsigned long session_id = 0;
  std::string sid;  // the user token's SID ("S-1-5-21-..."); empty when it could not be read
};

// What tells a session at work from one that is logging on or off.
struct SessionPhase {
  static constexpr int kStateUnknown = -1;
  static constexpr int kStateActive = 0;  // WTSActive
  int connect_state = kStateUnknown;      // WTS_CONNECTSTATE_CLASS
  enum class Lock { kUnknown, kLocked, kUnlocked };
  Lock lock = Lock::kUnknown;
  bool userinit = false;  // userinit.exe runs in it
  bool logon_ui = false;  // LogonUI.exe runs in it
};

// Keyed by user name, in byte order (upper case before lower case); one entry per user name,
// holding the session enumerated last.
using SessionList = std::map<std::string, UserSession>;

// Windows Installer's lock as one look at it found it: free (no installation runs, or the lock
// is not there at all), held by another process, or not usable (`error`: the Win32 error of
// opening or waiting on it).
struct InstallerLockState {
  enum class Status { kFree, kHeld, kFailed };
  Status status = Status::kFree;
  unsigned long error = 0;
};

// A launch in a user's session whose new process was not created from the file that was checked
// (ERROR_FILE_INVALID: the file was changed under the path). It never ran.
constexpr int kLaunchedFileChanged = 1006;

// A file the platform holds open for a launch as SYSTEM, so that nobody can write, delete or
// rename it (see HoldFile); 0 is none.
using HeldFileId = unsigned long long;

// What holding a file gave: its handle's number, and the owner, DACL and identity read through it.
struct HeldFile {
  HeldFileId id = 0;
  FileSecurity security;
  FileIdentity identity;
};

class LaunchPlatform {
 public:
  virtual ~LaunchPlatform() = default;

  // The account and the users' sessions.
  virtual bool IsRunningAsSystem() = 0;
  virtual SessionList GetActiveUserSessions() = 0;
  // Makes the calling thread act as the user of a session (its token from the session) until
  // RevertToSelf. False when it cannot; the thread then still acts as itself.
  virtual bool ImpersonateSessionUser(unsigned long session_id) = 0;
  // False when the thread could not stop acting as the user (see RevertFailed).
  [[nodiscard]] virtual bool RevertToSelf() = 0;

  // Launches. `executable` is the application name handed to Windows, and `command_line` begins
  // with the program's path in quotes, as the started program sees it. A user-session launch
  // with a time-out of 0 is not waited for; with an `image` given, it is created suspended and
  // runs only when the file it was created from is that file (otherwise it is ended and the
  // result is kLaunchedFileChanged). A direct launch with a `stuck_window_ms` other than 0 is
  // ended when it shows a window and does nothing for that long (see StuckWindowCheck); with
  // `remains` given, what it leaves running is handed over, and for an `installer_removal` the
  // Windows Installer service's work counts as its own (see ExecuteFile). A `held_file` (not 0)
  // is released as soon as the program has been created, or could not be. With a `temp_folder`,
  // the program gets this process's environment with TEMP and TMP set to it.
  virtual int CreateProcessInUserSession(const std::string& command_line, unsigned long timeout_ms,
                                         unsigned long session_id, const std::string& executable,
                                         const std::string& desktop,
                                         const std::optional<FileIdentity>& image) = 0;
  virtual int ExecuteFile(const std::string& command_line, const std::string& executable,
                          const std::string& working_directory, unsigned minutes,
                          unsigned long stuck_window_ms, std::unique_ptr<LaunchRemains>* remains,
                          bool installer_removal, HeldFileId held_file,
                          const std::string& temp_folder) = 0;
  virtual std::string GetMsiexecPath() = 0;

  // A new folder below the system's temporary folder (<windir>\Temp) with a random name, created
  // only where nothing has that name (never through a link), whose protected DACL lets only SYSTEM
  // and Administrators in. The Win32 error, 0 on success (`folder` is then set).
  virtual unsigned long CreatePrivateTempFolder(std::string* folder) = 0;
  // Removes `folder` with everything in it; a link inside is removed itself, never followed. The
  // Win32 error of the first thing that could not be removed, 0 once the folder is gone.
  virtual unsigned long RemoveFolderTree(const std::string& folder) = 0;

  // Windows Installer's lock (Global\_MSIExecute), waited for up to `timeout_ms` (0: a look).
  virtual InstallerLockState WaitForInstallerLock(unsigned long timeout_ms) = 0;

  // The desktop shell: the sessions in which an explorer.exe runs, whether a session is logging
  // on or off, this process's session, and starting the shell (the real Windows directory's
  // explorer.exe, not waited for) in this process's own context.
  virtual std::set<unsigned long> SessionsWithShell() = 0;
  virtual SessionPhase ReadSessionPhase(unsigned long session_id) = 0;
  virtual unsigned long CurrentSessionId() = 0;
  virtual void StartShellHere() = 0;
  virtual std::string WindowsDirectory() = 0;

  // The machine: a 32-bit program on 64-bit Windows (WOW64), and 64-bit Windows itself.
  virtual bool IsWow64() = 0;
  virtual bool IsWindows64Bit() = 0;

  // Read-only file-system steps, on paths the caller has checked (see IsLocalAbsolutePath).
  // Opening a file that a user can read may wait for ever for that user's opportunistic lock:
  // the steps that open a file or folder (listing, size, version, head, security, holding,
  // identity, volume) give up after kFileStepTimeoutMs, fail as their kind of failure says (1460
  // where they return an error), and note the path for TakeStalledStep; until it is taken, every
  // such step fails at once, so that one held file costs a row one time-out.
  virtual bool IsExistingFile(const std::string& path) = 0;
  virtual bool IsExistingDirectory(const std::string& path) = 0;
  virtual std::vector<std::string> ListFiles(const std::string& folder) = 0;
  virtual int64_t QueryFileSize(const std::string& path) = 0;
  virtual FileVersionInfo ReadFileVersion(const std::string& path) = 0;
  // At most `max_bytes` from the start of a file; the Win32 error, 0 on success.
  virtual unsigned long ReadFileHead(const std::string& path, size_t max_bytes,
                                     std::string* bytes) = 0;
  // The owner and DACL of a file or folder; the Win32 error, 0 on success.
  virtual unsigned long ReadFileSecurity(const std::string& path, FileSecurity* security) = 0;
  // Opens a file to be run as SYSTEM and keeps it open, denying others write and delete access
  // (so it cannot be written, deleted or renamed) until ReleaseFile or the launch it is handed
  // to; a link is not followed (`is_link` is set). The Win32 error, 0 on success; `held` is set
  // only on success. Releasing a file twice, or 0, does nothing.
  virtual unsigned long HoldFile(const std::string& path, HeldFile* held) = 0;
  virtual void ReleaseFile(HeldFileId id) = 0;
  // Which file `path` names now, for an account that may start it (read and execute); the Win32
  // error, 0 on success.
  virtual unsigned long ReadFileIdentity(const std::string& path, FileIdentity* identity) = 0;
  // The volume a drive root ("C:\") lies on; the Win32 error, 0 on success.
  virtual unsigned long ReadVolumeFacts(const std::string& root, VolumeFacts* facts) = 0;
  // The path of a step that gave up since the last call, or empty; clears it.
  virtual std::string TakeStalledStep() = 0;
  // Whether an account or group is an administrator by effective membership of the local
  // Administrators group, nested groups included (see IsAdministratorByMembership); false when
  // that cannot be found out. Answers are kept for the run.
  virtual bool IsAdministrator(const std::string& sid) = 0;
  virtual std::string AccountNameOfSid(const std::string& sid) = 0;

  // Time.
  virtual unsigned long long NowMs() = 0;
  virtual void Sleep(unsigned milliseconds) = 0;
};

}  // namespace varnok
