#include "process/uninstall_execution.h"

#include <algorithm>
#include <string>

#include "common/local_path.h"
#include "common/strings.h"
#include "log/log.h"
#include "process/stuck_window.h"

namespace varnok {
namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The program's path first, in quotes, as CreateProcess documents it: a runtime that takes the
// first word of its command line for its own name without looking (Delphi's, many hand-written
// parsers) would otherwise take the silent switch for it.
std::string CommandLineOf(const std::string& path, const std::string& arguments) {
  return Quoted(path) + (arguments.empty() ? "" : " " + arguments);
}

int RunInOwnerSession(LaunchPlatform& platform, ShellWatch& shells, const LaunchTarget& target,
                      const std::string& program, const std::string& arguments, bool msi,
                      const std::optional<FileIdentity>& image) {
  if (msi) {
    LogInfo("operation : ExecuteUninstallCommand; remarks : \"Running as SYSTEM; routing msiexec "
            "through active user session\"; session_id : %d;",
            static_cast<int>(target.access.session_id));
  } else {
    LogInfo("operation : ExecuteUninstallCommand; remarks : \"Running as SYSTEM; routing "
            "executable through active user session\"; session_id : %d;",
            static_cast<int>(target.access.session_id));
  }
  shells.BeforeLaunch();
  const int result = platform.CreateProcessInUserSession(
      CommandLineOf(program, arguments), target.user_timeout_ms, target.access.session_id, program,
      kInteractiveDesktop, image);
  shells.AfterLaunch();
  if (result == kElevationRequired) {
    LogError("operation : CreateProcessInUserSession; session_id : %d; status : failure; remarks : "
             "\"The uninstaller requires elevation, and a per-user row is never run elevated: it "
             "was not started.\"; file_path : \"%s\"; return_value : %d;",
             static_cast<int>(target.access.session_id), program.c_str(), result);
  }
  return result;
}

int RunDirectly(LaunchPlatform& platform, ShellWatch& shells, const std::string& program,
                const std::string& arguments, const std::string& temp_folder,
                std::unique_ptr<LaunchRemains>* remains, bool installer_removal, HeldFileId held) {
  // A 64-bit program started through Sysnative knows its folder as System32.
  const std::string as_seen = AsStartedProgramSeesIt(program, platform.WindowsDirectory());
  // A window in session 0 is on a desktop nobody sees; in a user's session someone may answer it.
  const bool watched = platform.CurrentSessionId() == 0;
  const unsigned long stuck_window_ms = watched ? kStuckWindowIdleMs : 0;
  shells.BeforeLaunch();
  const int result = platform.ExecuteFile(
      CommandLineOf(as_seen, arguments), program, FolderOf(as_seen), kUninstallTimeoutMinutes,
      stuck_window_ms, watched ? remains : nullptr, installer_removal, held, temp_folder);
  shells.AfterLaunch();
  return result;
}

// Releases a held file on every path out; releasing one the launch has released already does
// nothing.
class HeldFileRelease {
 public:
  explicit HeldFileRelease(LaunchPlatform& platform) : platform_(platform) {}
  ~HeldFileRelease() { platform_.ReleaseFile(id); }
  HeldFileRelease(const HeldFileRelease&) = delete;
  HeldFileRelease& operator=(const HeldFileRelease&) = delete;
  HeldFileId id = 0;

 private:
  LaunchPlatform& platform_;
};

// What a row's launch starts, and where.
struct Launch {
  std::string program;
  std::string arguments;
  bool msi = false;
  bool in_owner_session = false;
  bool installer_removal = false;
  bool as_system = false;                 // started directly by LocalSystem: checked and held
  HeldFileId held = 0;                    // the file, held until it has started
  std::optional<FileIdentity> image;      // in the owner's session: the file it must be
};

int LaunchOnce(LaunchPlatform& platform, ShellWatch& shells, PrivateTempFolders& temps,
               const LaunchTarget& target, const Launch& launch, unsigned long user_timeout_ms,
               std::string* remarks, std::unique_ptr<LaunchRemains>* remains) {
  if (!launch.in_owner_session) {
    std::string temp_folder;
    if (platform.IsRunningAsSystem()) {
      if (const unsigned long error = temps.ForLaunch(&temp_folder)) {
        *remarks = "Uninstaller not run as SYSTEM: its private temporary folder could not be "
                   "created (error " + std::to_string(error) + ").";
        return static_cast<int>(error);
      }
    }
    return RunDirectly(platform, shells, launch.program, launch.arguments, temp_folder, remains,
                       launch.installer_removal, launch.held);
  }
  LaunchTarget timed = target;
  timed.user_timeout_ms = user_timeout_ms;
  return RunInOwnerSession(platform, shells, timed, launch.program, launch.arguments, launch.msi,
                           launch.image);
}

// What is left of `limit_ms` since `started`: nothing once it is spent, however late the clock
// woke.
unsigned long TimeLeft(LaunchPlatform& platform, unsigned long long started,
                       unsigned long limit_ms) {
  const unsigned long long spent = std::max(started, platform.NowMs()) - started;
  return spent >= limit_ms ? 0 : static_cast<unsigned long>(limit_ms - spent);
}

int RefuseNonLocal(const std::string& path, std::string* remarks) {
  LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Not started: only "
           "a local absolute path is run\"; file_path : \"%s\";",
           path.c_str());
  *remarks = "Not started: " + path + " is not a local absolute path.";
  return kPathRefused;
}

std::string AccountText(LaunchPlatform& platform, const std::string& sid) {
  if (sid.empty()) return std::string();
  const std::string name = platform.AccountNameOfSid(sid);
  return name.empty() ? sid : name + " (" + sid + ")";
}

// Which file the owner's path names, read as the owner; or the row's result, logged.
std::optional<int> IdentifyAsOwner(LaunchPlatform& platform, const RowAccess& access,
                                   const std::string& file, std::optional<FileIdentity>* identity,
                                   std::string* remarks) {
  RowFiles files(platform, access);
  FileIdentity read;
  const unsigned long error = files.ReadIdentity(file, &read);
  if (error == 0) {
    *identity = read;
    return std::nullopt;
  }
  LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Per-user "
           "uninstaller not started: the file could not be opened as the row's owner to tell "
           "which file it is\"; file_path : \"%s\"; error_code : %d;",
           file.c_str(), static_cast<int>(error));
  *remarks = "Not started: " + file + " could not be identified as its owner sees it.";
  return static_cast<int>(error);
}

// What `command` starts for `target` in `launch` (a hold made here is `launch->held`, which the
// caller releases); or the result of a row that ends here, with its remarks.
std::optional<int> PrepareLaunch(LaunchPlatform& platform, const UninstallCommand& command,
                                 const LaunchTarget& target, Launch* launch, std::string* remarks) {
  const RowAccess::Route route = target.access.route;
  if (route != RowAccess::Route::kDirect && route != RowAccess::Route::kOwnerSession) {
    // Any user can write the rows of their own hive: running one as SYSTEM would hand its author
    // SYSTEM's rights, msiexec included (it removes whatever product code the row names).
    LogNoOwnerSession(target.access.owner_sid);
    *remarks = kNoOwnerSessionRemarks;
    return kNoOwnerSession;
  }
  launch->in_owner_session = route == RowAccess::Route::kOwnerSession;
  launch->msi = command.is_msi;
  if (command.is_msi) {
    launch->program = platform.GetMsiexecPath();
    launch->arguments = "/X " + command.product_code + " /qn /norestart";
    if (!IsLocalAbsolutePath(launch->program)) return RefuseNonLocal(launch->program, remarks);
    return std::nullopt;
  }
  if (target.file.empty()) {
    *remarks = "Uninstall executable not found on disk: " + command.executable +
               ". Files may already be removed; only a leftover registry entry remains.";
    return kUninstallExecutableNotFound;
  }
  if (!IsLocalAbsolutePath(target.file)) return RefuseNonLocal(target.file, remarks);
  launch->program = target.file;
  launch->arguments = command.arguments;
  if (launch->in_owner_session) {
    if (target.identity) {
      launch->image = target.identity;
      return std::nullopt;
    }
    return IdentifyAsOwner(platform, target.access, target.file, &launch->image, remarks);
  }
  launch->as_system = platform.IsRunningAsSystem();
  if (launch->as_system && target.held_file == 0) {
    if (std::optional<std::string> refusal =
            CheckLaunchAsSystem(platform, target.file, &launch->held)) {
      *remarks = *refusal;
      return kUntrustedUninstaller;
    }
  } else if (launch->as_system) {
    launch->held = target.held_file;
  }
  return std::nullopt;
}

}  // namespace

void LogNoOwnerSession(const std::string& owner_sid) {
  LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Per-user "
           "uninstaller not run: the owner of the row has no interactive session, and it is "
           "never run as SYSTEM\"; sid : \"%s\";",
           owner_sid.c_str());
}

const UserSession* FindOwnerSession(const SessionList& sessions, const std::string& owner_sid) {
  if (owner_sid.empty()) return nullptr;
  for (const auto& [name, session] : sessions) {
    if (EqualsNoCase(session.sid, owner_sid)) return &session;
  }
  return nullptr;
}

namespace {

IsAdministratorFn AdministratorsOf(LaunchPlatform& platform) {
  return [&platform](const std::string& sid) {
    return IsBuiltInAdministratorSid(sid) || platform.IsAdministrator(sid);
  };
}

std::optional<std::string> RefuseUnreadable(const std::string& path, unsigned long error) {
  LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller "
           "not run as SYSTEM: the owner and permissions of a path could not be read\"; "
           "file_path : \"%s\"; error_code : %d;",
           path.c_str(), static_cast<int>(error));
  return "Uninstaller not run as SYSTEM: the permissions of " + path + " could not be read.";
}

// Owners and DACLs are what a volume's writer made them: on a disk that may have been written
// on another machine they prove nothing.
std::optional<std::string> RefuseVolume(LaunchPlatform& platform, const std::string& root) {
  VolumeFacts facts;
  const unsigned long error = platform.ReadVolumeFacts(root, &facts);
  const std::optional<std::string> reason =
      error != 0 ? "the volume could not be asked about (error " + std::to_string(error) + ")"
                 : UntrustedVolume(facts);
  if (!reason) return std::nullopt;
  LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller not "
           "run as SYSTEM: it is not on a fixed local disk, where owners and permissions would "
           "tell who can change it\"; file_path : \"%s\"; reason : \"%s\";",
           root.c_str(), reason->c_str());
  return "Uninstaller not run as SYSTEM: " + root + " is " + *reason + ".";
}

// The ERROR line and remarks of an object a user controls (see FindUserControl).
std::string RefuseControl(LaunchPlatform& platform, const std::string& path,
                          const UserControl& control) {
  const std::string account = AccountText(platform, control.sid);
  LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller "
           "not run as SYSTEM: an account that is not an administrator can change it or add "
           "files beside it\"; file_path : \"%s\"; account : \"%s\"; right : \"%s\";",
           path.c_str(), account.c_str(), control.right.c_str());
  return "Uninstaller not run as SYSTEM: " + account + " has " + control.right + " on " + path +
         ".";
}

std::optional<std::string> RefuseLink(const std::string& path) {
  // Whatever the link's own permissions, its target's folders were not judged.
  LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller "
           "not run as SYSTEM: the path goes through a link (reparse point)\"; file_path : "
           "\"%s\";",
           path.c_str());
  return "Uninstaller not run as SYSTEM: " + path + " is a link.";
}

// One object on the way to the file: refused when it cannot be read, is a link or is
// controlled by a user.
std::optional<std::string> JudgeOnTheWay(LaunchPlatform& platform, const std::string& path,
                                         unsigned long error, const FileSecurity& security,
                                         SecuredObject role) {
  if (error != 0) return RefuseUnreadable(path, error);
  if (security.is_link) return RefuseLink(path);
  if (const std::optional<UserControl> control =
          FindUserControl(security, role, AdministratorsOf(platform))) {
    return RefuseControl(platform, path, *control);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckLaunchAsSystem(LaunchPlatform& platform, const std::string& file,
                                               HeldFileId* held) {
  *held = 0;
  // From the drive root down to the file: nothing inside a folder that a user controls is ever
  // opened, so a link or pipe a user placed there is never reached.
  const std::vector<std::string> folders = FoldersAbove(file);
  if (folders.empty()) return RefuseUnreadable(file, kPathRefused);
  if (std::optional<std::string> refusal = RefuseVolume(platform, folders.back())) return refusal;
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
    const SecuredObject role =
        folder + 1 == folders.rend() ? SecuredObject::kFolder : SecuredObject::kFolderAbove;
    FileSecurity security;
    const unsigned long error = platform.ReadFileSecurity(*folder, &security);
    if (std::optional<std::string> refusal =
            JudgeOnTheWay(platform, *folder, error, security, role)) {
      return refusal;
    }
  }
  // The file is judged through the handle that keeps it as judged until it has started.
  HeldFile hold;
  const unsigned long error = platform.HoldFile(file, &hold);
  if (std::optional<std::string> refusal =
          JudgeOnTheWay(platform, file, error, hold.security, SecuredObject::kFile)) {
    platform.ReleaseFile(hold.id);
    return refusal;
  }
  *held = hold.id;
  return std::nullopt;
}

std::optional<std::string> JudgeRowKey(LaunchPlatform& platform, const std::string& key,
                                       unsigned long read_error, const FileSecurity& security) {
  if (read_error != 0) {
    LogError("operation : app_varnok; status : failure; remarks : \"Row not used as SYSTEM: the "
             "owner and permissions of its registry key could not be read\"; registry_path : "
             "\"%s\"; error_code : %d;",
             key.c_str(), static_cast<int>(read_error));
    return "Row not used as SYSTEM: the permissions of its key " + key + " could not be read.";
  }
  const std::optional<UserControl> control =
      FindUserControl(security, SecuredObject::kRegistryKey, AdministratorsOf(platform));
  if (!control) return std::nullopt;
  const std::string account = AccountText(platform, control->sid);
  LogError("operation : app_varnok; status : failure; remarks : \"Row not used as SYSTEM: an "
           "account that is not an administrator can change its registry key, so its commands "
           "may be anyone's\"; registry_path : \"%s\"; account : \"%s\"; right : \"%s\";",
           key.c_str(), account.c_str(), control->right.c_str());
  return "Row not used as SYSTEM: " + account + " has " + control->right + " on its key " + key +
         ".";
}

FileToRun PrepareFileToRun(LaunchPlatform& platform, const RowAccess& access,
                           const std::string& file) {
  FileToRun prepared;
  if (access.route == RowAccess::Route::kOwnerSession) {
    if (std::optional<int> refused =
            IdentifyAsOwner(platform, access, file, &prepared.identity, &prepared.remarks)) {
      prepared.refused = *refused;
    }
  } else if (access.route == RowAccess::Route::kDirect && platform.IsRunningAsSystem()) {
    if (std::optional<std::string> refusal = CheckLaunchAsSystem(platform, file, &prepared.held)) {
      prepared.refused = kUntrustedUninstaller;
      prepared.remarks = *refusal;
    }
  }
  return prepared;
}

int ExecuteUninstallCommand(LaunchPlatform& platform, ShellWatch& shells,
                            InstallerLockWait& installer, PrivateTempFolders& temps,
                            const UninstallCommand& command, const LaunchTarget& target,
                            std::string* remarks, std::unique_ptr<LaunchRemains>* remains) {
  remarks->clear();
  if (command.command_line.empty()) {
    *remarks = "Uninstall command could not be constructed";
    return kUninstallCommandMissing;
  }
  LogInfo("operation : ExecuteUninstallCommand; command_line : \"%s\";", command.command_line.c_str());
  Launch launch;
  HeldFileRelease release(platform);
  const std::optional<int> refused = PrepareLaunch(platform, command, target, &launch, remarks);
  release.id = launch.held;
  if (refused) return *refused;
  launch.installer_removal = command.is_msi || target.windows_installer ||
                             EqualsNoCase(GetFileName(target.file), "msiexec.exe");
  // In the owner's session the row's time-out covers the waits for the lock too.
  const unsigned long long started = platform.NowMs();
  const auto wait_limit = [&] {
    return launch.in_owner_session ? TimeLeft(platform, started, target.user_timeout_ms)
                                   : kNoInstallerWaitLimit;
  };
  if (launch.installer_removal) installer.BeforeLaunch(wait_limit());
  unsigned long user_timeout_ms = TimeLeft(platform, started, target.user_timeout_ms);
  if (launch.in_owner_session && user_timeout_ms == 0) {
    LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Not started: "
             "waiting for Windows Installer used up the time-out of this row's launch.\";");
    *remarks = "Waiting for Windows Installer used up the time-out of this row's launch.";
    return kOwnerBudgetSpent;
  }
  const int result =
      LaunchOnce(platform, shells, temps, target, launch, user_timeout_ms, remarks, remains);
  if (result != kInstallerBusy) return result;
  // Another installation started between the look at the lock and the uninstaller's own, or an
  // executable drove Windows Installer without the row saying so.
  LogInfo("operation : ExecuteUninstallCommand; remarks : \"The uninstaller exited 1618: another "
          "installation was in progress. Waiting for Windows Installer and trying once more.\";");
  installer.BeforeLaunch(wait_limit());
  // The row's time-out covers both launches: a launch in the user's session with none left would
  // not be waited for at all.
  user_timeout_ms = TimeLeft(platform, started, target.user_timeout_ms);
  if (launch.in_owner_session && user_timeout_ms == 0) {
    LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Not tried "
             "again: the time-out of this row's launch is used up.\";");
    return result;
  }
  if (launch.as_system) {
    // The first launch has released the file: it is judged and held again.
    HeldFileRelease again(platform);
    if (std::optional<std::string> refusal =
            CheckLaunchAsSystem(platform, launch.program, &again.id)) {
      *remarks = *refusal;
      return kUntrustedUninstaller;
    }
    launch.held = again.id;
    return LaunchOnce(platform, shells, temps, target, launch, user_timeout_ms, remarks, remains);
  }
  return LaunchOnce(platform, shells, temps, target, launch, user_timeout_ms, remarks, remains);
}

}  // namespace varnok
