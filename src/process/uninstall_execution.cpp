#include "process/uninstall_execution.h"

#include "common/strings.h"
#include "log/log.h"

namespace varnok {
namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The executable itself when it is a file; otherwise the first file of the same name (ignoring
// case) in the search folders and then the executable's own folder. Empty when none is found.
std::string LocateExecutable(LaunchPlatform& platform, const UninstallCommand& command) {
  if (platform.IsExistingFile(command.executable)) return command.executable;
  const std::string name = GetFileName(command.executable);
  std::vector<std::string> folders = command.search_folders;
  const std::string own_folder = GetParentPath(command.executable);
  if (!own_folder.empty()) folders.push_back(own_folder);
  for (const std::string& folder : folders) {
    if (folder.empty() || !platform.IsExistingDirectory(folder)) continue;
    for (const std::string& file : platform.ListFiles(folder)) {
      if (EqualsNoCase(GetFileName(file), name)) return file;
    }
  }
  return std::string();
}

int RunMsi(LaunchPlatform& platform, const UninstallCommand& command, const std::string& owner_sid) {
  const std::string program = platform.GetMsiexecPath();
  const std::string arguments = "/X " + command.product_code + " /qn /norestart";
  if (command.per_user && platform.IsRunningAsSystem()) {
    const SessionList sessions = platform.GetActiveUserSessions();
    if (const UserSession* session = FindOwnerSession(sessions, owner_sid)) {
      LogInfo("operation : ExecuteUninstallCommand; remarks : \"Running as SYSTEM; routing msiexec "
              "through active user session\"; session_id : %d;",
              static_cast<int>(session->session_id));
      const int result = platform.CreateProcessInUserSession(" " + arguments, kUninstallTimeoutMinutes,
                                                             session->session_id, program, false);
      platform.RestoreDesktopShell();
      return result;
    }
    // Safe as SYSTEM: the command is msiexec with a product code that passed validation.
    LogInfo("operation : ExecuteUninstallCommand; remarks : \"Running as SYSTEM but no active user "
            "session found; falling back to direct SYSTEM-context msiexec call\";");
  }
  const int result = platform.ExecuteFile(Quoted(program) + " " + arguments, "",
                                          GetParentPath(program), kUninstallTimeoutMinutes);
  platform.RestoreDesktopShell();
  return result;
}

int RunExecutable(LaunchPlatform& platform, const UninstallCommand& command,
                  const std::string& owner_sid, std::string* remarks) {
  const std::string executable = LocateExecutable(platform, command);
  if (executable.empty()) {
    *remarks = "Uninstall executable not found on disk: " + command.executable +
               ". Files may already be removed; only a leftover registry entry remains.";
    return kUninstallExecutableNotFound;
  }
  const std::string& arguments = command.arguments;
  if (command.per_user && platform.IsRunningAsSystem()) {
    const SessionList sessions = platform.GetActiveUserSessions();
    const UserSession* session = FindOwnerSession(sessions, owner_sid);
    if (!session) {
      // Any user can write the rows of their own hive: running one as SYSTEM would hand its
      // author SYSTEM's rights, and running it in another user's session that user's rights.
      LogError("operation : ExecuteUninstallCommand; status : failure; remarks : \"Per-user "
               "uninstaller not run: the owner of the row has no interactive session, and it is "
               "never run as SYSTEM\"; sid : \"%s\";",
               owner_sid.c_str());
      *remarks = "Owner of the per-user row is not logged on; uninstaller not run as SYSTEM.";
      return kNoOwnerSession;
    }
    LogInfo("operation : ExecuteUninstallCommand; remarks : \"Running as SYSTEM; routing executable "
            "through active user session\"; session_id : %d;",
            static_cast<int>(session->session_id));
    const int result = platform.CreateProcessInUserSession(
        arguments.empty() ? std::string() : " " + arguments, kUninstallTimeoutMinutes,
        session->session_id, executable, false);
    platform.RestoreDesktopShell();
    return result;
  }
  const std::string command_line = Quoted(executable) + (arguments.empty() ? "" : " " + arguments);
  const int result = platform.ExecuteFile(command_line, "", GetParentPath(executable),
                                          kUninstallTimeoutMinutes);
  platform.RestoreDesktopShell();
  return result;
}

}  // namespace

const UserSession* FindOwnerSession(const SessionList& sessions, const std::string& owner_sid) {
  if (owner_sid.empty()) return nullptr;
  for (const auto& [name, session] : sessions) {
    if (EqualsNoCase(session.sid, owner_sid)) return &session;
  }
  return nullptr;
}

int ExecuteUninstallCommand(LaunchPlatform& platform, const UninstallCommand& command,
                            const std::string& owner_sid, std::string* remarks) {
  remarks->clear();
  if (command.command_line.empty()) {
    *remarks = "Uninstall command could not be constructed";
    return kUninstallCommandMissing;
  }
  LogInfo("operation : ExecuteUninstallCommand; command_line : \"%s\";", command.command_line.c_str());
  if (command.is_msi) return RunMsi(platform, command, owner_sid);
  return RunExecutable(platform, command, owner_sid, remarks);
}

}  // namespace varnok
