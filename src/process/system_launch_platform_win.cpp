#include <windows.h>

#include <utility>

#include "common/file_size.h"
#include "inventory/system_registry.h"
#include "process/launched_file.h"
#include "process/private_temp.h"
#include "process/process_launch.h"
#include "process/shell_restore.h"
#include "process/system_launch_platform.h"
#include "process/user_session.h"
#include "uninstall/msiexec_path.h"
#include "uninstall/shared_uninstaller.h"
#include "win32/bounded_call.h"
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
                                HeldFileId held_file, const std::string& temp_folder) {
  const int result = varnok::ExecuteFile(command_line, executable, working_directory, minutes,
                                         stuck_window_ms, remains, installer_removal,
                                         [&] { ReleaseFile(held_file); }, temp_folder);
  ReleaseFile(held_file);  // also when the launch ended before creating anything
  return result;
}
unsigned long SystemPlatform::CreatePrivateTempFolder(std::string* folder) {
  return varnok::CreatePrivateTempFolder(RealWindowsDirectory(), folder);
}
unsigned long SystemPlatform::RemoveFolderTree(const std::string& folder) {
  return varnok::RemoveFolderTree(folder);
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
  return FileStep<std::vector<std::string>>(folder, [folder] { return varnok::ListFiles(folder); })
      .value_or(std::vector<std::string>());
}
int64_t SystemPlatform::QueryFileSize(const std::string& path) {
  return FileStep<int64_t>(path, [path] { return varnok::QueryFileSize(path); }).value_or(-1);
}
unsigned long SystemPlatform::ReadFileHead(const std::string& path, size_t max_bytes,
                                           std::string* bytes) {
  return ErrorFileStep<std::string>(path, bytes, [path, max_bytes](std::string* read) {
    return varnok::ReadFileHead(path, max_bytes, read);
  });
}
FileVersionInfo SystemPlatform::ReadFileVersion(const std::string& path) {
  FileVersionInfo stalled;
  stalled.failure = FileVersionInfo::Failure::kSizeFailed;
  stalled.error = kFileStepStalled;
  return FileStep<FileVersionInfo>(path, [path] { return varnok::ReadFileVersion(path); })
      .value_or(stalled);
}
unsigned long SystemPlatform::ReadFileSecurity(const std::string& path, FileSecurity* security) {
  return ErrorFileStep<FileSecurity>(
      path, security, [path](FileSecurity* read) { return varnok::ReadFileSecurity(path, read); });
}
std::string SystemPlatform::TakeStalledStep() { return std::exchange(stalled_, std::string()); }
bool SystemPlatform::RunFileStep(const std::string& path, std::function<void()> step) {
  struct Step : win32::BoundedWork {
    std::function<void()> step;
    void Run() override { step(); }
  };
  if (!stalled_.empty()) return false;
  auto work = std::make_shared<Step>();
  work->step = std::move(step);
  if (win32::RunBounded(work, file_step_timeout_ms_)) return true;
  stalled_ = path;
  return false;
}
unsigned long SystemPlatform::HoldFile(const std::string& path, HeldFile* held) {
  struct Hold {
    unsigned long error = 0;
    win32::UniqueFileHandle file;
    HeldFile read;
  };
  std::optional<Hold> hold = FileStep<Hold>(path, [path] {
    Hold result;
    result.error = HoldFileToRun(path, &result.file, &result.read.security, &result.read.identity);
    return result;
  });
  if (!hold) return kFileStepStalled;
  if (hold->error != ERROR_SUCCESS) return hold->error;
  hold->read.id = ++last_hold_;
  held_files_[hold->read.id] = std::move(hold->file);
  *held = std::move(hold->read);
  return ERROR_SUCCESS;
}
void SystemPlatform::ReleaseFile(HeldFileId id) { held_files_.erase(id); }
unsigned long SystemPlatform::ReadFileIdentity(const std::string& path, FileIdentity* identity) {
  return ErrorFileStep<FileIdentity>(
      path, identity, [path](FileIdentity* read) { return varnok::ReadFileIdentity(path, read); });
}
unsigned long SystemPlatform::ReadVolumeFacts(const std::string& root, VolumeFacts* facts) {
  return ErrorFileStep<VolumeFacts>(
      root, facts, [root](VolumeFacts* read) { return varnok::ReadVolumeFacts(root, read); });
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
