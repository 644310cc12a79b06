#include <windows.h>

#include "inventory/system_registry.h"
#include "process/process_launch.h"
#include "process/shell_restore.h"
#include "process/system_launch_platform.h"
#include "process/user_session.h"
#include "uninstall/msiexec_path.h"
#include "uninstall/shared_uninstaller.h"

namespace varnok {
namespace {

class Win32LaunchPlatform : public LaunchPlatform {
 public:
  bool IsRunningAsSystem() override { return varnok::IsRunningAsSystem(); }
  SessionList GetActiveUserSessions() override { return varnok::GetActiveUserSessions(); }
  int CreateProcessInUserSession(const std::string& command_line, unsigned minutes,
                                 unsigned long session_id, const std::string& executable,
                                 bool elevate) override {
    return varnok::CreateProcessInUserSession(command_line, minutes, session_id, executable, elevate);
  }
  int ExecuteFile(const std::string& command_line, const std::string& executable,
                  const std::string& working_directory, unsigned minutes) override {
    return varnok::ExecuteFile(command_line, executable, working_directory, minutes);
  }
  void RestoreDesktopShell() override { varnok::RestoreDesktopShell(); }
  std::string GetMsiexecPath() override { return varnok::GetMsiexecPath(); }
  bool IsExistingFile(const std::string& path) override {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool IsExistingDirectory(const std::string& path) override {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  std::vector<std::string> ListFiles(const std::string& folder) override {
    return varnok::ListFiles(folder);
  }
};

}  // namespace

LaunchPlatform& SystemLaunchPlatform() {
  static Win32LaunchPlatform platform;
  return platform;
}

}  // namespace varnok
