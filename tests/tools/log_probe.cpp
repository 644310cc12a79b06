// log_probe.exe: a process that uses the program's log the way app_varnok.exe does, for the Wine
// tests of the log's cross-process behaviour.
//   append <count> <tag>   names the log like the program and writes <count> INFO lines
//   append-after-chdir <dir> <count> <tag>  the same, moving to <dir> after the first line
//   append-long <count> <bytes> <tag>  the same with lines that carry <bytes> more characters
//   hold <ms>              holds the log mutex for <ms>, then releases it
//   hold-forever           holds the log mutex until killed (the mutex is then abandoned)
//   hold-with-dacl <ms> <sddl>  creates the log mutex first (its global and its session name),
//                          with that DACL, and holds it
//   inventory              reads the Uninstall rows like the program and prints their count
//   file-version <path>    reads a file's version like the program
//   lock-file <path>       opens the file without any sharing and keeps it open until killed
//   sessions <exe>         lists sessions and starts <exe> in session 1 like the program would
// The hold modes signal the named event "varnok_probe_ready" once they own the mutex.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "inventory/inventory.h"
#include "inventory/system_registry.h"
#include "log/log.h"
#include "process/user_session.h"
#include "uninstall/shared_uninstaller.h"
#include "win32/unique_handle.h"

namespace {

// As one of the agent's writers in session 0 would, where the plain name "fmprereq" is the
// global object; `sddl` (optional) is the DACL it is created with.
int HoldMutex(DWORD ms, const char* sddl = nullptr) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sddl && !ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                    &descriptor, nullptr)) {
    return 5;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  varnok::win32::UniqueHandle mutex(
      CreateMutexA(descriptor ? &attributes : nullptr, FALSE, "Global\\fmprereq"));
  // With a DACL, the session's own name is taken too, as a user in the same session could.
  varnok::win32::UniqueHandle session_mutex(
      descriptor ? CreateMutexA(&attributes, FALSE, "fmprereq") : nullptr);
  if (descriptor) LocalFree(descriptor);
  varnok::win32::UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, "varnok_probe_ready"));
  if (!mutex || !ready) return 3;
  varnok::win32::MutexLock lock(mutex.get(), INFINITE);
  if (!lock.acquired()) return 4;
  SetEvent(ready.get());
  Sleep(ms);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "append" && argc > 3) {
    varnok::SetLogFileName(varnok::kLogFileName);
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) varnok::LogInfo("probe : %s; line : %d;", argv[3], i);
    return 0;
  }
  if (mode == "append-long" && argc > 4) {
    varnok::SetLogFileName(varnok::kLogFileName);
    const int count = std::atoi(argv[2]);
    const std::string filler(static_cast<size_t>(std::atoi(argv[3])), 'f');
    for (int i = 0; i < count; ++i) {
      varnok::LogInfo("probe : %s; line : %d; filler : %s;", argv[4], i, filler.c_str());
    }
    return 0;
  }
  if (mode == "append-after-chdir" && argc > 4) {
    // One line in the first current directory, then the rest after moving away from it, as the
    // program does around every launch.
    varnok::SetLogFileName(varnok::kLogFileName);
    varnok::LogInfo("probe : %s; line : %d;", argv[4], 0);
    if (!SetCurrentDirectoryA(argv[2])) return 6;
    const int count = std::atoi(argv[3]);
    for (int i = 1; i < count; ++i) varnok::LogInfo("probe : %s; line : %d;", argv[4], i);
    return 0;
  }
  if (mode == "inventory") {
    varnok::SetLogFileName(varnok::kLogFileName);
    const auto entries = varnok::GetUninstallEntries(varnok::SystemRegistry(), false);
    std::printf("%zu\n", entries.size());
    return 0;
  }
  if (mode == "file-version" && argc > 2) {
    varnok::SetLogFileName(varnok::kLogFileName);
    std::printf("%s\n", varnok::GetFileVersion(argv[2]).c_str());
    return 0;
  }
  if (mode == "sessions" && argc > 2) {
    varnok::GetActiveUserSessions();
    return varnok::CreateProcessInUserSession("\"" + std::string(argv[2]) + "\"", 60000, 1, argv[2],
                                              "winsta0\\default", std::nullopt);
  }
  if (mode == "lock-file" && argc > 2) {
    varnok::win32::UniqueFileHandle file(CreateFileA(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    varnok::win32::UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, "varnok_probe_ready"));
    if (!file || !ready) return 3;
    SetEvent(ready.get());
    Sleep(INFINITE);
    return 0;
  }
  if (mode == "hold" && argc > 2) return HoldMutex(static_cast<DWORD>(std::atol(argv[2])));
  if (mode == "hold-forever") return HoldMutex(INFINITE);
  if (mode == "hold-with-dacl" && argc > 3) {
    return HoldMutex(static_cast<DWORD>(std::atol(argv[2])), argv[3]);
  }
  std::fprintf(stderr, "usage: log_probe append <count> <tag> | append-long <count> <bytes> <tag> | append-after-chdir <dir> <count> <tag> | hold <ms> | hold-forever | hold-with-dacl <ms> <sddl> | inventory | file-version <path> | lock-file <path> | sessions <exe>\n");
  return 2;
}
