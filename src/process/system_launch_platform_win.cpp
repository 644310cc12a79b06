#include <windows.h>

#include "common/file_size.h"
#include "inventory/system_registry.h"
#include "process/process_launch.h"
#include "process/shell_restore.h"
#include "process/system_launch_platform.h"
#include "process/user_session.h"
#include "uninstall/msiexec_path.h"
#include "uninstall/shared_uninstaller.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

// Free when nobody holds Windows Installer's lock, or when it is not there at all. Taking it for
// a moment is how to tell: it is released at once, before msiexec is started.
bool WaitForInstallerLockFree(unsigned long timeout_ms) {
  win32::UniqueHandle lock(
      ::OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, "Global\\_MSIExecute"));
  if (!lock) return true;
  return win32::MutexLock(lock.get(), timeout_ms).acquired();
}

class Win32LaunchPlatform : public LaunchPlatform {
 public:
  bool IsRunningAsSystem() override { return varnok::IsRunningAsSystem(); }
  SessionList GetActiveUserSessions() override { return varnok::GetActiveUserSessions(); }
  bool ImpersonateSessionUser(unsigned long session_id) override {
    PreloadVersionLibrary();
    return varnok::ImpersonateSessionUser(session_id);
  }
  void RevertToSelf() override { ::RevertToSelf(); }
  int CreateProcessInUserSession(const std::string& command_line, unsigned long timeout_ms,
                                 unsigned long session_id, const std::string& executable,
                                 bool elevate, const std::string& desktop) override {
    return varnok::CreateProcessInUserSession(command_line, timeout_ms, session_id, executable,
                                              elevate, desktop);
  }
  int ExecuteFile(const std::string& command_line, const std::string& executable,
                  const std::string& working_directory, unsigned minutes,
                  unsigned long stuck_window_ms) override {
    return varnok::ExecuteFile(command_line, executable, working_directory, minutes,
                               stuck_window_ms);
  }
  bool IsInstallerLockHeld() override { return !WaitForInstallerLockFree(0); }
  bool WaitForInstallerLock(unsigned long timeout_ms) override {
    return WaitForInstallerLockFree(timeout_ms);
  }
  std::string GetMsiexecPath() override { return varnok::GetMsiexecPath(); }
  std::set<unsigned long> SessionsWithShell() override { return varnok::SessionsWithShell(); }
  unsigned long CurrentSessionId() override {
    DWORD session = 0;
    return ::ProcessIdToSessionId(::GetCurrentProcessId(), &session) ? session : 0;
  }
  void StartShellHere() override { varnok::StartShellHere(); }
  std::string WindowsDirectory() override { return RealWindowsDirectory(); }
  bool IsWow64() override {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
  }
  bool IsWindows64Bit() override {
    // The machine's own architecture, whatever this program was built for.
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
  }
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
  int64_t QueryFileSize(const std::string& path) override { return varnok::QueryFileSize(path); }
  FileVersionInfo ReadFileVersion(const std::string& path) override {
    return varnok::ReadFileVersion(path);
  }
  unsigned long ReadFileSecurity(const std::string& path, FileSecurity* security) override {
    return varnok::ReadFileSecurity(path, security);
  }
  std::vector<std::string> GetAdministratorsMembers() override {
    return varnok::GetAdministratorsMembers();
  }
  std::string LookupAccountName(const std::string& sid) override {
    return LookupAccountNameOfSid(sid);
  }
  unsigned long long NowMs() override { return ::GetTickCount64(); }
  void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }
};

}  // namespace

LaunchPlatform& SystemLaunchPlatform() {
  static Win32LaunchPlatform platform;
  return platform;
}

}  // namespace varnok
