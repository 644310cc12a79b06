#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

#include "log/log.h"
#include "process/process_launch.h"
#include "process/shell_restore.h"
#include "win32/grown_text.h"
#include "win32/text.h"
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
