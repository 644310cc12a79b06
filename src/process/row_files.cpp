#include "process/row_files.h"

#include "common/local_path.h"
#include "common/strings.h"
#include "process/uninstall_execution.h"
#include "uninstall/classify.h"

namespace varnok {

RowAccess ResolveRowAccess(LaunchPlatform& platform, const UninstallEntry& entry) {
  RowAccess access;
  // HKCU and HKEY_USERS are shared by both views: only the 64-bit machine-wide view is 64-bit.
  access.native_system_folder =
      entry.root == RegistryRoot::kLocalMachine && entry.view_64bit && platform.IsWow64();
  if (!IsPerUserRoot(entry.root) || !platform.IsRunningAsSystem()) return access;
  access.owner_sid = OwnerSidOf(entry);
  const SessionList sessions = platform.GetActiveUserSessions();
  const UserSession* session = FindOwnerSession(sessions, access.owner_sid);
  if (!session) {
    access.route = RowAccess::Route::kNoOwnerSession;
    return access;
  }
  access.session_id = session->session_id;
  // Every file step of the row needs the owner's token; a row whose token cannot be used is
  // refused now rather than probed as SYSTEM later.
  if (!platform.ImpersonateSessionUser(access.session_id)) {
    access.route = RowAccess::Route::kOwnerUnavailable;
    return access;
  }
  if (!platform.RevertToSelf()) throw RevertFailed();
  access.route = RowAccess::Route::kOwnerSession;
  return access;
}

std::string RowFiles::Native(const std::string& path) {
  if (!access_.native_system_folder) return path;
  if (windows_directory_.empty()) windows_directory_ = platform_.WindowsDirectory();
  if (windows_directory_.empty()) return path;
  const std::string system32 = windows_directory_ + "\\System32";
  const size_t n = system32.size();
  if (path.size() < n || !EqualsNoCase(std::string_view(path).substr(0, n), system32)) return path;
  if (path.size() > n && path[n] != '\\' && path[n] != '/') return path;  // "System32x"
  return windows_directory_ + "\\Sysnative" + path.substr(n);
}

std::string AsStartedProgramSeesIt(const std::string& path, const std::string& windows_directory) {
  if (windows_directory.empty()) return path;
  const std::string sysnative = windows_directory + "\\Sysnative";
  const size_t n = sysnative.size();
  if (path.size() <= n || !EqualsNoCase(std::string_view(path).substr(0, n), sysnative)) return path;
  if (path[n] != '\\' && path[n] != '/') return path;  // "Sysnativex"
  return windows_directory + "\\System32" + path.substr(n);
}

template <typename Result, typename Step>
Result RowFiles::Probe(const std::string& path, Result nothing, Step step) {
  if (!IsLocalAbsolutePath(path)) return nothing;
  if (access_.route == RowAccess::Route::kDirect) return step();
  if (access_.route != RowAccess::Route::kOwnerSession) return nothing;
  if (!platform_.ImpersonateSessionUser(access_.session_id)) return nothing;
  // Reverted on every path out, including an exception from the step (which ends the run).
  struct Revert {
    LaunchPlatform& platform;
    bool done = false;
    bool Now() {
      done = true;
      return platform.RevertToSelf();
    }
    ~Revert() {
      if (!done) (void)platform.RevertToSelf();
    }
  } revert{platform_};
  Result result = step();
  if (!revert.Now()) throw RevertFailed();
  return result;
}

bool RowFiles::IsFile(const std::string& path) {
  return Probe(path, false, [&] { return platform_.IsExistingFile(Native(path)); });
}

std::string RowFiles::ReadHead(const std::string& path, size_t max_bytes) {
  return Probe(path, std::string(), [&] {
    std::string bytes;
    return platform_.ReadFileHead(Native(path), max_bytes, &bytes) == 0 ? bytes : std::string();
  });
}

bool RowFiles::IsDirectory(const std::string& path) {
  return Probe(path, false, [&] { return platform_.IsExistingDirectory(Native(path)); });
}

std::vector<std::string> RowFiles::ListFiles(const std::string& folder) {
  return Probe(folder, std::vector<std::string>(),
               [&] { return platform_.ListFiles(Native(folder)); });
}

int64_t RowFiles::FileSize(const std::string& path) {
  return Probe(path, int64_t{-1}, [&] { return platform_.QueryFileSize(Native(path)); });
}

FileVersionInfo RowFiles::ReadFileVersion(const std::string& path) {
  FileVersionInfo missing;
  missing.failure = FileVersionInfo::Failure::kFileMissing;
  return Probe(path, missing, [&] { return platform_.ReadFileVersion(Native(path)); });
}

unsigned long RowFiles::ReadIdentity(const std::string& path, FileIdentity* identity) {
  constexpr unsigned long kRefused = 5;  // ERROR_ACCESS_DENIED
  return Probe(path, kRefused, [&] { return platform_.ReadFileIdentity(Native(path), identity); });
}

LocatedUninstaller LocateUninstaller(RowFiles& files, std::string_view command,
                                     const std::vector<std::string>& search_folders) {
  LocatedUninstaller located;
  // A candidate names a file as Windows would start it: as written, or with ".exe" added.
  const NamesFile names_file = [&](const std::string& written) {
    if (!IsLocalAbsolutePath(written)) return false;
    const std::string candidate = NormalizedLocalPath(written);
    return files.IsFile(candidate) ||
           (!HasExtension(candidate) && files.IsFile(candidate + ".exe"));
  };
  std::string arguments;
  SplitCommandLine(command, &located.executable, &arguments, names_file);
  if (located.executable.empty()) return located;
  if (!IsLocalAbsolutePath(located.executable)) {
    located.refused_path = located.executable;
    return located;
  }
  // "unins000.exe." opens unins000.exe: judged by its written name it would pass for another
  // program, and miss the guard of a generic uninstaller.
  const std::string executable = NormalizedLocalPath(located.executable);
  if (files.IsFile(executable)) {
    located.file = files.Native(executable);
    return located;
  }
  if (!HasExtension(executable) && files.IsFile(executable + ".exe")) {
    located.file = files.Native(executable + ".exe");
    return located;
  }
  const std::string name = GetFileName(executable);
  std::vector<std::string> folders = search_folders;
  folders.push_back(FolderOf(executable));
  for (const std::string& written : folders) {
    if (written.empty()) continue;
    if (!IsLocalAbsolutePath(written)) {
      located.refused_path = written;
      return located;
    }
    const std::string folder = NormalizedLocalPath(written);
    if (!files.IsDirectory(folder)) continue;
    for (const std::string& file : files.ListFiles(folder)) {
      if (EqualsNoCase(GetFileName(file), name)) {
        located.file = file;
        return located;
      }
    }
  }
  return located;
}

std::string FindMainExecutable(RowFiles& files, const std::string& folder, std::string_view hint) {
  if (folder.empty() || !files.IsDirectory(folder)) return std::string();
  return SelectMainExecutable(files.ListFiles(folder), hint,
                              [&](const std::string& path) { return files.FileSize(path); });
}

FileVersionInfo GetFileVersion(RowFiles& files, const std::string& path) {
  // Read first and logged afterwards: the log is written as the program itself, never while
  // acting as a row's owner.
  const FileVersionInfo info = files.ReadFileVersion(path);
  LogFileVersion(path, info);
  return info;
}

}  // namespace varnok
