// The log file backend: lazy open, cross-process mutex per line, size-checked rotation.
#include <share.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "common/file_size.h"
#include "log/log.h"
#include "log/log_format.h"
#include "win32/registry.h"
#include "win32/unique_handle.h"

namespace varnok::log_internal {
namespace {

constexpr char kLogMutexName[] = "fmprereq";  // shared with the agent's other processes
constexpr DWORD kLogMutexWaitMs = 3000;
constexpr char kAgentKeyPath[] = "SOFTWARE\\Orvelle\\Fleetmoor\\FMAgent";
constexpr char kInstallDirValue[] = "FMAgentInstallDir";  // REG_SZ, read in the 32-bit view

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// Text mode (lines end in CR LF on disk), deny-none sharing: other writers and readers of the
// agent are never locked out at file level.
UniqueFile OpenShared(const std::string& path, const char* mode) {
  return UniqueFile(_fsopen(path.c_str(), mode, _SH_DENYNO));
}

std::string ReadInstallDir() {
  std::string dir;
  if (win32::ReadRegistryText(HKEY_LOCAL_MACHINE, kAgentKeyPath, KEY_WOW64_32KEY,
                              kInstallDirValue, &dir) != ERROR_SUCCESS) {
    return std::string();
  }
  return dir;
}

class LogFile {
 public:
  ~LogFile() { Close(); }

  void SetFileName(std::string_view name) {
    if (!opened_once_) file_name_.assign(name);
  }

  void Write(LogLevel level, std::string_view message) {
    if (!Mutex()) return;
    // An abandoned mutex is taken as acquired: its owner died, the file is append-only and every
    // line is flushed whole, so the next line can safely follow.
    win32::MutexLock lock(mutex_.get(), kLogMutexWaitMs);
    if (!lock.acquired()) return;
    if (!opened_once_) Open();
    WriteLine(level, message);
  }

 private:
  void Open() {
    opened_once_ = true;
    const std::string path = ResolveLogPath(ReadInstallDir(), file_name_);
    stream_ = OpenShared(path, "a");
    if (!stream_) return;  // disabled for the rest of the process
    path_ = path;
    WriteLine(LogLevel::kInfo, "Log Open : " + DateAndTime());
  }

  // Process exit. The closing line is written under the mutex like every other line: written
  // without it, it could land on top of another process's line.
  void Close() {
    if (stream_ && Mutex()) {
      win32::MutexLock lock(mutex_.get(), kLogMutexWaitMs);
      if (lock.acquired()) WriteLine(LogLevel::kInfo, "Log Close : " + DateAndTime());
    }
    stream_.reset();
    path_.clear();
    mutex_.reset();
  }

  // Opened once and kept: creating and closing the named mutex around every line costs two more
  // kernel calls per line. A failed creation is tried again with the next line.
  HANDLE Mutex() {
    if (!mutex_) mutex_.reset(::CreateMutexA(nullptr, FALSE, kLogMutexName));
    return mutex_.get();
  }

  void WriteLine(LogLevel level, std::string_view message) {
    if (path_.empty() || message.empty()) return;
    if (counter_.NextLineChecksSize()) RotateIfLarge();
    if (!stream_) {
      stream_ = OpenShared(path_, "a");
      if (!stream_) return;  // this line is lost; the next one tries again
    }
    RefreshCaches();
    const std::string line = FormatLogLine(timestamp_text_, thread_text_, level, message);
    std::fwrite(line.data(), 1, line.size(), stream_.get());
    std::fputc('\n', stream_.get());
    std::fflush(stream_.get());
  }

  void RotateIfLarge() {
    const int64_t size = QueryFileSize(path_);
    if (size < kLogRotateSize) return;  // also -1: size unknown
    stream_.reset();
    for (int n = kLogBackupCount - 1; n >= 0; --n) {
      const std::string source = LogBackupPath(path_, n);
      const DWORD attributes = ::GetFileAttributesA(source.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        continue;
      }
      ::CopyFileA(source.c_str(), LogBackupPath(path_, n + 1).c_str(), FALSE);
    }
    OpenShared(path_, "w");  // truncates; closed at once, reopened for appending by the caller
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
  std::string file_name_;
  std::string path_;  // set only when the first open succeeded; empty means disabled
  UniqueFile stream_;
  RotationCounter counter_;
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
