#pragma once

#include <map>

#include "process/launch_platform.h"
#include "win32/unique_handle.h"

namespace varnok {

// The real calls of the Windows build. Tests under Wine derive from it to change one answer
// that Wine cannot give (the session, the account).
class SystemPlatform : public LaunchPlatform {
 public:
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
                  bool installer_removal, HeldFileId held_file) override;
  std::string GetMsiexecPath() override;
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
  bool IsAdministrator(const std::string& sid) override;
  std::string AccountNameOfSid(const std::string& sid) override;
  unsigned long long NowMs() override;
  void Sleep(unsigned milliseconds) override;

 private:
  AdministratorAnswers administrators_;
  std::map<HeldFileId, win32::UniqueFileHandle> held_files_;
  HeldFileId last_hold_ = 0;
};

// The one SystemPlatform of the program.
LaunchPlatform& SystemLaunchPlatform();

}  // namespace varnok
