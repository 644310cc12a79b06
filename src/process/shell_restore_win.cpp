#include <windows.h>
#include <tlhelp32.h>
#include <versionhelpers.h>

#include <cstddef>
#include <cstring>
#include <memory>

#include "log/log.h"
#include "process/process_launch.h"
#include "process/shell_restore.h"
#include "win32/grown_text.h"
#include "win32/text.h"
#include "win32/system_library.h"
#include "win32/unique_handle.h"

namespace varnok {
namespace {

// Calls `visit` with each process other than this one; false when the list cannot be read.
template <typename Visit>
bool ForEachOtherProcess(Visit visit) {
  win32::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  const DWORD self = ::GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID != self) visit(entry);
  }
  return true;
}

// mingw-w64's headers lack the extended session information.
constexpr int kWtsSessionInfoEx = 25;  // WTS_INFO_CLASS
constexpr LONG kWtsSessionStateLock = 0;
constexpr LONG kWtsSessionStateUnlock = 1;
struct WtsInfoExLevel1W {
  ULONG SessionId;
  DWORD SessionState;  // WTS_CONNECTSTATE_CLASS
  LONG SessionFlags;   // kWtsSessionStateLock, kWtsSessionStateUnlock, or unknown (-1)
  WCHAR WinStationName[33];
  WCHAR UserName[21];
  WCHAR DomainName[18];
  LARGE_INTEGER LogonTime, ConnectTime, DisconnectTime, LastInputTime, CurrentTime;
  DWORD IncomingBytes, OutgoingBytes, IncomingFrames, OutgoingFrames;
  DWORD IncomingCompressedBytes, OutgoingCompressedBytes;
};
struct WtsInfoExW {
  DWORD Level;
  union {
    WtsInfoExLevel1W WTSInfoExLevel1;
  } Data;
};
using WTSQuerySessionInformationWFn = BOOL(WINAPI*)(HANDLE, DWORD, int, LPWSTR*, DWORD*);
using WTSFreeMemoryFn = void(WINAPI*)(PVOID);

// The connect state and lock of a session; both unknown when they cannot be read.
void ReadSessionState(unsigned long session_id, SessionPhase* phase) {
  const win32::UniqueModule wtsapi = win32::LoadSystemLibrary("wtsapi32.dll");
  const auto query =
      win32::GetProc<WTSQuerySessionInformationWFn>(wtsapi, "WTSQuerySessionInformationW");
  const auto free_memory = win32::GetProc<WTSFreeMemoryFn>(wtsapi, "WTSFreeMemory");
  if (!query || !free_memory) return;
  LPWSTR buffer = nullptr;
  DWORD bytes = 0;
  // WTS_CURRENT_SERVER_HANDLE: this machine.
  if (!query(nullptr, session_id, kWtsSessionInfoEx, &buffer, &bytes)) return;
  const std::unique_ptr<wchar_t, WTSFreeMemoryFn> owned(buffer, free_memory);
  if (!buffer) return;
  const auto* info = reinterpret_cast<const WtsInfoExW*>(buffer);
  const WtsInfoExLevel1W& level1 = info->Data.WTSInfoExLevel1;
  if (bytes >= offsetof(WtsInfoExW, Data) + offsetof(WtsInfoExLevel1W, WinStationName) &&
      info->Level == 1 && level1.SessionId == session_id) {
    phase->connect_state = static_cast<int>(level1.SessionState);
    // Windows 7 and Server 2008 R2 report the two lock flags the wrong way round.
    const bool reversed = !::IsWindows8OrGreater();
    if (level1.SessionFlags == kWtsSessionStateLock) {
      phase->lock = reversed ? SessionPhase::Lock::kUnlocked : SessionPhase::Lock::kLocked;
    } else if (level1.SessionFlags == kWtsSessionStateUnlock) {
      phase->lock = reversed ? SessionPhase::Lock::kLocked : SessionPhase::Lock::kUnlocked;
    }
  }
}

}  // namespace

bool IsProcessRunning(const std::string& name) {
  bool found = false;
  const std::wstring wide = win32::Wide(name);
  ForEachOtherProcess([&](const PROCESSENTRY32W& entry) {
    found = found || _wcsicmp(entry.szExeFile, wide.c_str()) == 0;
  });
  return found;
}

std::set<unsigned long> SessionsWithShell() {
  std::set<unsigned long> sessions;
  ForEachOtherProcess([&](const PROCESSENTRY32W& entry) {
    DWORD session = 0;
    if (_wcsicmp(entry.szExeFile, L"explorer.exe") == 0 &&
        ::ProcessIdToSessionId(entry.th32ProcessID, &session)) {
      sessions.insert(session);
    }
  });
  return sessions;
}

SessionPhase ReadSessionPhase(unsigned long session_id) {
  SessionPhase phase;
  ReadSessionState(session_id, &phase);
  ForEachOtherProcess([&](const PROCESSENTRY32W& entry) {
    const bool userinit = _wcsicmp(entry.szExeFile, L"userinit.exe") == 0;
    const bool logon_ui = _wcsicmp(entry.szExeFile, L"LogonUI.exe") == 0;
    DWORD session = 0;
    if ((userinit || logon_ui) && ::ProcessIdToSessionId(entry.th32ProcessID, &session) &&
        session == session_id) {
      phase.userinit = phase.userinit || userinit;
      phase.logon_ui = phase.logon_ui || logon_ui;
    }
  });
  return phase;
}

std::string RealWindowsDirectory() {
  std::string directory = win32::ReadGrownText(
      [](wchar_t* buffer, DWORD chars) { return ::GetSystemWindowsDirectoryW(buffer, chars); });
  if (!directory.empty() && directory.back() == '\\') directory.pop_back();
  return directory;
}

void StartShellHere() {
  const std::string shell = RealWindowsDirectory() + "\\explorer.exe";
  // The path is handed over as the application name too, so that Windows never searches for it.
  ExecuteFile("\"" + shell + "\"", shell, "", 0);
}

}  // namespace varnok
