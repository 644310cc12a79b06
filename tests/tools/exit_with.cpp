// exit_with.exe <code> [options]: a stand-in uninstaller for the Wine tests.
//   <code>          exit code (decimal, may be negative); "crash" dereferences null instead
//   --cwd <file>    first writes the current directory into <file>
//   --argv0 <file>  first writes the first word of its command line, as it received it
//   --sleep <ms>    first sleeps (use a huge value for a program that never ends)
//   --env <name> <file>  first writes the variable's value (or "<unset>") into <file>
//   --delete-row <HKLM64|HKLM32|HKCU> <key>  first deletes that Uninstall row, as an uninstaller does
//   --delete-file <path>  first tries to delete a file
//   --kill-explorer       first ends every explorer.exe, as some uninstallers do
//   --count <file>        first appends one line to <file>, so that a test can count the runs
//   --child "<args>"      first starts another exit_with.exe with <args>, not waited for
//   --message-box <title> first shows a message box and waits until someone answers it
//   --busy-window <title> <ms>  first shows a window and keeps the CPU busy for <ms>, as a
//                         progress window does
//   --hold-mutex <name> <ms>  first takes the named mutex, holds it for <ms>, releases it
//   --hidden-dialog <title> <ms>  first creates a dialog box that it never shows, and waits
//                         idle for <ms>, as a program started with a hide flag does
//   --zero-window <title> <ms>  first shows a captioned window of no size and waits idle
//   --hold-mutex-dacl <name> <sddl> <ms>  the same, the mutex created with that DACL
//   --hold-event <name> <ms>  first creates the named event and keeps it for <ms>
//   --first-run <file> <code>  when <file> does not exist yet: creates it and exits <code> at once
#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void WriteText(const char* path, const std::string& text) {
  if (FILE* f = std::fopen(path, "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

void KillExplorer() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (_stricmp(entry.szExeFile, "explorer.exe") != 0) continue;
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  }
  CloseHandle(snapshot);
}

void StartChild(const std::string& arguments) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string line = "\"" + std::string(self) + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                     nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcA(window, message, w, l);
}

// Pumps messages, doing nothing else, for `ms`.
void IdleFor(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - GetTickCount64()), QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
}

void IdleWindow(const char* class_name, const char* title, DWORD style, int width, int height,
                DWORD ms) {
  HWND window = CreateWindowExA(0, class_name, title, style, 100, 100, width, height, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  IdleFor(ms);
  if (window) DestroyWindow(window);
}

void BusyWindow(const char* title, DWORD ms) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = WindowProcedure;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "ExitWithProgress";
  RegisterClassA(&window_class);
  HWND window = CreateWindowExA(0, window_class.lpszClassName, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                0, 0, 300, 100, nullptr, nullptr, window_class.hInstance, nullptr);
  const ULONGLONG end = GetTickCount64() + ms;
  volatile unsigned long long work = 0;
  while (GetTickCount64() < end) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    for (int i = 0; i < 100000; ++i) work = work + i;
  }
  if (window) DestroyWindow(window);
}

void HoldMutex(const char* name, const char* sddl, const char* ms) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sddl) ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HANDLE mutex = CreateMutexA(descriptor ? &attributes : nullptr, TRUE, name);
  if (descriptor) LocalFree(descriptor);
  Sleep(static_cast<DWORD>(std::strtoul(ms, nullptr, 10)));
  if (mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--cwd" && i + 1 < argc) {
      char dir[MAX_PATH] = {};
      GetCurrentDirectoryA(MAX_PATH, dir);
      WriteText(argv[++i], dir);
    } else if (option == "--argv0" && i + 1 < argc) {
      WriteText(argv[++i], argv[0]);
    } else if (option == "--sleep" && i + 1 < argc) {
      Sleep(static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10)));
    } else if (option == "--delete-row" && i + 2 < argc) {
      const std::string where = argv[i + 1];
      const HKEY root = where == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
      const REGSAM view = where == "HKLM64" ? KEY_WOW64_64KEY : where == "HKLM32" ? KEY_WOW64_32KEY : 0;
      HKEY uninstall = nullptr;
      if (RegOpenKeyExA(root, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                        KEY_ALL_ACCESS | view, &uninstall) == ERROR_SUCCESS) {
        RegDeleteKeyExA(uninstall, argv[i + 2], view, 0);
        RegCloseKey(uninstall);
      }
      i += 2;
    } else if (option == "--delete-file" && i + 1 < argc) {
      DeleteFileA(argv[++i]);
    } else if (option == "--count" && i + 1 < argc) {
      if (FILE* f = std::fopen(argv[++i], "ab")) {
        std::fputs("run\n", f);
        std::fclose(f);
      }
    } else if (option == "--child" && i + 1 < argc) {
      StartChild(argv[++i]);
    } else if (option == "--message-box" && i + 1 < argc) {
      MessageBoxA(nullptr, "Remove the product and all its data?", argv[++i], MB_YESNO);
    } else if (option == "--busy-window" && i + 2 < argc) {
      BusyWindow(argv[i + 1], static_cast<DWORD>(std::strtoul(argv[i + 2], nullptr, 10)));
      i += 2;
    } else if (option == "--hidden-dialog" && i + 2 < argc) {
      IdleWindow("#32770", argv[i + 1], WS_POPUP | WS_CAPTION | WS_SYSMENU, 300, 120,
                 static_cast<DWORD>(std::strtoul(argv[i + 2], nullptr, 10)));
      i += 2;
    } else if (option == "--zero-window" && i + 2 < argc) {
      WNDCLASSA window_class{};
      window_class.lpfnWndProc = WindowProcedure;
      window_class.hInstance = GetModuleHandleA(nullptr);
      window_class.lpszClassName = "ExitWithNothing";
      RegisterClassA(&window_class);
      IdleWindow("ExitWithNothing", argv[i + 1], WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0,
                 static_cast<DWORD>(std::strtoul(argv[i + 2], nullptr, 10)));
      i += 2;
    } else if (option == "--hold-mutex" && i + 2 < argc) {
      HoldMutex(argv[i + 1], nullptr, argv[i + 2]);
      i += 2;
    } else if (option == "--hold-mutex-dacl" && i + 3 < argc) {
      HoldMutex(argv[i + 1], argv[i + 2], argv[i + 3]);
      i += 3;
    } else if (option == "--hold-event" && i + 2 < argc) {
      HANDLE event = CreateEventA(nullptr, TRUE, FALSE, argv[i + 1]);
      Sleep(static_cast<DWORD>(std::strtoul(argv[i + 2], nullptr, 10)));
      if (event) CloseHandle(event);
      i += 2;
    } else if (option == "--first-run" && i + 2 < argc) {
      HANDLE mark = CreateFileA(argv[i + 1], GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      if (mark != INVALID_HANDLE_VALUE) {
        CloseHandle(mark);
        return static_cast<int>(std::strtol(argv[i + 2], nullptr, 10));
      }
      i += 2;
    } else if (option == "--kill-explorer") {
      KillExplorer();
    } else if (option == "--env" && i + 2 < argc) {
      const char* value = std::getenv(argv[i + 1]);
      WriteText(argv[i + 2], value ? value : "<unset>");
      i += 2;
    }
  }
  if (std::string(argv[1]) == "crash") {
    volatile int* null_pointer = nullptr;
    return *null_pointer;
  }
  return static_cast<int>(std::strtol(argv[1], nullptr, 10));
}
