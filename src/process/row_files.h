// A row's side of the machine: whose row it is, how its files are reached, and where its
// uninstaller really is. Under LocalSystem a per-user row was written by its owner, who is not an
// administrator; every file-system step on such a row's paths runs as that owner, never as
// SYSTEM, and only local absolute paths are touched for any row.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/uninstall_entry.h"
#include "process/launch_platform.h"
#include "uninstall/installer_technology.h"

namespace varnok {

// The thread could not stop acting as a row's owner. Nothing more may be done in it as SYSTEM
// would be done as that user instead: the run ends (51006).
class RevertFailed : public std::runtime_error {
 public:
  RevertFailed()
      : std::runtime_error("the thread could not stop acting as a row's owner (RevertToSelf "
                           "failed)") {}
};

// How a row is handled on this machine.
struct RowAccess {
  enum class Route {
    kDirect,            // in the program's own context
    kOwnerSession,      // as the owner of the row's hive, in that user's session
    kNoOwnerSession,    // per-user row under LocalSystem whose owner has no session
    kOwnerUnavailable,  // the owner's session token could not be used
  };
  Route route = Route::kDirect;
  unsigned long session_id = 0;
  std::string owner_sid;
  // A machine-wide row of the 64-bit view read by this 32-bit program on 64-bit Windows: its
  // paths under <windir>\System32 mean the 64-bit folder, which the program reaches as
  // <windir>\Sysnative. (A user's hive is one key for both views: its rows say nothing of this.)
  bool native_system_folder = false;
};

// kDirect unless the program runs as LocalSystem and the row comes from a user's hive; then the
// session whose user has the SID of the row's hive (first by user name), checked by acting as
// that user once. Asks for the session list only in that case. Sets native_system_folder for a
// machine-wide row of the 64-bit view under WOW64.
RowAccess ResolveRowAccess(LaunchPlatform& platform, const UninstallEntry& entry);

// File-system steps for one row. A step touches the disk only for a local absolute path and, for
// a row routed to its owner's session, while acting as the owner; a refused step, or one whose
// impersonation fails, reads as "nothing there". Logs nothing.
class RowFiles : public UninstallerFiles {
 public:
  RowFiles(LaunchPlatform& platform, const RowAccess& access)
      : platform_(platform), access_(access) {}

  // `path` as the row's author meant it (see RowAccess::native_system_folder); unchanged for
  // every other path.
  std::string Native(const std::string& path);

  bool IsFile(const std::string& path) override;
  std::string ReadHead(const std::string& path, size_t max_bytes) override;
  bool IsDirectory(const std::string& path);
  std::vector<std::string> ListFiles(const std::string& folder);
  int64_t FileSize(const std::string& path);
  FileVersionInfo ReadFileVersion(const std::string& path);
  // Which file `path` names, as the row's account sees it; the Win32 error, 0 on success (a
  // refused step: 5).
  unsigned long ReadIdentity(const std::string& path, FileIdentity* identity);

 private:
  template <typename Result, typename Step>
  Result Probe(const std::string& path, Result nothing, Step step);

  LaunchPlatform& platform_;
  RowAccess access_;
  std::string windows_directory_;  // read on first use
};

// `path` as a 64-bit program started through it sees it: <windir>\Sysnative\... is its
// <windir>\System32\...; every other path unchanged.
std::string AsStartedProgramSeesIt(const std::string& path, const std::string& windows_directory);

// Where a stored command's uninstaller is on disk.
struct LocatedUninstaller {
  std::string executable;    // the command's executable as split (see LocateUninstaller)
  std::string file;          // the file that will run; empty when none was found
  std::string refused_path;  // a path that had to be probed but is not local absolute
};

// Read-only. Splits `command` (an unquoted command without ".exe" at the longest prefix ending
// before a blank, or the whole text, that names a file; the first blank otherwise), then finds
// the file: the executable itself, the executable with ".exe" added when its name has no
// extension, or else the first file of the same name (ignoring case) in `search_folders` and
// then the executable's own folder; `file` is given as RowFiles::Native names it. Every path is
// probed, and `file` given, as NormalizedLocalPath writes it, so that what is judged and run is
// the file Windows would open. Stops at the first path that is not local absolute and names it
// in `refused_path`; nothing at or after it is probed.
LocatedUninstaller LocateUninstaller(RowFiles& files, std::string_view command,
                                     const std::vector<std::string>& search_folders);

// The product's main executable beside a generic uninstaller (SelectMainExecutable over the
// folder's listing and sizes); empty for a missing folder.
std::string FindMainExecutable(RowFiles& files, const std::string& folder, std::string_view hint);

// The main executable's file version as read, logged as GetFileVersion does.
FileVersionInfo GetFileVersion(RowFiles& files, const std::string& path);

}  // namespace varnok
