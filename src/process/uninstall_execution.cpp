#include "process/uninstall_execution.h"

#include "common/local_path.h"
#include "common/strings.h"
#include "log/log.h"
#include "process/stuck_window.h"

namespace varnok {
namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

int RunInOwnerSession(LaunchPlatform& platform, ShellWatch& shells, const LaunchTarget& target,
                      const std::string& program, const std::string& command_line, bool msi) {
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
  const int result = platform.CreateProcessInUserSession(command_line, target.user_timeout_ms,
                                                         target.access.session_id, program, false,
                                                         kInteractiveDesktop);
  shells.AfterLaunch();
  return result;
}

int RunDirectly(LaunchPlatform& platform, ShellWatch& shells, const std::string& program,
                const std::string& arguments, std::unique_ptr<LaunchRemains>* remains) {
  const std::string command_line = Quoted(program) + (arguments.empty() ? "" : " " + arguments);
  // A window in session 0 is on a desktop nobody sees; in a user's session someone may answer it.
  const bool watched = platform.CurrentSessionId() == 0;
  const unsigned long stuck_window_ms = watched ? kStuckWindowIdleMs : 0;
  shells.BeforeLaunch();
  const int result =
      platform.ExecuteFile(command_line, program, FolderOf(program), kUninstallTimeoutMinutes,
                           stuck_window_ms, watched ? remains : nullptr);
  shells.AfterLaunch();
  return result;
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
                            InstallerLockWait& installer, const UninstallCommand& command,
                            const LaunchTarget& target, std::string* remarks,
                            std::unique_ptr<LaunchRemains>* remains) {
  remarks->clear();
  if (command.command_line.empty()) {
    *remarks = "Uninstall command could not be constructed";
    return kUninstallCommandMissing;
  }
  LogInfo("operation : ExecuteUninstallCommand; command_line : \"%s\";", command.command_line.c_str());
  const RowAccess::Route route = target.access.route;
  if (route != RowAccess::Route::kDirect && route != RowAccess::Route::kOwnerSession) {
    // Any user can write the rows of their own hive: running one as SYSTEM would hand its author
    // SYSTEM's rights, msiexec included (it removes whatever product code the row names).
    LogNoOwnerSession(target.access.owner_sid);
    *remarks = kNoOwnerSessionRemarks;
    return kNoOwnerSession;
  }
  const bool in_owner_session = route == RowAccess::Route::kOwnerSession;
  if (command.is_msi) {
    const std::string program = platform.GetMsiexecPath();
    const std::string arguments = "/X " + command.product_code + " /qn /norestart";
    if (!IsLocalAbsolutePath(program)) return RefuseNonLocal(program, remarks);
    installer.BeforeLaunch();
    if (in_owner_session) {
      return RunInOwnerSession(platform, shells, target, program, " " + arguments, true);
    }
    return RunDirectly(platform, shells, program, arguments, remains);
  }
  if (target.file.empty()) {
    *remarks = "Uninstall executable not found on disk: " + command.executable +
               ". Files may already be removed; only a leftover registry entry remains.";
    return kUninstallExecutableNotFound;
  }
  if (!IsLocalAbsolutePath(target.file)) return RefuseNonLocal(target.file, remarks);
  const std::string& arguments = command.arguments;
  const bool installer_removal =
      target.windows_installer || EqualsNoCase(GetFileName(target.file), "msiexec.exe");
  if (in_owner_session) {
    if (installer_removal) installer.BeforeLaunch();
    return RunInOwnerSession(platform, shells, target, target.file,
                             arguments.empty() ? std::string() : " " + arguments, false);
  }
  if (platform.IsRunningAsSystem()) {
    if (std::optional<std::string> refusal = CheckLaunchAsSystem(platform, target.file)) {
      *remarks = *refusal;
      return kUntrustedUninstaller;
    }
  }
  if (installer_removal) installer.BeforeLaunch();
  return RunDirectly(platform, shells, target.file, arguments, remains);
}

}  // namespace varnok
