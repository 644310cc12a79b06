#include <windows.h>

#include "common/file_size.h"
#include "inventory/system_registry.h"
#include "process/launched_file.h"
#include "process/process_launch.h"
#include "process/shell_restore.h"
#include "process/system_launch_platform.h"
#include "process/user_session.h"
#include "uninstall/msiexec_path.h"
#include "uninstall/shared_uninstaller.h"
#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

// Taking the lock for a moment is how to tell whether it is free: it is released at once, before
// the uninstaller starts. Waiting and releasing need SYNCHRONIZE only; asking for more would fail
// where the lock's DACL grants just that. A lock that is not there at all is free; a lock that
// cannot be opened is not.
InstallerLockState WaitForInstallerLockFree(unsigned long timeout_ms) {
  using Status = InstallerLockState::Status;
  win32::UniqueHandle lock(::OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute"));
  if (!lock) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return {Status::kFree, 0};
    return {Status::kFailed, error};
  }
  const win32::MutexLock taken(lock.get(), timeout_ms);
  if (taken.acquired()) return {Status::kFree, 0};
  if (taken.wait_result() == WAIT_TIMEOUT) return {Status::kHeld, 0};
  return {Status::kFailed, ::GetLastError()};
}

}  // namespace

bool SystemPlatform::IsRunningAsSystem() { return varnok::IsRunningAsSystem(); }
SessionList SystemPlatform::GetActiveUserSessions() { return varnok::GetActiveUserSessions(); }
bool SystemPlatform::ImpersonateSessionUser(unsigned long session_id) {
  PreloadVersionLibrary();
  return varnok::ImpersonateSessionUser(session_id);
}
bool SystemPlatform::RevertToSelf() { return ::RevertToSelf() != FALSE; }
int SystemPlatform::CreateProcessInUserSession(const std::string& command_line,
                                               unsigned long timeout_ms, unsigned long session_id,
                                               const std::string& executable,
                                               const std::string& desktop,
                                               const std::optional<FileIdentity>& image) {
  return varnok::CreateProcessInUserSession(command_line, timeout_ms, session_id, executable,
                                            desktop, image);
}
int SystemPlatform::ExecuteFile(const std::string& command_line, const std::string& executable,
                                const std::string& working_directory, unsigned minutes,
                                unsigned long stuck_window_ms,
                                std::unique_ptr<LaunchRemains>* remains, bool installer_removal,
                                HeldFileId held_file) {
  const int result =
      varnok::ExecuteFile(command_line, executable, working_directory, minutes, stuck_window_ms,
                          remains, installer_removal, [&] { ReleaseFile(held_file); });
  ReleaseFile(held_file);  // also when the launch ended before creating anything
  return result;
}
InstallerLockState SystemPlatform::WaitForInstallerLock(unsigned long timeout_ms) {
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
  const DWORD attributes = ::GetFileAttributesW(win32::Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
bool SystemPlatform::IsExistingDirectory(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(win32::Wide(path).c_str());
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
unsigned long SystemPlatform::HoldFile(const std::string& path, HeldFile* held) {
  win32::UniqueFileHandle file;
  HeldFile read;
  const DWORD error = HoldFileToRun(path, &file, &read.security, &read.identity);
  if (error != ERROR_SUCCESS) return error;
  read.id = ++last_hold_;
  held_files_[read.id] = std::move(file);
  *held = std::move(read);
  return ERROR_SUCCESS;
}
void SystemPlatform::ReleaseFile(HeldFileId id) { held_files_.erase(id); }
unsigned long SystemPlatform::ReadFileIdentity(const std::string& path, FileIdentity* identity) {
  return varnok::ReadFileIdentity(path, identity);
}
unsigned long SystemPlatform::ReadVolumeFacts(const std::string& root, VolumeFacts* facts) {
  return varnok::ReadVolumeFacts(root, facts);
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
