// The log file backend: the path fixed at the first line, a cross-process mutex per line that no
// user can take away, size-checked rotation, and files that are never reached through a link:
// each one is opened by name relative to the logs folder's handle, and under LocalSystem only once
// that folder, the folders above it and the file itself passed the trust check.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/strings.h"
#include "log/log.h"
#include "log/log_format.h"
#include "log/log_lock.h"
#include "log/log_trust.h"
#include "process/file_trust.h"
#include "win32/grown_text.h"
#include "win32/registry.h"
#include "win32/security.h"
#include "win32/system_library.h"
#include "win32/text.h"
#include "win32/unique_handle.h"

namespace varnok::log_internal {
namespace {

// The agent's other writers open "fmprereq" from session 0, where it is the global object; a run
// in a user's session reaches the same object only through the Global\ prefix.
constexpr char kLogMutexName[] = "Global\\fmprereq";
constexpr char kSessionLogMutexName[] = "fmprereq";
// Waiting and releasing need SYNCHRONIZE only, reading the owner READ_CONTROL. CreateMutexA
// would ask an existing mutex for all access, which a DACL granting just these refuses.
constexpr DWORD kLogMutexAccess = SYNCHRONIZE | READ_CONTROL;
constexpr DWORD kLogMutexWaitMs = 3000;
constexpr wchar_t kAgentKeyPath[] = L"SOFTWARE\\Orvelle\\Fleetmoor\\FMAgent";
constexpr wchar_t kInstallDirValue[] = L"FMAgentInstallDir";  // REG_SZ, read in the 32-bit view

std::string ReadInstallDir() {
  std::string dir;
  if (win32::ReadRegistryText(HKEY_LOCAL_MACHINE, kAgentKeyPath, KEY_WOW64_32KEY,
                              kInstallDirValue, &dir) != ERROR_SUCCESS) {
    return std::string();
  }
  return dir;
}

std::string CurrentDirectory() {
  return win32::ReadGrownText(
      [](wchar_t* buffer, DWORD chars) { return ::GetCurrentDirectoryW(chars, buffer); });
}

// An install directory written without a drive ("\\Agent", "Agent") still gives an absolute path.
std::string FullPath(const std::string& path) {
  const std::wstring wide = win32::Wide(path);
  const std::string full = win32::ReadGrownText([&](wchar_t* buffer, DWORD chars) {
    return ::GetFullPathNameW(wide.c_str(), chars, buffer, nullptr);
  });
  return full.empty() ? path : full;
}

// The owner and DACL of a mutex opened with READ_CONTROL. A mutex's DACL holds plain allow and
// deny entries; any other type is read as unknown. No owner when the descriptor cannot be read.
FileSecurity MutexSecurity(HANDLE mutex) {
  FileSecurity security;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  win32::UniqueLocalMemory descriptor;
  if (::GetSecurityInfo(mutex, SE_KERNEL_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, descriptor.put()) != ERROR_SUCCESS) {
    return security;
  }
  security.owner_sid = win32::SidText(owner);
  security.has_dacl = dacl != nullptr;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    AccessEntry entry;
    entry.kind = AccessEntry::Kind::kOther;
    void* ace = nullptr;
    if (::GetAce(dacl, i, &ace)) {
      const auto* plain = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
      entry.flags = plain->Header.AceFlags;
      if (plain->Header.AceType == ACCESS_ALLOWED_ACE_TYPE ||
          plain->Header.AceType == ACCESS_DENIED_ACE_TYPE) {
        entry.kind = plain->Header.AceType == ACCESS_ALLOWED_ACE_TYPE ? AccessEntry::Kind::kAllow
                                                                      : AccessEntry::Kind::kDeny;
        entry.mask = plain->Mask;
        entry.sid = win32::SidText(const_cast<DWORD*>(&plain->SidStart));
      }
    }
    security.dacl.push_back(std::move(entry));
  }
  return security;
}

// "\\?\C:\x" and "\\?\UNC\server\x" as GetFinalPathNameByHandle gives them, in their usual form.
std::string FinalPath(HANDLE handle) {
  std::string path = win32::ReadGrownText([&](wchar_t* buffer, DWORD chars) {
    return ::GetFinalPathNameByHandleW(handle, buffer, chars,
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
  if (StartsWithNoCase(path, "\\\\?\\UNC\\")) return "\\\\" + path.substr(8);
  if (StartsWithNoCase(path, "\\\\?\\")) return path.substr(4);
  return path;
}

// The logs folder itself, never through a link: a directory that is no reparse point, or none.
// Every log file is opened relative to this handle, so the folder that was checked is the one
// written, whatever its path leads to later.
win32::UniqueFileHandle OpenLogFolder(const std::string& folder) {
  // Windows shows a link opened as itself by its handle; Wine shows its host links only by path.
  const DWORD attributes = ::GetFileAttributesW(win32::Wide(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return win32::UniqueFileHandle();
  }
  win32::UniqueFileHandle handle(::CreateFileW(
      win32::Wide(folder).c_str(), FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (handle && (!::GetFileInformationByHandle(handle.get(), &information) ||
                 !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                 (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
    handle.reset();
  }
  return handle;
}

// Opens a file by name inside a folder's handle with ntdll's NtCreateFile (the Win32 calls take
// only whole paths): never a directory, never through a link, shared for reading and writing, and
// not left waiting on an opportunistic lock's break.
class FolderFileOpener {
 public:
  FolderFileOpener()
      : ntdll_(win32::LoadSystemLibrary("ntdll.dll")),
        create_(win32::GetProc<decltype(&::NtCreateFile)>(ntdll_, "NtCreateFile")) {}

  // `disposition` is FILE_OPEN, FILE_CREATE or FILE_OPEN_IF. Empty on failure.
  win32::UniqueFileHandle Open(HANDLE folder, const std::string& name, ACCESS_MASK access,
                               ULONG disposition) const {
    std::wstring wide = win32::Wide(name);
    if (!create_ || wide.empty() || wide.size() > 32767) return win32::UniqueFileHandle();
    UNICODE_STRING object_name;
    object_name.Buffer = wide.data();
    object_name.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    object_name.MaximumLength = object_name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK status{};
    HANDLE file = nullptr;
    const NTSTATUS result = create_(
        &file, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status, nullptr,
        FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
        FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT |
            FILE_COMPLETE_IF_OPLOCKED,
        nullptr, 0);
    return result >= 0 ? win32::UniqueFileHandle(file) : win32::UniqueFileHandle();
  }

 private:
  win32::UniqueModule ntdll_;
  decltype(&::NtCreateFile) create_;
};

// A log file is kept only when it is the plain file it looks like: no reparse point, one name
// only, and really inside the folder whose final path is `folder_final` (a file reached through
// a link elsewhere has another final path).
bool IsPlainLogFile(HANDLE file, const std::string& folder_final, const std::string& name) {
  BY_HANDLE_FILE_INFORMATION information{};
  return ::GetFileInformationByHandle(file, &information) &&
         !(information.dwFileAttributes &
           (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
         information.nNumberOfLinks <= 1 &&
         EqualsNoCase(FinalPath(file), folder_final + "\\" + name);
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  DWORD written = 0;
  return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

class LogFile {
 public:
  ~LogFile() { Close(); }

  void SetFileName(std::string_view name) {
    if (!opened_once_) file_name_.assign(name);
  }

  void Write(LogLevel level, std::string_view message) {
    PrepareLock();
    if (mutex_) {
      // An abandoned mutex is taken as acquired: its owner died, and every line is written whole,
      // so the next line can safely follow.
      win32::MutexLock lock(mutex_.get(), kLogMutexWaitMs);
      if (!lock.acquired()) return;
      WriteLocked(level, message);
    } else {
      WriteLocked(level, message);
    }
  }

 private:
  void WriteLocked(LogLevel level, std::string_view message) {
    if (!opened_once_) Open();
    if (!lock_note_.empty()) {
      const std::string note = std::move(lock_note_);
      lock_note_.clear();
      WriteLine(LogLevel::kError, note);
    }
    WriteLine(level, message);
  }

  // The path is fixed here, once, as an absolute path: rotation and every later open use it,
  // whatever the current directory has become meanwhile.
  void Open() {
    opened_once_ = true;
    path_ = FullPath(ResolveLogPath(ReadInstallDir(), file_name_, CurrentDirectory()));
    folder_ = GetParentPath(path_);
    name_ = GetFileName(path_);
    local_system_ = EqualsNoCase(OwnSids().front(), kLocalSystemSid);
    WriteLine(LogLevel::kInfo, "Log Open : " + DateAndTime());
  }

  // The user and the default owner (what a new file is owned by) of this process's token.
  const std::vector<std::string>& OwnSids() {
    if (own_sids_.empty()) {
      own_sids_ = {win32::ProcessTokenSidText(TokenUser), win32::ProcessTokenSidText(TokenOwner)};
    }
    return own_sids_;
  }

  // Whom the log trusts with its folder and files; the Administrators group's members are read
  // only when an account is none of the agent's own.
  bool IsTrustedAccount(const std::string& sid) {
    if (IsLogAccountTrusted(sid, OwnSids(), {})) return true;
    if (!administrators_read_) {
      administrators_ = GetLocalGroupMembers(kAdministratorsSid);
      administrators_read_ = true;
    }
    return IsLogAccountTrusted(sid, OwnSids(), administrators_);
  }

  // Process exit. The closing line is written under the mutex like every other line.
  void Close() {
    if (file_) {
      if (mutex_) {
        win32::MutexLock lock(mutex_.get(), kLogMutexWaitMs);
        if (lock.acquired()) WriteLine(LogLevel::kInfo, "Log Close : " + DateAndTime());
      } else {
        WriteLine(LogLevel::kInfo, "Log Close : " + DateAndTime());
      }
    }
    file_.reset();
    mutex_.reset();
  }

  // Decided once for the process: the shared mutex, unless a user made it their own; then the
  // lines are written without it (a lock a user holds or denies must not cost the log its lines),
  // and the log says so once. Outside session 0 a machine-wide mutex that cannot be opened leaves
  // this session's own one, which keeps apart only the writers of this session.
  void PrepareLock() {
    if (lock_prepared_) return;
    lock_prepared_ = true;
    const std::vector<std::string> own_sids = OwnSids();
    const std::string& own_sid = own_sids.front();
    win32::UniqueLocalMemory descriptor;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        win32::Wide(LogMutexSddl(own_sid)).c_str(), SDDL_REVISION_1, descriptor.put(), nullptr);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    SECURITY_ATTRIBUTES* secured = descriptor ? &attributes : nullptr;
    const DWORD error = UseMutex(kLogMutexName, secured, own_sids);
    if (error == ERROR_SUCCESS || !lock_note_.empty()) return;
    DWORD session = 0;
    const bool session_zero =
        ::ProcessIdToSessionId(::GetCurrentProcessId(), &session) && session == 0;
    // In session 0 the plain name is the same object, refused the same way.
    if (!session_zero && UseMutex(kSessionLogMutexName, secured, own_sids) == ERROR_SUCCESS) {
      lock_note_ = LogLockSessionOnlyNote(kSessionLogMutexName, error);
      return;
    }
    if (lock_note_.empty()) lock_note_ = LogLockUnavailableNote(error);
  }

  // Creates or opens `name` and keeps it when it is ours or the agent's. ERROR_SUCCESS when it
  // is kept; otherwise the open's error, or ERROR_ACCESS_DENIED with the refusal noted when
  // another account owns it or its DACL lets another account take or change it.
  DWORD UseMutex(const char* name, SECURITY_ATTRIBUTES* attributes,
                 const std::vector<std::string>& own_sids) {
    win32::UniqueHandle mutex(
        ::CreateMutexExW(attributes, win32::Wide(name).c_str(), 0, kLogMutexAccess));
    const DWORD error = ::GetLastError();
    if (!mutex) return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
    if (error == ERROR_ALREADY_EXISTS) {
      const FileSecurity security = MutexSecurity(mutex.get());
      if (!IsLogMutexOwnerTrusted(security.owner_sid, own_sids)) {
        lock_note_ = LogLockRefusedNote(name, security.owner_sid);
        return ERROR_ACCESS_DENIED;
      }
      if (const std::optional<UserControl> control = FindLogMutexUserControl(security, own_sids)) {
        lock_note_ = LogLockOpenToOthersNote(name, *control);
        return ERROR_ACCESS_DENIED;
      }
    }
    mutex_ = std::move(mutex);
    return ERROR_SUCCESS;
  }

  void WriteLine(LogLevel level, std::string_view message) {
    if (path_.empty() || message.empty()) return;
    if (!EnsureOpen()) return;  // this line is lost; the next one tries again
    if (size_.SizeReadDue()) {
      LARGE_INTEGER size{};
      size_.Reset(::GetFileSizeEx(file_.get(), &size) ? size.QuadPart : 0);
    }
    if (size_.RotationDue()) {
      Rotate();
      if (!EnsureOpen()) return;
    }
    std::vector<std::string> notes;
    notes.swap(file_notes_);
    for (const std::string& note : notes) Append(LogLevel::kError, note);
    Append(level, message);
  }

  void Append(LogLevel level, std::string_view message) {
    RefreshCaches();
    std::string line = FormatLogLine(timestamp_text_, thread_text_, level, message);
    line += "\r\n";
    if (WriteAll(file_.get(), line)) size_.Wrote(line.size());
  }

  // Appending only: every write lands at the file's end, after any other writer's lines.
  bool EnsureOpen() {
    if (file_) return true;
    if (!EnsureFolder()) return false;
    file_ = OpenInFolder(name_, FILE_APPEND_DATA, true);
    size_ = LogSizeTracker();
    return static_cast<bool>(file_);
  }

  // The logs folder's handle, opened once the folder exists and, under LocalSystem, once it and
  // every folder above it passed the check. A refused folder is decided for the process: nothing
  // is written, not even why, as there is nowhere else to write it.
  bool EnsureFolder() {
    if (folder_handle_) return true;
    if (folder_refused_) return false;
    if (local_system_) {
      LogPathRefusal refusal;
      const LogFolderState state = CheckLogFolder(
          folder_, ReadFileSecurity, [this](const std::string& sid) { return IsTrustedAccount(sid); },
          &folder_security_, &refusal);
      if (state != LogFolderState::kUsable) {
        folder_refused_ = state == LogFolderState::kRefused;
        return false;
      }
    }
    folder_handle_ = OpenLogFolder(folder_);
    folder_final_ = folder_handle_ ? FinalPath(folder_handle_.get()) : std::string();
    if (folder_final_.empty()) folder_handle_.reset();
    return static_cast<bool>(folder_handle_);
  }

  // A file of the logs folder, created when `create` allows and it is missing. Under LocalSystem
  // it is first judged, and a refused one is neither created nor opened: the active file's lines
  // are then lost for the process, and a backup's refusal is written once to the active file.
  win32::UniqueFileHandle OpenInFolder(const std::string& name, ACCESS_MASK access, bool create) {
    ULONG disposition = create ? FILE_OPEN_IF : FILE_OPEN;
    if (active_refused_ && name == name_) return win32::UniqueFileHandle();
    if (local_system_) {
      bool exists = false;
      const std::optional<LogPathRefusal> refused = CheckLogFile(
          folder_ + "\\" + name, folder_security_, OwnSids()[1], ReadFileSecurity,
          [this](const std::string& sid) { return IsTrustedAccount(sid); }, &exists);
      if (refused) {
        if (name == name_) {
          active_refused_ = true;
        } else if (noted_files_.insert(name).second) {
          file_notes_.push_back(LogFileRefusedNote(*refused));
        }
        return win32::UniqueFileHandle();
      }
      if (!exists && !create) return win32::UniqueFileHandle();
      disposition = exists ? FILE_OPEN : FILE_CREATE;
    }
    win32::UniqueFileHandle file = opener_.Open(folder_handle_.get(), name, access, disposition);
    if (file && !IsPlainLogFile(file.get(), folder_final_, name)) file.reset();
    return file;
  }

  // Backups shift up (the fourth is lost), then the active file starts again empty. A backup or
  // active file that is a link, has another name or is refused is left alone, and nothing is
  // written to it.
  void Rotate() {
    file_.reset();
    if (!EnsureFolder()) return;
    for (int n = kLogBackupCount - 1; n >= 0; --n) {
      CopyLogFile(GetFileName(LogBackupPath(path_, n)), GetFileName(LogBackupPath(path_, n + 1)));
    }
    win32::UniqueFileHandle active = OpenInFolder(name_, FILE_GENERIC_WRITE, false);
    if (active) ::SetEndOfFile(active.get());  // opened at offset 0: truncates
  }

  void CopyLogFile(const std::string& source_name, const std::string& target_name) {
    win32::UniqueFileHandle source = OpenInFolder(source_name, FILE_GENERIC_READ, false);
    if (!source) return;
    win32::UniqueFileHandle target = OpenInFolder(target_name, FILE_GENERIC_WRITE, true);
    if (!target || !::SetEndOfFile(target.get())) return;
    std::vector<char> buffer(64 * 1024);
    DWORD got = 0;
    while (::ReadFile(source.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                      nullptr) &&
           got > 0) {
      if (!WriteAll(target.get(), std::string_view(buffer.data(), got))) return;
    }
  }

  std::string DateAndTime() {
    RefreshCaches();
    return date_ + " " + time_;
  }

  void RefreshCaches() {
    const ULONGLONG tick = ::GetTickCount64();
    if (!timestamp_valid_ || tick != cached_tick_) {
      cached_tick_ = tick;
      timestamp_valid_ = true;
      const std::time_t now = std::time(nullptr);
      const std::tm* local = std::localtime(&now);
      date_ = local ? FormatLogDate(local->tm_year + 1900, local->tm_mon + 1, local->tm_mday)
                    : FormatLogDate(1970, 1, 1);
      SYSTEMTIME utc{};
      SYSTEMTIME wall{};
      ::GetSystemTime(&utc);
      if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &wall)) wall = utc;
      time_ = FormatLogTime(wall.wHour, wall.wMinute, wall.wSecond, wall.wMilliseconds);
      timestamp_text_ = FormatTimestampText(date_, time_);
    }
    const DWORD thread = ::GetCurrentThreadId();
    if (!thread_valid_ || thread != cached_thread_) {
      cached_thread_ = thread;
      thread_valid_ = true;
      thread_text_ = FormatThreadText(thread);
    }
  }

  win32::UniqueHandle mutex_;
  bool lock_prepared_ = false;
  std::string lock_note_;  // written once, with the next line
  std::string file_name_;
  std::string path_;    // absolute; empty until the first line
  std::string folder_;  // the logs folder
  std::string name_;    // the active file's name in it
  std::vector<std::string> own_sids_;
  bool local_system_ = false;
  std::vector<std::string> administrators_;
  bool administrators_read_ = false;
  win32::UniqueFileHandle folder_handle_;
  std::string folder_final_;
  FileSecurity folder_security_;  // read under LocalSystem only
  bool folder_refused_ = false;
  bool active_refused_ = false;
  std::set<std::string> noted_files_;
  std::vector<std::string> file_notes_;  // refusals, written before the next line
  FolderFileOpener opener_;
  win32::UniqueFileHandle file_;
  LogSizeTracker size_;
  bool opened_once_ = false;

  bool timestamp_valid_ = false;
  ULONGLONG cached_tick_ = 0;
  std::string date_;
  std::string time_;
  std::string timestamp_text_;

  bool thread_valid_ = false;
  DWORD cached_thread_ = 0;
  std::string thread_text_;
};

LogFile& Instance() {
  // Destroyed during the normal process exit, which writes the closing line.
  static LogFile log;
  return log;
}

}  // namespace

void SetFileName(std::string_view name) { Instance().SetFileName(name); }

void WriteLine(LogLevel level, std::string_view message) { Instance().Write(level, message); }

}  // namespace varnok::log_internal
