#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

#include "log/log.h"
#include "process/process_launch.h"
#include "process/shell_restore.h"
#include "win32/unique_handle.h"

namespace varnok {

bool IsProcessRunning(const std::string& name) {
  win32::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  const DWORD self = ::GetCurrentProcessId();
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
       more = ::Process32Next(snapshot.get(), &entry)) {
    if (entry.th32ProcessID != self && _stricmp(entry.szExeFile, name.c_str()) == 0) return true;
  }
  return false;
}

void RestoreDesktopShell() {
  if (IsProcessRunning("explorer.exe")) return;
  LogInfo("operation : RestoreDesktopShell; remarks : \"explorer.exe is not running. Starting it.\";");
  char windows[MAX_PATH] = {};
  ::GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string shell = std::string(windows) + "\\explorer.exe";
  // The path is handed over as the application name too, so that Windows never searches for it.
  ExecuteFile("\"" + shell + "\"", shell, "", 0);
}

}  // namespace varnok
