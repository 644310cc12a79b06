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

}  // namespace

bool SystemPlatform::IsRunningAsSystem() { return varnok::IsRunningAsSystem(); }
SessionList SystemPlatform::GetActiveUserSessions() { return varnok::GetActiveUserSessions(); }
bool SystemPlatform::ImpersonateSessionUser(unsigned long session_id) {
  PreloadVersionLibrary();
  return varnok::ImpersonateSessionUser(session_id);
}
void SystemPlatform::RevertToSelf() { ::RevertToSelf(); }
int SystemPlatform::CreateProcessInUserSession(const std::string& command_line,
                                               unsigned long timeout_ms, unsigned long session_id,
                                               const std::string& executable, bool elevate,
                                               const std::string& desktop) {
  return varnok::CreateProcessInUserSession(command_line, timeout_ms, session_id, executable,
                                            elevate, desktop);
}
int SystemPlatform::ExecuteFile(const std::string& command_line, const std::string& executable,
                                const std::string& working_directory, unsigned minutes,
                                unsigned long stuck_window_ms,
                                std::unique_ptr<LaunchRemains>* remains) {
  return varnok::ExecuteFile(command_line, executable, working_directory, minutes, stuck_window_ms,
                             remains);
}
bool SystemPlatform::IsInstallerLockHeld() { return !WaitForInstallerLockFree(0); }
bool SystemPlatform::WaitForInstallerLock(unsigned long timeout_ms) {
  return WaitForInstallerLockFree(timeout_ms);
}
std::string SystemPlatform::GetMsiexecPath() { return varnok::GetMsiexecPath(); }
std::set<unsigned long> SystemPlatform::SessionsWithShell() { return varnok::SessionsWithShell(); }
SessionPhase SystemPlatform::ReadSessionPhase(unsigned long session_id) {
  return varnok::ReadSessionPhase(session_id);
}
unsigned long SystemPlatform::CurrentSessionId() {
  DWORD session = 0;
  return ::ProcessIdToSessionId(::GetCurrentProcessId(), &session) ? session : 0;
}
void SystemPlatform::StartShellHere() { varnok::StartShellHere(); }
std::string SystemPlatform::WindowsDirectory() { return RealWindowsDirectory(); }
bool SystemPlatform::IsWow64() {
  BOOL wow64 = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}
bool SystemPlatform::IsWindows64Bit() {
  // The machine's own architecture, whatever this program was built for.
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
}
bool SystemPlatform::IsExistingFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
bool SystemPlatform::IsExistingDirectory(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
std::vector<std::string> SystemPlatform::ListFiles(const std::string& folder) {
  return varnok::ListFiles(folder);
}
int64_t SystemPlatform::QueryFileSize(const std::string& path) {
  return varnok::QueryFileSize(path);
}
unsigned long SystemPlatform::ReadFileHead(const std::string& path, size_t max_bytes,
                                           std::string* bytes) {
  return varnok::ReadFileHead(path, max_bytes, bytes);
}
FileVersionInfo SystemPlatform::ReadFileVersion(const std::string& path) {
  return varnok::ReadFileVersion(path);
}
unsigned long SystemPlatform::ReadFileSecurity(const std::string& path, FileSecurity* security) {
  return varnok::ReadFileSecurity(path, security);
}
bool SystemPlatform::IsAdministrator(const std::string& sid) {
  return administrators_.Get(sid, [](const std::string& asked) {
    return IsAdministratorByMembership(ReadAdministratorFacts(asked));
  });
}
std::string SystemPlatform::AccountNameOfSid(const std::string& sid) {
  return LookupAccountNameOfSid(sid);
}
unsigned long long SystemPlatform::NowMs() { return ::GetTickCount64(); }
void SystemPlatform::Sleep(unsigned milliseconds) { ::Sleep(milliseconds); }

LaunchPlatform& SystemLaunchPlatform() {
  static SystemPlatform platform;
  return platform;
}

}  // namespace varnok
