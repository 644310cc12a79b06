// The log file backend: the path fixed at the first line, a cross-process mutex per line that no
// user can take away, size-checked rotation, and files that are never reached through a link.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "common/strings.h"
#include "log/log.h"
#include "log/log_format.h"
#include "log/log_lock.h"
#include "win32/grown_text.h"
#include "win32/registry.h"
#include "win32/security.h"
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

std::string MutexOwnerSid(HANDLE mutex) {
  PSID owner = nullptr;
  win32::UniqueLocalMemory descriptor;
  if (::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, descriptor.put()) != ERROR_SUCCESS) {
    return std::string();
  }
  return win32::SidText(owner);
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

// Opens a file of the logs folder without following a link, and keeps it only when it is the
// plain file it looks like: no reparse point, one name only, and really inside `folder_final`
// (a file reached through a link elsewhere has another final path).
win32::UniqueFileHandle OpenLogFileSafely(const std::string& path, const std::string& folder_final,
                                          DWORD access, DWORD disposition) {
  win32::UniqueFileHandle file(::CreateFileW(
      win32::Wide(path).c_str(), access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return file;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool plain = ::GetFileInformationByHandle(file.get(), &information) &&
                     !(information.dwFileAttributes &
                       (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
                     information.nNumberOfLinks <= 1 &&
                     EqualsNoCase(FinalPath(file.get()), folder_final + "\\" + GetFileName(path));
  if (!plain) file.reset();
  return file;
}

// The logs folder's own final path, or empty when it is missing or is itself a link.
std::string LogFolderFinalPath(const std::string& folder) {
  const DWORD attributes = ::GetFileAttributesW(win32::Wide(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return std::string();
  }
  win32::UniqueFileHandle handle(::CreateFileW(
      win32::Wide(folder).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!handle || !::GetFileInformationByHandle(handle.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return std::string();
  }
  return FinalPath(handle.get());
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
    WriteLine(LogLevel::kInfo, "Log Open : " + DateAndTime());
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
    const std::string own_sid = win32::ProcessTokenSidText(TokenUser);
    const std::vector<std::string> own_sids = {own_sid, win32::ProcessTokenSidText(TokenOwner)};
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
  // another account owns it.
  DWORD UseMutex(const char* name, SECURITY_ATTRIBUTES* attributes,
                 const std::vector<std::string>& own_sids) {
    win32::UniqueHandle mutex(
        ::CreateMutexExW(attributes, win32::Wide(name).c_str(), 0, kLogMutexAccess));
    const DWORD error = ::GetLastError();
    if (!mutex) return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
    if (error == ERROR_ALREADY_EXISTS) {
      const std::string owner = MutexOwnerSid(mutex.get());
      if (!IsLogMutexOwnerTrusted(owner, own_sids)) {
        lock_note_ = LogLockRefusedNote(name, owner);
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
    RefreshCaches();
    std::string line = FormatLogLine(timestamp_text_, thread_text_, level, message);
    line += "\r\n";
    if (WriteAll(file_.get(), line)) size_.Wrote(line.size());
  }

  // Appending only: every write lands at the file's end, after any other writer's lines.
  bool EnsureOpen() {
    if (file_) return true;
    folder_final_ = LogFolderFinalPath(folder_);
    if (folder_final_.empty()) return false;
    file_ = OpenLogFileSafely(path_, folder_final_, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
    size_ = LogSizeTracker();
    return static_cast<bool>(file_);
  }

  // Backups shift up (the fourth is lost), then the active file starts again empty. A backup or
  // active file that is a link or has another name is left alone, and nothing is written to it.
  void Rotate() {
    file_.reset();
    const std::string folder_final = LogFolderFinalPath(folder_);
    if (folder_final.empty()) return;
    for (int n = kLogBackupCount - 1; n >= 0; --n) {
      CopyLogFile(LogBackupPath(path_, n), LogBackupPath(path_, n + 1), folder_final);
    }
    win32::UniqueFileHandle active =
        OpenLogFileSafely(path_, folder_final, GENERIC_WRITE, OPEN_EXISTING);
    if (active) ::SetEndOfFile(active.get());  // opened at offset 0: truncates
  }

  static void CopyLogFile(const std::string& source_path, const std::string& target_path,
                          const std::string& folder_final) {
    const DWORD attributes = ::GetFileAttributesW(win32::Wide(source_path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    win32::UniqueFileHandle source =
        OpenLogFileSafely(source_path, folder_final, GENERIC_READ, OPEN_EXISTING);
    if (!source) return;
    win32::UniqueFileHandle target =
        OpenLogFileSafely(target_path, folder_final, GENERIC_WRITE, OPEN_ALWAYS);
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
  std::string folder_final_;
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
