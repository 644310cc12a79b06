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
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
       more = ::Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ProcessID != self) visit(entry);
  }
  return true;
}

// mingw-w64's headers lack the extended session information.
constexpr int kWtsSessionInfoEx = 25;  // WTS_INFO_CLASS
constexpr LONG kWtsSessionStateLock = 0;
constexpr LONG kWtsSessionStateUnlock = 1;
struct WtsInfoExLevel1A {
  ULONG SessionId;
  DWORD SessionState;  // WTS_CONNECTSTATE_CLASS
  LONG SessionFlags;   // kWtsSessionStateLock, kWtsSessionStateUnlock, or unknown (-1)
  CHAR WinStationName[33];
  CHAR UserName[21];
  CHAR DomainName[18];
  LARGE_INTEGER LogonTime, ConnectTime, DisconnectTime, LastInputTime, CurrentTime;
  DWORD IncomingBytes, OutgoingBytes, IncomingFrames, OutgoingFrames;
  DWORD IncomingCompressedBytes, OutgoingCompressedBytes;
};
struct WtsInfoExA {
  DWORD Level;
  union {
    WtsInfoExLevel1A WTSInfoExLevel1;
  } Data;
};
using WTSQuerySessionInformationAFn = BOOL(WINAPI*)(HANDLE, DWORD, int, LPSTR*, DWORD*);
using WTSFreeMemoryFn = void(WINAPI*)(PVOID);

// The connect state and lock of a session; both unknown when they cannot be read.
void ReadSessionState(unsigned long session_id, SessionPhase* phase) {
  const win32::UniqueModule wtsapi = win32::LoadSystemLibrary("wtsapi32.dll");
  const auto query =
      win32::GetProc<WTSQuerySessionInformationAFn>(wtsapi, "WTSQuerySessionInformationA");
  const auto free_memory = win32::GetProc<WTSFreeMemoryFn>(wtsapi, "WTSFreeMemory");
  if (!query || !free_memory) return;
  LPSTR buffer = nullptr;
  DWORD bytes = 0;
  // WTS_CURRENT_SERVER_HANDLE: this machine.
  if (!query(nullptr, session_id, kWtsSessionInfoEx, &buffer, &bytes)) return;
  const std::unique_ptr<char, WTSFreeMemoryFn> owned(buffer, free_memory);
  if (!buffer) return;
  const auto* info = reinterpret_cast<const WtsInfoExA*>(buffer);
  const WtsInfoExLevel1A& level1 = info->Data.WTSInfoExLevel1;
  if (bytes >= offsetof(WtsInfoExA, Data) + offsetof(WtsInfoExLevel1A, WinStationName) &&
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
  ForEachOtherProcess([&](const PROCESSENTRY32& entry) {
    found = found || _stricmp(entry.szExeFile, name.c_str()) == 0;
  });
  return found;
}

std::set<unsigned long> SessionsWithShell() {
  std::set<unsigned long> sessions;
  ForEachOtherProcess([&](const PROCESSENTRY32& entry) {
    DWORD session = 0;
    if (_stricmp(entry.szExeFile, "explorer.exe") == 0 &&
        ::ProcessIdToSessionId(entry.th32ProcessID, &session)) {
      sessions.insert(session);
    }
  });
  return sessions;
}

SessionPhase ReadSessionPhase(unsigned long session_id) {
  SessionPhase phase;
  ReadSessionState(session_id, &phase);
  ForEachOtherProcess([&](const PROCESSENTRY32& entry) {
    const bool userinit = _stricmp(entry.szExeFile, "userinit.exe") == 0;
    const bool logon_ui = _stricmp(entry.szExeFile, "LogonUI.exe") == 0;
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
      [](char* buffer, DWORD chars) { return ::GetSystemWindowsDirectoryA(buffer, chars); });
  if (!directory.empty() && directory.back() == '\\') directory.pop_back();
  return directory;
}

void StartShellHere() {
  const std::string shell = RealWindowsDirectory() + "\\explorer.exe";
  // The path is handed over as the application name too, so that Windows never searches for it.
  ExecuteFile("\"" + shell + "\"", shell, "", 0);
}

}  // namespace varnok
