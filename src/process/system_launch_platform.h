#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "process/launch_platform.h"
#include "win32/unique_handle.h"

namespace varnok {

// The real calls of the Windows build. Tests under Wine derive from it to change one answer
// that Wine cannot give (the session, the account).
class SystemPlatform : public LaunchPlatform {
 public:
  // `file_step_timeout_ms`: how long one file step may take (see TakeStalledStep).
  explicit SystemPlatform(unsigned long file_step_timeout_ms = kFileStepTimeoutMs)
      : file_step_timeout_ms_(file_step_timeout_ms) {}

  bool IsRunningAsSystem() override;
  SessionList GetActiveUserSessions() override;
  bool ImpersonateSessionUser(unsigned long session_id) override;
  bool RevertToSelf() override;
  int CreateProcessInUserSession(const std::string& command_line, unsigned long timeout_ms,
                                 unsigned long session_id, const std::string& executable,
                                 const std::string& desktop,
                                 const std::optional<FileIdentity>& image) override;
  int ExecuteFile(const std::string& command_line, const std::string& executable,
                  const std::string& working_directory, unsigned minutes,
                  unsigned long stuck_window_ms, std::unique_ptr<LaunchRemains>* remains,
                  bool installer_removal, HeldFileId held_file,
                  const std::string& temp_folder) override;
  std::string GetMsiexecPath() override;
  unsigned long CreatePrivateTempFolder(std::string* folder) override;
  unsigned long RemoveFolderTree(const std::string& folder) override;
  InstallerLockState WaitForInstallerLock(unsigned long timeout_ms) override;
  std::set<unsigned long> SessionsWithShell() override;
  SessionPhase ReadSessionPhase(unsigned long session_id) override;
  unsigned long CurrentSessionId() override;
  void StartShellHere() override;
  std::string WindowsDirectory() override;
  bool IsWow64() override;
  bool IsWindows64Bit() override;
  bool IsExistingFile(const std::string& path) override;
  bool IsExistingDirectory(const std::string& path) override;
  std::vector<std::string> ListFiles(const std::string& folder) override;
  int64_t QueryFileSize(const std::string& path) override;
  FileVersionInfo ReadFileVersion(const std::string& path) override;
  unsigned long ReadFileHead(const std::string& path, size_t max_bytes,
                             std::string* bytes) override;
  unsigned long ReadFileSecurity(const std::string& path, FileSecurity* security) override;
  unsigned long HoldFile(const std::string& path, HeldFile* held) override;
  void ReleaseFile(HeldFileId id) override;
  unsigned long ReadFileIdentity(const std::string& path, FileIdentity* identity) override;
  unsigned long ReadVolumeFacts(const std::string& root, VolumeFacts* facts) override;
  std::string TakeStalledStep() override;
  bool IsAdministrator(const std::string& sid) override;
  std::string AccountNameOfSid(const std::string& sid) override;
  unsigned long long NowMs() override;
  void Sleep(unsigned milliseconds) override;

 protected:
  // `step` on a thread of its own, acting as the caller (see win32::RunBounded), for at most the
  // file step time-out; nullopt when it gave up, or gives up at once because an earlier step
  // did, with `path` noted for TakeStalledStep.
  template <typename Result>
  std::optional<Result> FileStep(const std::string& path, std::function<Result()> step) {
    // Owned by the step's thread too: a step that never returns keeps what it writes to.
    auto result = std::make_shared<std::optional<Result>>();
    if (!RunFileStep(path, [result, step] { *result = step(); })) return std::nullopt;
    return std::move(*result);
  }
  // A step that returns a Win32 error and, on success, a value for `out`; kFileStepStalled when it
  // gave up.
  template <typename Value>
  unsigned long ErrorFileStep(const std::string& path, Value* out,
                              std::function<unsigned long(Value*)> step) {
    using Read = std::pair<unsigned long, Value>;
    const std::optional<Read> read = FileStep<Read>(path, [step] {
      Read result;
      result.first = step(&result.second);
      return result;
    });
    if (!read) return kFileStepStalled;
    if (read->first == 0) *out = read->second;
    return read->first;
  }

 private:
  bool RunFileStep(const std::string& path, std::function<void()> step);

  AdministratorAnswers administrators_;
  std::map<HeldFileId, win32::UniqueFileHandle> held_files_;
  HeldFileId last_hold_ = 0;
  unsigned long file_step_timeout_ms_;
  std::string stalled_;
};

// The one SystemPlatform of the program.
LaunchPlatform& SystemLaunchPlatform();

}  // namespace varnok
