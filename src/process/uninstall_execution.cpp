#include "process/uninstall_execution.h"

#include <algorithm>

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
                      const std::string& program, const std::string& arguments, bool msi) {
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
      kInteractiveDesktop);
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
                std::unique_ptr<LaunchRemains>* remains, bool installer_removal) {
  // A 64-bit program started through Sysnative knows its folder as System32.
  const std::string as_seen = AsStartedProgramSeesIt(program, platform.WindowsDirectory());
  // A window in session 0 is on a desktop nobody sees; in a user's session someone may answer it.
  const bool watched = platform.CurrentSessionId() == 0;
  const unsigned long stuck_window_ms = watched ? kStuckWindowIdleMs : 0;
  shells.BeforeLaunch();
  const int result = platform.ExecuteFile(
      CommandLineOf(as_seen, arguments), program, FolderOf(as_seen), kUninstallTimeoutMinutes,
      stuck_window_ms, watched ? remains : nullptr, installer_removal, temp_folder);
  shells.AfterLaunch();
  return result;
}

// What a row's launch starts, and where.
struct Launch {
  std::string program;
  std::string arguments;
  bool msi = false;
  bool in_owner_session = false;
  bool installer_removal = false;
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
                       launch.installer_removal);
  }
  LaunchTarget timed = target;
  timed.user_timeout_ms = user_timeout_ms;
  return RunInOwnerSession(platform, shells, timed, launch.program, launch.arguments, launch.msi);
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

// What `command` starts for `target` in `launch`; or the result of a row that ends here, with
// its remarks.
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
  if (!launch->in_owner_session && platform.IsRunningAsSystem()) {
    if (std::optional<std::string> refusal = CheckLaunchAsSystem(platform, target.file)) {
      *remarks = *refusal;
      return kUntrustedUninstaller;
    }
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

std::optional<std::string> CheckLaunchAsSystem(LaunchPlatform& platform, const std::string& file) {
  const IsAdministratorFn is_administrator = [&](const std::string& sid) {
    return IsBuiltInAdministratorSid(sid) || platform.IsAdministrator(sid);
  };
  // From the drive root down to the file: nothing inside a folder that a user controls is ever
  // opened, so a link or pipe a user placed there is never reached.
  const std::vector<std::string> folders = FoldersAbove(file);
  std::vector<std::pair<std::string, SecuredObject>> objects;
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
    objects.emplace_back(*folder, folder + 1 == folders.rend() ? SecuredObject::kFolder
                                                               : SecuredObject::kFolderAbove);
  }
  objects.emplace_back(file, SecuredObject::kFile);
  for (const auto& [path, role] : objects) {
    FileSecurity security;
    const unsigned long error = platform.ReadFileSecurity(path, &security);
    if (error != 0) {
      LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller "
               "not run as SYSTEM: the owner and permissions of a path could not be read\"; "
               "file_path : \"%s\"; error_code : %d;",
               path.c_str(), static_cast<int>(error));
      return "Uninstaller not run as SYSTEM: the permissions of " + path + " could not be read.";
    }
    if (security.is_link) {
      // Whatever the link's own permissions, its target's folders were not judged.
      LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller "
               "not run as SYSTEM: the path goes through a link (reparse point)\"; file_path : "
               "\"%s\";",
               path.c_str());
      return "Uninstaller not run as SYSTEM: " + path + " is a link.";
    }
    if (const std::optional<UserControl> control =
            FindUserControl(security, role, is_administrator)) {
      const std::string account = AccountText(platform, control->sid);
      LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Uninstaller "
               "not run as SYSTEM: an account that is not an administrator can change it or add "
               "files beside it\"; file_path : \"%s\"; account : \"%s\"; right : \"%s\";",
               path.c_str(), account.c_str(), control->right.c_str());
      return "Uninstaller not run as SYSTEM: " + account + " has " + control->right + " on " +
             path + ".";
    }
  }
  return std::nullopt;
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
  const std::optional<int> refused = PrepareLaunch(platform, command, target, &launch, remarks);
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
  return LaunchOnce(platform, shells, temps, target, launch, user_timeout_ms, remarks, remains);
}

}  // namespace varnok
