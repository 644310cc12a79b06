// procs.exe <image name>...: how many processes run with each image name (ignoring case), as
// "<name>=<count>" lines and a last line "total=<n>". The corpus bench counts with it what an
// uninstaller left running.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>

int main(int argc, char** argv) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  int total = 0;
  for (int i = 1; i < argc; ++i) {
    int count = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
      if (_stricmp(entry.szExeFile, argv[i]) == 0) ++count;
    }
    std::printf("%s=%d\n", argv[i], count);
    total += count;
  }
  CloseHandle(snapshot);
  std::printf("total=%d\n", total);
  return 0;
}
