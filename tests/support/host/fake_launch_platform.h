// A machine as the launch and the row's file steps see it. Records every launch, and every
// file-system step with the session whose user it acted as, so that a test can tell a step done
// as SYSTEM from one done as a row's owner.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/strings.h"
#include "process/launch_platform.h"
#include "support/host/sddl.h"

namespace varnok::testing {

// What a default file or folder of an installed product looks like: administrators own and
// control it, users may read and run it.
constexpr char kAdminOnlySddl[] = "O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)";

class FakeLaunchPlatform : public LaunchPlatform {
 public:
  bool system = false;
  SessionList sessions;
  std::set<unsigned long> unusable_sessions;  // impersonation fails for these
  bool revert_fails = false;                  // the thread cannot stop acting as a user
  std::set<std::string> files;
  std::set<std::string> directories;
  std::map<std::string, std::vector<std::string>> listings;
  std::map<std::string, int64_t> sizes;
  std::map<std::string, std::string> versions;
  std::map<std::string, unsigned long> version_errors;  // reading the version fails with these
  std::map<std::string, std::string> contents;  // path -> the file's bytes
  std::map<std::string, std::string> sddl;  // path -> descriptor; default kAdminOnlySddl
  std::set<std::string> unreadable_security;
  std::set<std::string> links;
  std::map<std::string, AdministratorFacts> administrator_facts;  // default: a non-member
  // Which file a path names (default: one of its own), and which file a launch of a path in a
  // user's session was really created from (default: the one the path names).
  std::map<std::string, FileIdentity> identities;
  std::map<std::string, FileIdentity> launched_images;
  std::map<std::string, unsigned long> identity_errors;
  std::map<std::string, unsigned long> hold_errors;  // HoldFile fails for these
  // The volume of each drive root; default: a fixed disk on a SCSI bus.
  std::map<std::string, VolumeFacts> volumes;
  std::map<std::string, std::string> account_names;
  std::string msiexec = "C:\\Windows\\system32\\msiexec.exe";
  std::set<unsigned long> shells;  // sessions with a desktop shell; a launch may end them
  std::map<unsigned long, unsigned long long> shell_returns;  // session -> when it starts its own
  std::map<unsigned long, SessionPhase> phases;  // default: Active, unlocked, at work
  unsigned long current_session = 1;
  bool wow64 = false;
  bool windows_64bit = true;
  int result = 0;
  // When set, what a watched launch leaves running.
  std::function<std::unique_ptr<LaunchRemains>()> make_remains;
  // When set, what a launch does and returns, given the application name.
  std::function<int(const std::string& executable)> on_launch;
  unsigned long long now_ms = 0;
  unsigned long launch_ms = 0;  // how long each launch takes on the clock
  // Windows Installer's lock is held by another installation until this time of the clock;
  // before `installer_lock_failing_until` it cannot be opened at all (`installer_lock_error`).
  unsigned long long installer_lock_held_until = 0;
  unsigned long long installer_lock_failing_until = 0;
  unsigned long installer_lock_error = 5;
  unsigned long late_ms = 0;  // how late the clock wakes from each lock wait and sleep
  // File steps on these paths give up as a held file makes them (see TakeStalledStep).
  std::set<std::string> stalled_paths;
  // Private temporary folders: the error of making one (0: made), and of removing each.
  unsigned long temp_folder_error = 0;
  std::map<std::string, unsigned long> removal_errors;

  // Recorded.
  std::vector<std::string> calls;   // launches and shell restores
  std::vector<std::string> probes;  // file steps: "<step> <path>[ as <session>]"
  std::vector<std::string> security_reads;  // folders, and files read through their hold
  std::vector<std::string> administrator_queries;
  std::vector<std::string> holds;           // files held, in order
  std::vector<std::string> held_at_launch;  // for each direct launch, the file it held ("": none)
  std::vector<std::string> images;          // for each session launch, the identity it must have
  std::vector<std::string> volume_reads;
  std::vector<std::string> temp_folders;  // "made <folder>", "removed <folder>", "kept <folder>"
  std::vector<std::string> launch_temps;  // each direct launch's TEMP; empty: inherited
  int session_queries = 0;

  bool IsRunningAsSystem() override { return system; }
  SessionList GetActiveUserSessions() override {
    ++session_queries;
    return sessions;
  }
  bool ImpersonateSessionUser(unsigned long session_id) override {
    if (unusable_sessions.count(session_id)) return false;
    acting_as_ = session_id;
    return true;
  }
  bool RevertToSelf() override {
    if (revert_fails) return false;
    acting_as_ = 0;
    return true;
  }

  int CreateProcessInUserSession(const std::string& command_line, unsigned long timeout_ms,
                                 unsigned long session_id, const std::string& executable,
                                 const std::string& desktop,
                                 const std::optional<FileIdentity>& image) override {
    calls.push_back("session " + std::to_string(session_id) + " [" + executable + "] [" +
                    command_line + "] " + std::to_string(timeout_ms) +
                    (desktop == "winsta0\\default" ? "" : " on desktop [" + desktop + "]") +
                    Acting());
    images.push_back(image ? Text(*image) : std::string());
    if (timeout_ms == 0 && GetFileName(executable) == "explorer.exe") shells.insert(session_id);
    now_ms += launch_ms;
    const auto launched = launched_images.find(executable);
    if (image && *image != (launched != launched_images.end() ? launched->second
                                                              : IdentityOf(executable))) {
      return kLaunchedFileChanged;  // created suspended and ended: it never ran
    }
    return on_launch ? on_launch(executable) : result;
  }
  int ExecuteFile(const std::string& command_line, const std::string& executable,
                  const std::string& working_directory, unsigned minutes,
                  unsigned long stuck_window_ms, std::unique_ptr<LaunchRemains>* remains,
                  bool installer_removal, HeldFileId held_file,
                  const std::string& temp_folder) override {
    const auto held = held_files_.find(held_file);
    held_at_launch.push_back(held == held_files_.end() ? std::string() : held->second);
    ReleaseFile(held_file);  // once the program has been created
    calls.push_back("direct [" + command_line + "] [" + executable + "] in [" + working_directory +
                    "] " + std::to_string(minutes) +
                    (stuck_window_ms ? " stuck-window " + std::to_string(stuck_window_ms) : "") +
                    (remains ? " keeps remains" : "") + (installer_removal ? " installer" : "") +
                    Acting());
    launch_temps.push_back(temp_folder);
    now_ms += launch_ms;
    if (remains && make_remains) *remains = make_remains();
    return on_launch ? on_launch(executable) : result;
  }
  std::string GetMsiexecPath() override { return msiexec; }
  unsigned long CreatePrivateTempFolder(std::string* folder) override {
    if (temp_folder_error != 0) return temp_folder_error;
    *folder = "C:\\Windows\\Temp\\private-" + std::to_string(++made_folders_);
    temp_folders.push_back("made " + *folder);
    return 0;
  }
  unsigned long RemoveFolderTree(const std::string& folder) override {
    const auto it = removal_errors.find(folder);
    const unsigned long error = it == removal_errors.end() ? 0 : it->second;
    temp_folders.push_back((error ? "kept " : "removed ") + folder);
    return error;
  }
  InstallerLockState WaitForInstallerLock(unsigned long timeout_ms) override {
    using Status = InstallerLockState::Status;
    if (now_ms < installer_lock_failing_until) return {Status::kFailed, installer_lock_error};
    if (timeout_ms != 0) {
      calls.push_back("installer lock wait " + std::to_string(timeout_ms));
      const unsigned long long held_for =
          now_ms < installer_lock_held_until ? installer_lock_held_until - now_ms : 0;
      now_ms += std::min<unsigned long long>(held_for, timeout_ms) + late_ms;
    }
    return {now_ms < installer_lock_held_until ? Status::kHeld : Status::kFree, 0};
  }
  std::set<unsigned long> SessionsWithShell() override {
    for (const auto& [session, at] : shell_returns) {
      if (at <= now_ms) shells.insert(session);
    }
    return shells;
  }
  SessionPhase ReadSessionPhase(unsigned long session_id) override {
    const auto it = phases.find(session_id);
    return it != phases.end() ? it->second
                              : SessionPhase{SessionPhase::kStateActive, SessionPhase::Lock::kUnlocked};
  }
  unsigned long CurrentSessionId() override { return current_session; }
  void StartShellHere() override {
    calls.push_back("shell here");
    shells.insert(current_session);
  }
  std::string WindowsDirectory() override { return "C:\\Windows"; }
  bool IsWow64() override { return wow64; }
  bool IsWindows64Bit() override { return windows_64bit; }

  bool IsExistingFile(const std::string& path) override {
    probes.push_back("file " + path + Acting());
    return files.count(path) != 0;
  }
  bool IsExistingDirectory(const std::string& path) override {
    probes.push_back("dir " + path + Acting());
    return directories.count(path) != 0;
  }
  std::vector<std::string> ListFiles(const std::string& folder) override {
    if (Stalls(folder)) return {};
    probes.push_back("list " + folder + Acting());
    const auto it = listings.find(folder);
    return it == listings.end() ? std::vector<std::string>() : it->second;
  }
  int64_t QueryFileSize(const std::string& path) override {
    if (Stalls(path)) return -1;
    probes.push_back("size " + path + Acting());
    const auto it = sizes.find(path);
    return it == sizes.end() ? -1 : it->second;
  }
  FileVersionInfo ReadFileVersion(const std::string& path) override {
    FileVersionInfo info;
    if (Stalls(path)) {
      info.failure = FileVersionInfo::Failure::kSizeFailed;
      info.error = kFileStepStalled;
      return info;
    }
    probes.push_back("version " + path + Acting());
    const auto it = versions.find(path);
    const auto error = version_errors.find(path);
    if (error != version_errors.end()) {
      info.failure = FileVersionInfo::Failure::kSizeFailed;
      info.error = error->second;
    } else if (it == versions.end()) {
      info.failure = FileVersionInfo::Failure::kSizeFailed;
      info.error = 1813;
    } else {
      info.version = it->second;
    }
    return info;
  }
  unsigned long ReadFileHead(const std::string& path, size_t max_bytes,
                             std::string* bytes) override {
    if (Stalls(path)) return kFileStepStalled;
    probes.push_back("head " + path + Acting());
    const auto it = contents.find(path);
    if (it == contents.end()) return 2;
    *bytes = it->second.substr(0, max_bytes);
    return 0;
  }
  unsigned long ReadFileSecurity(const std::string& path, FileSecurity* security) override {
    if (Stalls(path)) return kFileStepStalled;
    security_reads.push_back(path + Acting());
    return SecurityOf(path, security);
  }
  unsigned long HoldFile(const std::string& path, HeldFile* held) override {
    if (Stalls(path)) return kFileStepStalled;
    holds.push_back(path + Acting());
    security_reads.push_back(path + Acting());
    const auto error = hold_errors.find(path);
    if (error != hold_errors.end()) return error->second;
    FileSecurity security;
    if (const unsigned long read = SecurityOf(path, &security)) return read;
    held->id = ++last_hold_;
    held->security = security;
    held->identity = IdentityOf(path);
    held_files_[held->id] = path;
    return 0;
  }
  void ReleaseFile(HeldFileId id) override { held_files_.erase(id); }
  unsigned long ReadFileIdentity(const std::string& path, FileIdentity* identity) override {
    if (Stalls(path)) return kFileStepStalled;
    probes.push_back("identity " + path + Acting());
    const auto error = identity_errors.find(path);
    if (error != identity_errors.end()) return error->second;
    *identity = IdentityOf(path);
    return 0;
  }
  unsigned long ReadVolumeFacts(const std::string& root, VolumeFacts* facts) override {
    volume_reads.push_back(root);
    const auto it = volumes.find(root);
    if (it != volumes.end()) {
      *facts = it->second;
    } else {
      facts->drive_type = VolumeFacts::kDriveFixed;
      facts->bus_type = 1;
    }
    return 0;
  }
  // The files held now.
  std::set<std::string> held() const {
    std::set<std::string> paths;
    for (const auto& [id, path] : held_files_) paths.insert(path);
    return paths;
  }
  FileIdentity IdentityOf(const std::string& path) const {
    const auto it = identities.find(path);
    return it != identities.end() ? it->second
                                  : FileIdentity{0x5A, std::hash<std::string>()(path)};
  }
  static std::string Text(const FileIdentity& identity) {
    return std::to_string(identity.volume_serial) + ":" + std::to_string(identity.file_index);
  }

  bool IsAdministrator(const std::string& sid) override {
    administrator_queries.push_back(sid);
    const auto it = administrator_facts.find(sid);
    return it != administrator_facts.end() && IsAdministratorByMembership(it->second);
  }
  std::string AccountNameOfSid(const std::string& sid) override {
    const auto it = account_names.find(sid);
    return it == account_names.end() ? std::string() : it->second;
  }
  std::string TakeStalledStep() override { return std::exchange(stalled_, std::string()); }
  unsigned long long NowMs() override { return now_ms; }
  void Sleep(unsigned milliseconds) override { now_ms += milliseconds + late_ms; }

  bool acting_as_owner() const { return acting_as_ != 0; }

 private:
  // A step on a held path gives up after its time-out; once one has, every step fails at once.
  bool Stalls(const std::string& path) {
    if (!stalled_.empty()) return true;
    if (stalled_paths.count(path) == 0) return false;
    probes.push_back("stalled " + path + Acting());
    now_ms += kFileStepTimeoutMs;
    stalled_ = path;
    return true;
  }
  std::string Acting() const {
    return acting_as_ == 0 ? std::string() : " as " + std::to_string(acting_as_);
  }
  unsigned long acting_as_ = 0;
  unsigned long SecurityOf(const std::string& path, FileSecurity* security) const {
    if (unreadable_security.count(path)) return 5;
    const auto it = sddl.find(path);
    *security = ParseSddl(it == sddl.end() ? kAdminOnlySddl : it->second);
    security->is_link = links.count(path) != 0;
    return 0;
  }

  std::map<HeldFileId, std::string> held_files_;
  HeldFileId last_hold_ = 0;
  std::string stalled_;
  int made_folders_ = 0;
};

}  // namespace varnok::testing
